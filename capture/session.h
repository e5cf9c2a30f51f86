#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/disk_file.h"
#include "base/file_identity.h"
#include "capture/ini_file.h"
#include "capture/job.h"
#include "capture/job_features.h"
#include "capture/job_file_names.h"
#include "capture/job_settings.h"
#include "capture/open_files.h"
#include "net/wsocket.h"

// The receive buffer the capture monitor shares among all its sessions: one
// receive never takes more than this. It is what one read notification may
// take, so a fast peer costs one receive, one open, one write and one close
// per notification.
constexpr std::size_t kReceiveBufferSize = kMaxBytesPerReadNotification;
using TReceiveBuffer = std::array<char, kReceiveBufferSize>;

// One accepted connection together with the file that receives its bytes.
// The monitor prepares it from the port's definition, hands it the accepted
// handle, and calls it for every chunk and once more when the connection ends.
// Its job (TJob) holds the facts from the accept on and becomes the
// finished-job record.
class TClient : public TCustomWSocket {
 public:
  // Port definitions are read from the settings file at settingsPath when
  // the caller does not hand them over.
  explicit TClient(std::string settingsPath);

  // Port, folder, file, options in force, bytes, cut and failure so far.
  TJob Job;
  // Full path of the capture file, fixed at preparation: the job's file.
  const std::string& FileName() const { return Job.FileName; }
  // The port definition's day count, converted at preparation; kept only.
  int16_t Days = 0;
  // Bound to the job's file; opened and closed within each operation, so
  // other programs can read the capture while the connection lasts.
  DiskFile CaptureFile;
  // The file the preparation opened; none until then.
  std::optional<TFileIdentity> FileIdentity;
  // What answers the peer's queries; none for most jobs, whose peers never
  // get a byte.
  std::unique_ptr<TJobConversation> Conversation;

  // Names one preparation may find taken one after another before it gives
  // up: another program racing for every name is a fault, not a busy port.
  static constexpr int kMaxRefusedNames = 1000;

  // Reads the port's definition and the [Jobs] options afresh, then
  // prepares as below.
  void PrepareCapture(std::string_view portText, const TOpenFiles& openFiles = TOpenFiles());
  // Fixes Days and the job's file from the definition the settings hold for
  // the job's port, with the job's options, creates the missing directories
  // and creates, empties or keeps the capture file. Overwrite never empties
  // a file that one of openFiles is still writing: that job's bytes would be
  // lost, so this one appends. With one file per job the file is new, its
  // number taken from fileNames. Raises "'%s' is not a valid integer value"
  // for a Days text that is no number (nothing created), "Unable to create
  // directory" for an empty directory part, "No free file name from %s to
  // %s" when one file per job finds every name it tries taken, and the I/O
  // failures of the file.
  void PrepareCapture(const TIniSnapshot& settings, const TOpenFiles& openFiles,
                      TJobFileNames& fileNames);
  // One receive of at most the buffer's size, stored at the end of the
  // capture file; never more than the job's size limit leaves room for. At
  // the limit, a further byte that arrives is not stored and cuts the job.
  // A failed receive stores nothing; the file is opened and closed all the
  // same. What was stored goes to the conversation, if any, and its answer
  // to the peer at once, never waiting for the peer to read it. Raises the
  // I/O failures of the file.
  void AppendChunk(TReceiveBuffer& buffer);
  // The program ends with the job still open: its file's size as it stands,
  // and the outcome Ended unless a failure decided it.
  void SettleAtProgramEnd();
  // The capture file's current size in bytes.
  int64_t CaptureSize();
  // Deletes the capture file.
  void DeleteCapture();
  // Deletes the capture file when it is empty; a file that cannot be sized
  // (never made, or no file at all) stays as it is.
  void DeleteIfEmpty();

 private:
  void OpenSharedName(bool overwrite, const TOpenFiles& openFiles);
  void OpenFreshName(const std::string& stem, TJobFileNames& fileNames);
  void TakeOverLimit(TReceiveBuffer& buffer);
  void StoreChunk(TReceiveBuffer& buffer, std::size_t most);
  void Answer(std::string_view received);

  std::string settingsPath_;
};
