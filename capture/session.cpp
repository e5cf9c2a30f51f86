#include "capture/session.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <utility>

#include "base/exceptions.h"
#include "base/paths.h"
#include "base/text.h"
#include "capture/date_pattern.h"
#include "capture/port_definition.h"

namespace {

// The capture file's path without ".txt": the directory with its separator
// and the trimmed name pattern rendered at the moment of acceptance.
std::string CaptureFileStem(const TPortDefinition& definition, double acceptedAt) {
  return IncludeSeparator(definition.Directory) +
         FormatDatePattern(TrimBlanks(definition.FileFormat), acceptedAt);
}

// A file whose write failed is let go without a close that could raise a
// second failure over the first.
void WriteAndClose(DiskFile& file, std::string_view bytes) {
  try {
    if (!bytes.empty()) file.PutText(bytes);
  } catch (...) {
    file.Abandon();
    throw;
  }
  file.CloseOut();
}

TJobLabels FitLabels(const TJobLabels& labels) {
  return {FitLabel(labels.Queue), FitLabel(labels.JobName), FitLabel(labels.SourceName),
          FitLabel(labels.User), FitLabel(labels.Host)};
}

}  // namespace

TClient::TClient(std::string settingsPath) : settingsPath_(std::move(settingsPath)) {}

void TClient::PrepareCapture(std::string_view portText, const TOpenFiles& openFiles) {
  // Read at every connection, so an edit by another program applies to the
  // next connection without a restart.
  const TIniSnapshot settings = TIniFile(settingsPath_).Load();
  Job.Port = std::string(portText);
  Job.Options = TJobSettings::Read(settings, portText);
  TJobFileNames fileNames;
  PrepareCapture(settings, openFiles, fileNames);
}

void TClient::PrepareCapture(const TIniSnapshot& settings, const TOpenFiles& openFiles,
                             TJobFileNames& fileNames) {
  PrepareFrom(settings.ReadText(kPortsSection, Job.Port, ""), openFiles, fileNames);
}

void TClient::PrepareNextCapture(const TOpenFiles& openFiles, TJobFileNames& fileNames) {
  PrepareFrom(portDefinition_, openFiles, fileNames);
}

void TClient::PrepareFrom(const std::string& portDefinition, const TOpenFiles& openFiles,
                          TJobFileNames& fileNames) {
  Job.Start = std::chrono::system_clock::now();
  const TPortDefinition definition = DecodePortDefinition(portDefinition);
  Days = static_cast<int16_t>(ParseInteger(definition.Days));
  Job.Folder = IncludeSeparator(definition.Directory);
  const std::string stem = CaptureFileStem(definition, CurrentLocalTime());
  Job.FileName = stem + ".txt";
  // A name the file layer refuses makes no folders either.
  CaptureFile.Bind(Job.FileName);
  CaptureFile.RequireUsablePath();
  CreateDirectoryChain(DirectoryPart(Job.FileName));
  if (Job.Options.OneFilePerJob)
    OpenFreshName(stem, fileNames);
  else
    OpenSharedName(definition.Overwrite(), openFiles);
  FileIdentity = CaptureFile.Identity();
  CaptureFile.CloseOut();
}

void TClient::OpenSharedName(bool overwrite, const TOpenFiles& openFiles) {
  const auto present = FileIdentityOf(Job.FileName);
  const bool heldByAnotherJob = present && openFiles.Holders(*present) > 0;
  if ((!overwrite && FileIsPresent(Job.FileName)) || heldByAnotherJob)
    CaptureFile.OpenAppend();
  else
    CaptureFile.OpenCreate();
}

// Creating with O_EXCL is the test and the claim in one step: no other
// session, and no other program sharing the folder, can get the same name.
void TClient::OpenFreshName(const std::string& stem, TJobFileNames& fileNames) {
  const auto isTaken = [](const std::string& name) { return FileIsPresent(name); };
  int64_t number = fileNames.NumberToTry(stem, isTaken);
  const int64_t first = number;
  for (int refused = 0; refused < kMaxRefusedNames; ++refused) {
    Job.FileName = NumberedName(stem, number);
    CaptureFile.Bind(Job.FileName);
    try {
      CaptureFile.OpenCreateNew();
      fileNames.Claimed(stem, number);
      return;
    } catch (const EInOutError& failure) {
      if (failure.SystemError != EEXIST) throw;
    }
    number = fileNames.NumberAfter(stem, number, isTaken);
  }
  throw Exception("No free file name from " + NumberedName(stem, first) + " to " + Job.FileName);
}

void TClient::AppendChunk(TReceiveBuffer& buffer) {
  if (protocol_) return ReceiveFramed(buffer);
  const int64_t limit = Job.Options.MaxJobBytes;
  if (limit <= 0) return StoreChunk(buffer, buffer.size());
  // Whatever size one receive may take, the limit is never passed: the
  // receive asks for no more than the room left.
  const int64_t room = limit - Job.Bytes;
  if (room <= 0) return TakeOverLimit(buffer);
  StoreChunk(buffer, static_cast<std::size_t>(
                         std::min<int64_t>(room, static_cast<int64_t>(buffer.size()))));
}

// A job of exactly the limit is whole: only a byte beyond it cuts the job.
// That byte is taken to find out and dropped; the peer's close reads as its
// usual end of stream.
void TClient::TakeOverLimit(TReceiveBuffer& buffer) {
  if (Job.Cut) return;
  if (Receive(buffer.data(), 1) > 0) Job.Cut = true;
}

