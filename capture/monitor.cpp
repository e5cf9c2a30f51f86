#include "capture/monitor.h"

#include <chrono>
#include <exception>
#include <utility>

#include "base/disk_file.h"
#include "base/text.h"
#include "capture/idle_connections.h"
#include "capture/ini_file.h"
#include "capture/job_file_names.h"
#include "capture/log_lines.h"
#include "capture/port_definition.h"
#include "capture/window_settings.h"
#include "net/wsocket.h"

namespace {

constexpr int kMessageLogLimit = 500;

}  // namespace

TCaptureMonitor::TCaptureMonitor(TMonitorWindow& window, TJobFeaturesMaker makeFeatures)
    : TCaptureMonitor(window, SettingsFilePath(), std::move(makeFeatures)) {}

TCaptureMonitor::TCaptureMonitor(TMonitorWindow& window, std::string settingsPath,
                                 TJobFeaturesMaker makeFeatures)
    : window_(window),
      settingsPath_(std::move(settingsPath)),
      listeners_(window_, [this](TWSocket& listener) { SrvSocketSessionAvailable(&listener, 0); }),
      idle_(std::make_unique<TIdleConnections>(
          [this](const std::vector<TClient*>& idle) { CloseIdle(idle); })),
      jobFileNames_(std::make_unique<TJobFileNames>()) {
  if (makeFeatures) features_ = makeFeatures(*this, settingsPath_);
}

TCaptureMonitor::~TCaptureMonitor() {
  MarkDestroying();
  while (TClient* session = sessions_.First()) {
    EndWithProgram(*session);
    sessions_.Remove(session);
  }
}

void TCaptureMonitor::MarkDestroying() {
  destroying_ = true;
  sessions_.ForEach([](TClient& session) { session.MarkDestroying(); });
  listeners_.MarkDestroying();
}

void TCaptureMonitor::Restart() {
  FormDestroy();
  FormCreate();
}

// ---------------------------------------------------------------------------
// Start and stop

void TCaptureMonitor::FormCreate() {
  window_.ClearPortLog();
  try {
    ReadWindowSettings(settingsPath_, window_);
    // Both lists are empty here: the stop before a start empties them, and
    // clearing them here could destroy a session inside its own list.
    CreateServerSockets();
  } catch (const std::exception& failure) {
    // A settings file that exists but cannot be read opens no port, and the
    // port log says why.
    window_.AppendPortLine(TimestampPrefix() + ErrorLine(failure));
  }
  if (features_) features_->Start();
}

void TCaptureMonitor::ReportStartFailure(const std::string& message) {
  window_.AppendPortLine(TimestampPrefix() + "ERROR: " + message);
}

void TCaptureMonitor::CreateServerSockets() {
  std::vector<std::string> ports;
  for (const TPortEntry& entry : PortEntries(TIniFile(settingsPath_).Load()))
    ports.push_back(entry.Port);
  listeners_.Open(ports);
}

void TCaptureMonitor::FormDestroy() {
  if (features_) features_->Stop();
  // Counts held back in the last second are written before the stop.
  repeatedErrors_.FlushAll();
  // A failed write raises out of the stop on purpose: the window shows it.
  if (window_.IsNormalState()) SavePlacement(settingsPath_, window_);
  CloseSessions();
  listeners_.CloseAll();
}

void TCaptureMonitor::CloseSessions() {
  while (TClient* session = sessions_.First()) {
    ReceivePending(*session);
    if (destroying_) EndWithProgram(*session);
    // Unless the program is ending, this raises OnSessionClosed, whose
    // handler reports the close and destroys the session itself.
    session->Close();
    if (sessions_.First() == session) sessions_.Remove(session);
  }
}

// Bytes that already reached this machine belong to the capture: take them
// through the usual chunk path before the connection is cut. Only what is
// pending now is taken; nothing is waited for.
void TCaptureMonitor::ReceivePending(TClient& session) {
  if (session.State() != wsConnected) return;
  int64_t remaining = session.PendingBytes();
  while (remaining > 0) {
    const uint32_t before = static_cast<uint32_t>(session.ReadCount());
    StoreChunk(session);
    const uint32_t received = static_cast<uint32_t>(session.ReadCount()) - before;
    if (received == 0) break;
    remaining -= received;
  }
}

// ---------------------------------------------------------------------------
// Socket handlers

