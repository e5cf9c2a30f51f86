#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/disk_file.h"
#include "net/wsocket.h"

// The receive buffer the capture monitor shares among all its sessions: one
// receive never takes more than this. It matches what one read notification
// may take, so a fast peer costs one receive, one open, one write and one
// close per notification.
constexpr std::size_t kReceiveBufferSize = 256 * 1024;
using TReceiveBuffer = std::array<char, kReceiveBufferSize>;

// One accepted connection together with the file that receives its bytes.
// The monitor prepares it from the port's definition, hands it the accepted
// handle, and calls it for every chunk and once more when the connection ends.
class TClient : public TCustomWSocket {
 public:
  // Port definitions are read from the settings file at settingsPath.
  explicit TClient(std::string settingsPath);

  // The port definition's day count, converted at preparation; kept only.
  int16_t Days = 0;
  // Full path of the capture file, fixed at preparation.
  std::string FileName;
  // Bound to FileName; opened and closed within each operation, so other
  // programs can read the capture while the connection lasts.
  DiskFile CaptureFile;

  // Reads the port's definition afresh, fixes Days and FileName, creates the
  // missing directories and creates, empties or keeps the capture file.
  // Raises "'%s' is not a valid integer value" for a Days text that is no
  // number (nothing created), "Unable to create directory" for an empty
  // directory part, and the I/O failures of the file.
  void PrepareCapture(std::string_view portText);
  // One receive of at most the buffer's size, every byte of it stored at the
  // end of the capture file. A failed receive stores nothing; the file is
  // opened and closed all the same. Raises the I/O failures of the file.
  void AppendChunk(TReceiveBuffer& buffer);
  // The capture file's current size in bytes.
  int64_t CaptureSize();
  // Deletes the capture file.
  void DeleteCapture();

 private:
  std::string settingsPath_;
};