void TClient::StoreChunk(TReceiveBuffer& buffer, std::size_t most) {
  // No more than the notification's share, so that many busy connections
  // keep each turn of the loop short.
  const int received = Receive(
      buffer.data(), static_cast<int>(std::min(most, static_cast<std::size_t>(ReadShare()))));
  CaptureFile.OpenAppend();
  WriteAndClose(CaptureFile,
                std::string_view(buffer.data(), static_cast<std::size_t>(std::max(received, 0))));
  if (received <= 0) return;
  Job.Bytes += received;
  Answer(std::string_view(buffer.data(), static_cast<std::size_t>(received)));
}

// A peer that does not read loses answers, counted, never the program's
// memory or its time.
void TClient::Answer(std::string_view received) {
  if (!Conversation) return;
  std::string replies;
  Conversation->Received(received, replies);
  Job.QueriesAnswered = Conversation->Answered();
  if (!replies.empty()) Send(replies);
}

void TClient::SettleAtProgramEnd() {
  try {
    Job.FileSize = CaptureSize();
  } catch (const std::exception& failure) {
    Job.Fail(failure.what());
  }
  Job.Outcome = Job.Failure.empty() ? TJob::TOutcome::Ended : TJob::TOutcome::Error;
  Job.End = std::chrono::system_clock::now();
}

int64_t TClient::CaptureSize() { return FileSize(Job.FileName); }

int64_t TClient::FileSize(const std::string& fileName) {
  DiskFile file;
  file.Bind(fileName);
  file.OpenExisting();
  const int64_t size = file.SizeInBytes();
  file.CloseOut();
  return size;
}

void TClient::DeleteCapture() { CaptureFile.RemoveFile(); }

void TClient::DeleteIfEmpty() {
  try {
    if (CaptureSize() == 0) DeleteCapture();
  } catch (const std::exception&) {
    // Nothing to tidy.
  }
}

// ---------------------------------------------------------------------------
// A connection whose protocol frames its captures

void TClient::FrameJobs(std::unique_ptr<TJobProtocol> protocol, std::string portDefinition,
                        TFramedCaptureHost& host) {
  protocol_ = std::move(protocol);
  portDefinition_ = std::move(portDefinition);
  framesHost_ = &host;
  connection_ = Job;
}

// The size limit is the protocol's to keep: it knows which bytes are a
// file's. A read is still held to the notification's share.
void TClient::ReceiveFramed(TReceiveBuffer& buffer) {
  const int received =
      Receive(buffer.data(),
              static_cast<int>(std::min(buffer.size(), static_cast<std::size_t>(ReadShare()))));
  if (received <= 0) return;
  protocol_->Received(std::string_view(buffer.data(), static_cast<std::size_t>(received)), *this);
}

void TClient::Reply(std::string_view bytes) { Send(bytes); }

void TClient::BeginCapture() {
  if (captureOpen_) EndCapture(false);
  Job = connection_;
  framesHost_->PrepareFramedCapture(*this);
  captureOpen_ = true;
}

// A write that fails loses its bytes and marks the capture, like a raw
// chunk's; the next bytes are tried all the same.
void TClient::CaptureBytes(std::string_view bytes) {
  if (!captureOpen_) return;
  try {
    CaptureFile.OpenAppend();
    WriteAndClose(CaptureFile, bytes);
    Job.Bytes += static_cast<int64_t>(bytes.size());
  } catch (const std::exception& failure) {
    Job.Fail(failure.what());
    framesHost_->FramedCaptureFailed(failure);
  }
}

void TClient::EndCapture(bool complete) {
  if (!captureOpen_) return;
  captureOpen_ = false;
  if (!Job.Failure.empty())
    Job.Outcome = TJob::TOutcome::Error;
  else
    Job.Outcome = complete ? TJob::TOutcome::Closed : TJob::TOutcome::Incomplete;
  framesHost_->ReleaseFramedCapture(*this);
  endedCaptures_.push_back({std::exchange(Job, connection_), std::exchange(FileIdentity, {})});
}

void TClient::EndJob(const std::vector<TCaptureLabels>& captures) {
  if (captureOpen_) EndCapture(false);
  std::vector<TFramedCapture> ended = std::exchange(endedCaptures_, {});
  for (std::size_t index = 0; index < ended.size(); ++index) {
    TJob& capture = ended[index].job;
    const bool labelled = index < captures.size();
    if (labelled) capture.Labels = FitLabels(captures[index].Labels);
    framesHost_->FramedCaptureFinished(capture, ended[index].file,
                                       labelled ? captures[index].ControlFile : std::string_view());
  }
}

void TClient::Refused(const std::string& line) { framesHost_->FramedInputRefused(*this, line); }

void TClient::EndFrames() {
  if (!protocol_) return;
  protocol_->PeerEnded(*this);
  // Whatever the protocol left open still gets its record.
  if (captureOpen_ || !endedCaptures_.empty()) EndJob({});
}

std::vector<TJob> TClient::FramedCapturesAtProgramEnd() {
  std::vector<TJob> records;
  for (TFramedCapture& ended : std::exchange(endedCaptures_, {}))
    records.push_back(std::move(ended.job));
  if (captureOpen_) {
    captureOpen_ = false;
    SettleAtProgramEnd();
    records.push_back(std::exchange(Job, connection_));
  }
  return records;
}

void TClient::KeepControlFile(const TJob& capture, std::string_view controlFile) {
  DiskFile file;
  file.Bind(capture.FileName + ".cf");
  file.OpenCreate();
  WriteAndClose(file, controlFile);
}