void TCaptureMonitor::SrvSocketSessionAvailable(TCustomWSocket* sender, uint16_t /*error*/) {
  TWSocket& listener = static_cast<TWSocket&>(*sender);
  int acceptedHandle = -1;
  TClient* session = nullptr;
  try {
    acceptedHandle = listener.Accept();
    // One load of the settings file serves the whole connection: read
    // afresh for each, so a change is seen at the next one.
    const TIniSnapshot settings = TIniFile(settingsPath_).Load();
    TJob job =
        TJob::Accepted(listener.Port(), listener.AcceptedPeer().address,
                       listener.AcceptedPeer().port, TJobSettings::Read(settings, listener.Port()));
    if (features_ && !features_->Admits(job))
      return RefuseSender(job, std::exchange(acceptedHandle, -1));
    session = &sessions_.Add(std::make_unique<TClient>(settingsPath_));
    if (destroying_) session->MarkDestroying();
    session->Job = std::move(job);
    std::unique_ptr<TJobProtocol> protocol = features_ ? features_->Frames(session->Job) : nullptr;
    if (protocol) {
      // Its protocol says where each capture begins: nothing is made yet.
      session->FrameJobs(std::move(protocol), settings.ReadText(kPortsSection, listener.Port(), ""),
                         *this);
    } else {
      session->PrepareCapture(settings, sessions_.OpenFiles(), *jobFileNames_);
      if (features_) session->Conversation = features_->Converse(session->Job);
      sessions_.Hold(*session);
    }
    // From here on the session owns the handle, whatever Dup then reports.
    session->Dup(std::exchange(acceptedHandle, -1), listener.AcceptedPeer());
    session->OnSessionClosed = [this](TCustomWSocket* socket, uint16_t error) {
      ClientSocketSessionClosed(socket, error);
    };
    session->OnDataAvailable = [this](TCustomWSocket* socket, uint16_t error) {
      ClientSocketDataAvailable(socket, error);
    };
    idle_->Watch(*session, TIdleConnections::TClock::now());
    // The address accept reported: a peer that has already reset, its bytes
    // still queued, fails a peer-name query but is captured all the same.
    window_.AppendMessageLine(ConnectedLine(session->Job));
    ShowConnectionCount();
  } catch (const std::exception& failure) {
    ReportFailure(TPane::Port, "port " + listener.Port(), TimestampPrefix() + ErrorLine(failure),
                  failure.what());
    if (session == nullptr || session->State() != wsConnected)
      DropHalfMadeSession(session, acceptedHandle);
  }
}

// A peer the job features refuse gets a reset before any file or folder is
// made and never counts as a connection; a flood of them gives one line a
// second per port.
void TCaptureMonitor::RefuseSender(const TJob& job, int acceptedHandle) {
  TCustomWSocket::ResetAccepted(acceptedHandle);
  ReportFailure(TPane::Port, "refused",
                TimestampPrefix() + "Refused " + job.PeerAddress + " on port " + job.Port,
                job.Port);
}

// A session that never got its connection would wait for events that never
// come and count in every caption; the peer would wait for a close that never
// comes. So the connection is cut at once and the session goes, leaving its
// file as its close would have: gone when nothing was written into it. A
// handle still here was never given to the session, which closes any it was
// given. The port log already carries the failure, so this adds no line.
void TCaptureMonitor::DropHalfMadeSession(TClient* session, int acceptedHandle) {
  if (acceptedHandle >= 0) TCustomWSocket::CloseAccepted(acceptedHandle);
  if (session == nullptr) return;
  if (ShouldDeleteEmptyCapture(session->FileIdentity, 1)) session->DeleteIfEmpty();
  session->OnSessionClosed = nullptr;
  session->OnDataAvailable = nullptr;
  idle_->Forget(session);
  sessions_.Remove(session).reset();
}

void TCaptureMonitor::ClientSocketDataAvailable(TCustomWSocket* sender, uint16_t /*error*/) {
  TClient& session = static_cast<TClient&>(*sender);
  StoreChunk(session);
  // Destroys the session inside its own event, which the socket layer allows.
  if (session.Job.Cut || session.WantsClose()) CloseOnOurSide(session);
}

void TCaptureMonitor::StoreChunk(TClient& session) {
  TJob& job = session.Job;
  try {
    if (job.Options.IdleSeconds > 0) idle_->Heard(&session, TIdleConnections::TClock::now());
    const bool cutBefore = job.Cut;
    session.AppendChunk(*receiveBuffer_);
    if (job.Cut && !cutBefore) window_.AppendMessageLine(CutLine(job));
  } catch (const std::exception& failure) {
    ReportFailure(TPane::Message, "chunk", ErrorLine(failure), failure.what());
    job.Fail(failure.what());
  }
}

