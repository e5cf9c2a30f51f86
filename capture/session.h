#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

class TClient;

// What the monitor does for a session whose protocol frames several captures
// on one connection: each is prepared, held and reported as a raw job's
// capture is, one at a time.
class TFramedCaptureHost {
 public:
  // Prepares the session's next capture (PrepareNextCapture) and holds its
  // file; raises what preparing raises.
  virtual void PrepareFramedCapture(TClient& session) = 0;
  // The session's capture file is written no more.
  virtual void ReleaseFramedCapture(TClient& session) = 0;
  // A capture whose job is over: its size line and its record. file is the
  // file the preparation opened; controlFile what the sender said of the job.
  virtual void FramedCaptureFinished(TJob& capture, const std::optional<TFileIdentity>& file,
                                     std::string_view controlFile) = 0;
  // A write into the capture failed; its bytes are lost.
  virtual void FramedCaptureFailed(const std::exception& failure) = 0;
  // The protocol refused the peer's input: its line for the log.
  virtual void FramedInputRefused(TClient& session, const std::string& line) = 0;

 protected:
  ~TFramedCaptureHost() = default;
};

// One accepted connection together with the file that receives its bytes.
// The monitor prepares it from the port's definition, hands it the accepted
// handle, and calls it for every chunk and once more when the connection ends.
// Its job (TJob) holds the facts from the accept on and becomes the
// finished-job record.
//
// A port whose protocol frames its jobs (FrameJobs) prepares no file at the
// accept: the protocol says where each capture begins and ends, and Job is
// then the capture being received, or the connection's facts between two.
class TClient : public TCustomWSocket, private TJobFrames {
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
  // From now on the connection's bytes go to protocol, which frames the
  // captures; portDefinition is the port's definition as the accept read
  // it, for every capture of the connection.
  void FrameJobs(std::unique_ptr<TJobProtocol> protocol, std::string portDefinition,
                 TFramedCaptureHost& host);
  bool Framed() const { return protocol_ != nullptr; }
  // The protocol has nothing more to say or take on this connection.
  bool WantsClose() const { return protocol_ && protocol_->WantsClose(); }
  // Prepares a framed connection's next capture, as PrepareCapture does.
  void PrepareNextCapture(const TOpenFiles& openFiles, TJobFileNames& fileNames);
  // The connection ended: the protocol ends what was open, and every capture
  // gets its record.
  void EndFrames();
  // The program ends: the records of the captures not reported yet, the one
  // still open settled as at the program's end.
  std::vector<TJob> FramedCapturesAtProgramEnd();
  // Stores what the sender said of the job beside the capture, as
  // "<capture>.cf". Raises the I/O failures of the file.
  static void KeepControlFile(const TJob& capture, std::string_view controlFile);

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
  // The size of the file named; raises when it cannot be taken.
  static int64_t FileSize(const std::string& fileName);
  // Deletes the capture file.
  void DeleteCapture();
  // Deletes the capture file when it is empty; a file that cannot be sized
  // (never made, or no file at all) stays as it is.
  void DeleteIfEmpty();

 private:
  // A capture of a framed connection that ended and awaits its job's end.
  struct TFramedCapture {
    TJob job;
    std::optional<TFileIdentity> file;
  };

  void PrepareFrom(const std::string& portDefinition, const TOpenFiles& openFiles,
                   TJobFileNames& fileNames);
  void ReceiveFramed(TReceiveBuffer& buffer);
  void Reply(std::string_view bytes) override;
  void BeginCapture() override;
  void CaptureBytes(std::string_view bytes) override;
  void EndCapture(bool complete) override;
  void EndJob(const std::vector<TCaptureLabels>& captures) override;
  void Refused(const std::string& line) override;
  void OpenSharedName(bool overwrite, const TOpenFiles& openFiles);
  void OpenFreshName(const std::string& stem, TJobFileNames& fileNames);
  void TakeOverLimit(TReceiveBuffer& buffer);
  void StoreChunk(TReceiveBuffer& buffer, std::size_t most);
  void Answer(std::string_view received);

  std::string settingsPath_;
  std::unique_ptr<TJobProtocol> protocol_;
  std::string portDefinition_;
  TFramedCaptureHost* framesHost_ = nullptr;
  // The connection's facts, which every capture of a framed one starts from.
  TJob connection_;
  bool captureOpen_ = false;
  std::vector<TFramedCapture> endedCaptures_;
};
