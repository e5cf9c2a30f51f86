#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/disk_file.h"
#include "base/file_identity.h"
#include "capture/job_settings.h"
#include "capture/open_files.h"
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
  // The listener's port text, fixed at preparation.
  std::string Port;
  // The port's folder with its separator, fixed at preparation.
  std::string Directory;
  // The file the preparation opened; none until then.
  std::optional<TFileIdentity> FileIdentity;
  // The [Jobs] options in force when the job began.
  TJobSettings Jobs;
  // When the connection was adopted, for the finished-job record.
  std::chrono::system_clock::time_point StartedAt;
  // The first failure while the job ran (a lost chunk); empty when none.
  std::string Failure;

  // Names tried for one job before its preparation gives up.
  static constexpr int kMaxJobFileTries = 9999;

  // Reads the port's definition and the [Jobs] options afresh, fixes Days
  // and FileName, creates the missing directories and creates, empties or
  // keeps the capture file. Overwrite never empties a file that one of
  // openFiles is still writing: that job's bytes would be lost, so this one
  // appends. Raises "'%s' is not a valid integer value" for a Days text that
  // is no number (nothing created), "Unable to create directory" for an
  // empty directory part, "No free file name from %s to %s" when one file per
  // job finds every name taken, and the I/O failures of the file.
  void PrepareCapture(std::string_view portText, const TOpenFiles& openFiles = TOpenFiles());
  // The same with [Jobs] options the caller has already read.
  void PrepareCapture(std::string_view portText, const TOpenFiles& openFiles,
                      const TJobSettings& jobs);
  // One receive of at most the buffer's size, every byte of it stored at the
  // end of the capture file. A failed receive stores nothing; the file is
  // opened and closed all the same. Raises the I/O failures of the file.
  void AppendChunk(TReceiveBuffer& buffer);

  // Bytes this job has stored, and whether its size limit cut it.
  int64_t StoredBytes = 0;
  bool Cut = false;
  // AppendChunk receiving no more than the job's size limit leaves room for;
  // sets Cut when the limit is reached.
  void AppendChunkWithinLimit(TReceiveBuffer& buffer);
  // The capture file's current size in bytes.
  int64_t CaptureSize();
  // Deletes the capture file.
  void DeleteCapture();

 private:
  void OpenSharedName(bool overwrite, const TOpenFiles& openFiles);
  void OpenFirstFreeName(const std::string& stem);
  void StoreChunk(TReceiveBuffer& buffer, std::size_t most);

  std::string settingsPath_;
};