void TCaptureMonitor::ClientSocketSessionClosed(TCustomWSocket* sender, uint16_t error) {
  TClient& session = static_cast<TClient&>(*sender);
  if (session.Framed()) return EndFramedSession(session);
  TJob& job = session.Job;
  job.Settle(error);
  try {
    ReportClose(session);
  } catch (const std::exception& failure) {
    ReportCloseFailure(failure);
    job.Fail(failure.what());
    job.Settle(error);
  }
  // The capture file is final here (size line written, any deletion done),
  // so whatever acts on finished jobs starts now. A failure of that never
  // touches the capture.
  job.End = std::chrono::system_clock::now();
  if (features_) features_->Finished(job);
  try {
    Disconnect(session);
  } catch (const std::exception& failure) {
    // A peer that reset the connection fails the peer-name query of the
    // disconnect line. Its session goes all the same: kept, it would count in
    // every caption until the next stop.
    ReportCloseFailure(failure);
    RemoveSession(session);
  }
}

// Another open session of the same file may still write into it, so an
// empty file is only deleted when it is this session's alone. Only a file
// the session itself opened is ever deleted.
void TCaptureMonitor::ReportClose(TClient& session) {
  TJob& job = session.Job;
  job.RepliesDropped = static_cast<int64_t>(session.DroppedSendBytes());
  for (const std::string& line : AnswerLines(job)) window_.AppendMessageLine(line);
  ReportCapture(job, session.FileIdentity, 1);
}

// The size line, and the deletion of a file left empty; ownHolds is how
// many of the file's holders are this job's own.
void TCaptureMonitor::ReportCapture(TJob& capture, const std::optional<TFileIdentity>& file,
                                    int ownHolds) {
  capture.FileSize = TClient::FileSize(capture.FileName);
  window_.AppendMessageLine(CaptureSizeLine(capture));
  if (capture.FileSize != 0 || !ShouldDeleteEmptyCapture(file, ownHolds)) return;
  DiskFile capturedFile;
  capturedFile.Bind(capture.FileName);
  capturedFile.RemoveFile();
  if (capture.Outcome != TJob::TOutcome::Error) capture.Outcome = TJob::TOutcome::DeletedEmpty;
  window_.AppendMessageLine(TimestampPrefix() + capture.FileName + " deleted");
}

bool TCaptureMonitor::ShouldDeleteEmptyCapture(const std::optional<TFileIdentity>& file,
                                               int ownHolds) const {
  if (!window_.DeleteIfEmpty() || !file) return false;
  return sessions_.OpenFiles().Holders(*file) <= ownHolds;
}

// Each capture got its report when its job ended; what the connection left
// open ends now, and the disconnection line follows as for a raw job.
void TCaptureMonitor::EndFramedSession(TClient& session) {
  session.EndFrames();
  try {
    Disconnect(session);
  } catch (const std::exception& failure) {
    ReportCloseFailure(failure);
    RemoveSession(session);
  }
}

// A peer that was answered may have closed without reading the answer, and
// the answer then drew a reset from its side: the peer-name query would fail
// for a job that ended in order. So such a session names the peer its accept
// reported.
void TCaptureMonitor::Disconnect(TClient& session) {
  const bool answered = session.Conversation || session.Framed();
  const std::string peer = answered ? session.Job.PeerAddress : session.PeerAddr();
  window_.AppendMessageLine(TimestampPrefix() + peer + " disconnected.");
  RemoveSession(session);
}

// Destroys the session, also from inside its own OnSessionClosed: the socket
// layer touches it no more afterwards.
void TCaptureMonitor::RemoveSession(TClient& session) {
  idle_->Forget(&session);
  std::unique_ptr<TClient> owned = sessions_.Remove(&session);
  if (!owned) return;
  owned->ShutDown(2);
  owned->Close();
  owned.reset();
  ShowConnectionCount();
  CutMessageLog();
}

// Our side ends the job (size limit, silence), but it is reported as the
// peer's close would be: size line, index line, and the disconnection line
// while the peer's address can still be asked for. The close that follows
// raises no second report.
void TCaptureMonitor::CloseOnOurSide(TClient& session) {
  session.OnSessionClosed = nullptr;
  ClientSocketSessionClosed(&session, 0);
}

void TCaptureMonitor::SetIdleSecond(std::chrono::milliseconds length) { idle_->SetSecond(length); }

void TCaptureMonitor::CloseIdle(const std::vector<TClient*>& idle) {
  for (TClient* session : idle) {
    // Closing one session never ends another, but the list is checked all
    // the same rather than trusted.
    if (!sessions_.Contains(session)) continue;
    window_.AppendMessageLine(IdleLine(session->Job));
    CloseOnOurSide(*session);
  }
}

// A job the program's end cuts short keeps its file as it is and still gets
// its index line, with an outcome that says why it has no close.
void TCaptureMonitor::EndWithProgram(TClient& session) {
  if (features_ && session.Framed()) {
    for (const TJob& capture : session.FramedCapturesAtProgramEnd()) features_->Finished(capture);
    return;
  }
  if (!features_ || !session.FileIdentity) return;
  session.SettleAtProgramEnd();
  features_->Finished(session.Job);
}

void TCaptureMonitor::ShowConnectionCount() {
  if (sessions_.Empty())
    window_.SetCaption("Tarnock - Listening");
  else
    window_.SetCaption("Tarnock - Connections: " + FormatInteger(sessions_.Count()));
}

void TCaptureMonitor::CutMessageLog() {
  const int excess = window_.MessageLineCount() - kMessageLogLimit;
  if (excess > 0) window_.DeleteFirstMessageLines(excess);
}

void TCaptureMonitor::ReportFailure(TPane pane, const std::string& where, const std::string& line,
                                    const std::string& cause) {
  repeatedErrors_.Offer(where + '\n' + cause, line, [this, pane](const std::string& shown) {
    if (pane == TPane::Port)
      window_.AppendPortLine(shown);
    else
      window_.AppendMessageLine(shown);
  });
}

void TCaptureMonitor::ReportCloseFailure(const std::exception& failure) {
  ReportFailure(TPane::Message, "close", TimestampPrefix() + ErrorLine(failure), failure.what());
}

// ---------------------------------------------------------------------------
// What the job features may do

void TCaptureMonitor::JobLine(const std::string& text) {
  window_.AppendMessageLine(TimestampPrefix() + text);
  CutMessageLog();
}

void TCaptureMonitor::JobFailure(const std::string& key, const std::string& text) {
  ReportFailure(TPane::Message, "job", TimestampPrefix() + "ERROR: " + text, key);
  CutMessageLog();
}

void TCaptureMonitor::PortLine(const std::string& text) {
  window_.AppendPortLine(TimestampPrefix() + text);
}

void TCaptureMonitor::PortFailure(const std::string& key, const std::string& text) {
  ReportFailure(TPane::Port, "port", TimestampPrefix() + "ERROR: " + text, key);
}

void TCaptureMonitor::OpenCapture(const std::string& file) { window_.OpenCapture(file); }

bool TCaptureMonitor::FileInUse(const TFileIdentity& file) const {
  return sessions_.OpenFiles().Holders(file) > 0;
}

// ---------------------------------------------------------------------------
// What a session whose protocol frames its captures has done for it

void TCaptureMonitor::PrepareFramedCapture(TClient& session) {
  session.PrepareNextCapture(sessions_.OpenFiles(), *jobFileNames_);
  sessions_.Hold(session);
}

void TCaptureMonitor::ReleaseFramedCapture(TClient& session) { sessions_.Release(session); }

// As a raw job's close: size line, any deletion, then the record. The file
// was released when it ended, so none of its holders is this job's.
void TCaptureMonitor::FramedCaptureFinished(TJob& capture, const std::optional<TFileIdentity>& file,
                                            std::string_view controlFile) {
  try {
    ReportCapture(capture, file, 0);
    if (capture.Options.KeepControlFile && !controlFile.empty() &&
        capture.Outcome != TJob::TOutcome::DeletedEmpty)
      TClient::KeepControlFile(capture, controlFile);
  } catch (const std::exception& failure) {
    ReportCloseFailure(failure);
    capture.Fail(failure.what());
    capture.Outcome = TJob::TOutcome::Error;
  }
  capture.End = std::chrono::system_clock::now();
  if (features_) features_->Finished(capture);
  CutMessageLog();
}

void TCaptureMonitor::FramedCaptureFailed(const std::exception& failure) {
  ReportFailure(TPane::Message, "chunk", ErrorLine(failure), failure.what());
}

void TCaptureMonitor::FramedInputRefused(TClient& session, const std::string& line) {
  const TJob& job = session.Job;
  ReportFailure(
      TPane::Message, "refused input " + job.Port,
      TimestampPrefix() + "ERROR: " + job.PeerAddress + " on port " + job.Port + ": " + line, line);
}
