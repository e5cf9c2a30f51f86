#include "capture/monitor.h"

#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <utility>

#include "base/text.h"
#include "capture/date_pattern.h"
#include "capture/ini_file.h"
#include "capture/job_index.h"
#include "capture/sender_filter.h"
#include "capture/session.h"
#include "net/socket_calls.h"
#include "net/wsocket.h"

namespace {

constexpr int kMessageLogLimit = 500;
constexpr std::string_view kSizeLineMark = " bytes written to ";

// Begins every log line except the listening lines and the chunk errors;
// taken anew for every line.
std::string TimestampPrefix() {
  return FormatDatePattern("dd/mm/yy hh:nn", CurrentLocalTime()) + " - ";
}

std::string ErrorLine(const std::exception& failure) {
  return std::string("ERROR: ") + failure.what();
}

// "1 day", "2 days".
std::string CountOf(int64_t count, const char* unit) {
  return FormatInteger(count) + ' ' + unit + (count == 1 ? "" : "s");
}

}  // namespace

std::optional<std::string> CaptureFileNamedIn(std::string_view line) {
  const std::size_t mark = line.find(kSizeLineMark);
  if (mark == std::string_view::npos) return std::nullopt;
  // The size stands right before the mark, after the timestamp prefix's "- ".
  std::size_t digits = mark;
  while (digits > 0 && line[digits - 1] >= '0' && line[digits - 1] <= '9') --digits;
  if (digits == mark || digits < 2 || line.substr(digits - 2, 2) != "- ") return std::nullopt;
  const std::string_view file = line.substr(mark + kSizeLineMark.size());
  if (file.empty()) return std::nullopt;
  return std::string(file);
}

TCaptureMonitor::TCaptureMonitor(TMonitorWindow& window)
    : TCaptureMonitor(window, SettingsFilePath()) {}

TCaptureMonitor::TCaptureMonitor(TMonitorWindow& window, std::string settingsPath)
    : window_(window),
      settingsPath_(std::move(settingsPath)),
      retention_(
          settingsPath_, [this](const TFileIdentity& file) { return openFiles_.Holders(file) > 0; },
          [this](const std::string& path, int days, int platformErrno) {
            ReportRetention(path, days, platformErrno);
          }) {}

TCaptureMonitor::~TCaptureMonitor() {
  MarkDestroying();
  while (RemoveSession(sessions_.empty() ? nullptr : sessions_.front().get())) {
  }
  listeners_.clear();
}

int TCaptureMonitor::SessionCount() const { return static_cast<int>(sessions_.size()); }

int TCaptureMonitor::ListenerCount() const { return static_cast<int>(listeners_.size()); }

void TCaptureMonitor::MarkDestroying() {
  destroying_ = true;
  for (auto& session : sessions_) session->MarkDestroying();
  for (auto& listener : listeners_) listener->MarkDestroying();
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
    ReadPlacement();
    // Both lists are empty here: the stop before a start empties them, and
    // clearing them here could destroy a session inside its own list.
    CreateServerSockets();
  } catch (const std::exception& failure) {
    // A settings file that exists but cannot be read opens no port, and the
    // port log says why.
    window_.AppendPortLine(TimestampPrefix() + ErrorLine(failure));
  }
  retention_.Start();
}

void TCaptureMonitor::ReportStartFailure(const std::string& message) {
  window_.AppendPortLine(TimestampPrefix() + "ERROR: " + message);
}

void TCaptureMonitor::ReadPlacement() {
  const TIniFile settings(settingsPath_);
  window_.SetTop(settings.ReadNumber("Window", "Top", 10));
  window_.SetLeft(settings.ReadNumber("Window", "Left", 10));
  window_.SetHeight(settings.ReadNumber("Window", "Height", window_.Height()));
  window_.PlacementApplied();
  window_.SetDeleteIfEmpty(settings.ReadFlag("File", "DeleteIfEmpty", true));
}

void TCaptureMonitor::CreateServerSockets() {
  std::vector<std::string> entries;
  TIniFile(settingsPath_).ListEntries("Ports", entries);
  for (const std::string& entry : entries) {
    if (TrimBlanks(entry).empty()) continue;
    OpenListener(entry.substr(0, entry.find('=')));
  }
}

void TCaptureMonitor::OpenListener(const std::string& portText) {
  auto listener = std::make_unique<TWSocket>();
  listener->SetAddr("0.0.0.0");
  listener->SetProto("tcp");
  listener->SetPort(portText);
  listener->OnSessionAvailable = [this](TCustomWSocket* sender, uint16_t error) {
    SrvSocketSessionAvailable(sender, error);
  };
  try {
    listener->Listen();
    window_.AppendPortLine("Listening on port " + listener->Port());
  } catch (...) {
    // Whatever the reason, the operator sees the port as busy; the others
    // are opened all the same.
    window_.AppendPortLine(TimestampPrefix() + "ERROR: Port " + listener->Port() + " is busy");
  }
  listeners_.push_back(std::move(listener));
}

void TCaptureMonitor::FormDestroy() {
  // A failed write raises out of the stop on purpose: the window shows it.
  retention_.Stop();
  if (window_.IsNormalState()) SavePlacement();
  CloseSessions();
  CloseListeners();
}

void TCaptureMonitor::SavePlacement() {
  TIniFile settings(settingsPath_);
  settings.WriteNumber("Window", "Top", window_.Top());
  settings.WriteNumber("Window", "Left", window_.Left());
  settings.WriteNumber("Window", "Height", window_.Height());
}

void TCaptureMonitor::CloseSessions() {
  while (!sessions_.empty()) {
    TClient* session = sessions_.front().get();
    ReceivePending(*session);
    // Unless the program is ending, this raises OnSessionClosed, whose
    // handler reports the close and destroys the session itself.
    session->Close();
    if (!sessions_.empty() && sessions_.front().get() == session) RemoveSession(session);
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

void TCaptureMonitor::CloseListeners() {
  for (auto& listener : listeners_) listener->Close();
  listeners_.clear();
}

// ---------------------------------------------------------------------------
// Socket handlers

void TCaptureMonitor::SrvSocketSessionAvailable(TCustomWSocket* sender, uint16_t /*error*/) {
  TakeConnection(static_cast<TWSocket&>(*sender));
}

void TCaptureMonitor::TakeConnection(TWSocket& listener) {
  int acceptedHandle = -1;
  TClient* session = nullptr;
  try {
    acceptedHandle = listener.Accept();
    const TJobSettings jobs = TJobSettings::Read(settingsPath_);
    if (!TSenderFilter(jobs.AllowedSenders).Allows(listener.AcceptedPeer().address))
      return RefuseSender(listener, std::exchange(acceptedHandle, -1));
    AddSession(std::make_unique<TClient>(settingsPath_));
    session = sessions_.back().get();
    if (destroying_) session->MarkDestroying();
    session->PrepareCapture(listener.Port(), openFiles_, jobs);
    openFiles_.Hold(*session->FileIdentity);
    // From here on the session owns the handle, whatever Dup then reports.
    const int adopted = std::exchange(acceptedHandle, -1);
    session->Dup(adopted, listener.AcceptedPeer());
    session->OnSessionClosed = [this](TCustomWSocket* sender, uint16_t error) {
      ClientSocketSessionClosed(sender, error);
    };
    session->OnDataAvailable = [this](TCustomWSocket* sender, uint16_t error) {
      ClientSocketDataAvailable(sender, error);
    };
    session->StartedAt = std::chrono::system_clock::now();
    if (jobs.IdleSeconds > 0)
      idle_.Watch(session, std::chrono::seconds(jobs.IdleSeconds), TIdleConnections::TClock::now());
    // The address accept reported: a peer that has already reset, its bytes
    // still queued, fails a peer-name query but is captured all the same.
    window_.AppendMessageLine(TimestampPrefix() + "Connected to: " +
                              session->AcceptedPeer().address + " on port " + listener.Port());
    ShowConnectionCount();
  } catch (const std::exception& failure) {
    if (auto line =
            Unrepeated("port " + listener.Port(), TimestampPrefix() + ErrorLine(failure), failure))
      window_.AppendPortLine(*line);
    if (session == nullptr || session->State() != wsConnected)
      DropHalfMadeSession(session, acceptedHandle);
  }
}

// A session that never got its connection would wait for events that never
// come and count in every caption; the peer would wait for a close that never
// comes. So the connection is cut at once and the session goes. A handle
// still here was never given to the session, which closes any it was given.
void TCaptureMonitor::DropHalfMadeSession(TClient* session, int acceptedHandle) {
  if (acceptedHandle >= 0) TCustomWSocket::CloseAccepted(acceptedHandle);
  if (session == nullptr) return;
  if (ShouldDeleteEmptyCapture(*session)) DeleteIfStillEmpty(*session);
  session->OnSessionClosed = nullptr;
  session->OnDataAvailable = nullptr;
  RemoveSession(session).reset();
}

void TCaptureMonitor::ClientSocketDataAvailable(TCustomWSocket* sender, uint16_t /*error*/) {
  TClient& session = static_cast<TClient&>(*sender);
  StoreChunk(session);
  // Destroys the session inside its own event, which the socket layer allows.
  if (session.Cut) CloseOnOurSide(session);
}

void TCaptureMonitor::StoreChunk(TClient& session) {
  try {
    if (session.Jobs.MaxJobBytes > 0 || session.Jobs.IdleSeconds > 0)
      StoreChunkWithinLimits(session);
    else
      session.AppendChunk(*receiveBuffer_);
  } catch (const std::exception& failure) {
    if (auto line = Unrepeated("chunk", ErrorLine(failure), failure))
      window_.AppendMessageLine(*line);
    if (session.Failure.empty()) session.Failure = failure.what();
  }
}

void TCaptureMonitor::ClientSocketSessionClosed(TCustomWSocket* sender, uint16_t error) {
  TClient& session = static_cast<TClient&>(*sender);
  TJob record = StartJobRecord(session, error);
  try {
    ReportClose(session, record);
  } catch (const std::exception& failure) {
    AppendCloseError(failure);
    if (record.Outcome != TJob::TOutcome::Error) {
      record.Outcome = TJob::TOutcome::Error;
      record.Failure = failure.what();
    }
  }
  FinishJob(session, record);
  try {
    Disconnect(session);
  } catch (const std::exception& failure) {
    AppendCloseError(failure);
    // A peer that reset the connection fails the peer-name query of the
    // disconnect line. Its session goes all the same: kept, it would count in
    // every caption until the next stop.
    if (std::unique_ptr<TClient> owned = RemoveSession(&session)) {
      owned.reset();
      ShowConnectionCount();
      CutMessageLog();
    }
  }
}

void TCaptureMonitor::AppendCloseError(const std::exception& failure) {
  if (auto line = Unrepeated("close", TimestampPrefix() + ErrorLine(failure), failure))
    window_.AppendMessageLine(*line);
}

// A flood of peers can repeat one failure thousands of times a second; the
// panes and standard error get it once a second, with a count.
std::optional<std::string> TCaptureMonitor::Unrepeated(const std::string& where,
                                                       const std::string& line,
                                                       const std::exception& failure) {
  return repeatedErrors_.Pass(where + '\n' + failure.what(), line, TRepeatedLines::TClock::now());
}

void TCaptureMonitor::ReportClose(TClient& session, TJob& record) {
  const int64_t size = session.CaptureSize();
  record.FileSize = size;
  window_.AppendMessageLine(TimestampPrefix() + FormatInteger(size) + std::string(kSizeLineMark) +
                            session.FileName);
  if (size == 0 && ShouldDeleteEmptyCapture(session)) {
    session.DeleteCapture();
    if (record.Outcome != TJob::TOutcome::Error) record.Outcome = TJob::TOutcome::DeletedEmpty;
    window_.AppendMessageLine(TimestampPrefix() + session.FileName + " deleted");
  }
}

// What is known of the job before its close is handled; the close adds the
// size and whether the file went.
TJob TCaptureMonitor::StartJobRecord(const TClient& session, uint16_t error) const {
  TJob record;
  record.Start = session.StartedAt;
  record.Port = session.Port;
  record.PeerAddress = session.AcceptedPeer().address;
  record.PeerPort = session.AcceptedPeer().port;
  record.Bytes = session.StoredBytes;
  record.Folder = session.Directory;
  record.FileName = session.FileName;
  record.Outcome = error == 0 ? TJob::TOutcome::Closed : TJob::TOutcome::Reset;
  if (session.Cut) record.Outcome = TJob::TOutcome::Cut;
  if (!session.Failure.empty()) {
    record.Outcome = TJob::TOutcome::Error;
    record.Failure = session.Failure;
  }
  return record;
}

// The capture file is final here (size line written, any deletion done), so
// whatever acts on finished jobs starts now. A failure of that never touches
// the capture.
void TCaptureMonitor::FinishJob(const TClient& session, TJob& record) {
  record.End = std::chrono::system_clock::now();
  if (session.Jobs.JobIndex) AddToJobIndex(record);
  ActOnFinishedJob(session.Jobs, record);
}

void TCaptureMonitor::AddToJobIndex(const TJob& record) {
  try {
    AppendToJobIndex(record);
  } catch (const std::exception& failure) {
    window_.AppendMessageLine(TimestampPrefix() + "ERROR: Job index " + record.Folder +
                              kJobIndexName + ": " + failure.what());
  }
}

// The index line is written by now, so a command or the operator that
// looks at the index finds the job in it.
void TCaptureMonitor::ActOnFinishedJob(const TJobSettings& jobs, const TJob& record) {
  if (!jobs.AfterJob.empty()) {
    if (!afterJob_)
      afterJob_ = std::make_unique<TAfterJobRunner>([this](const std::string& text) {
        window_.AppendMessageLine(TimestampPrefix() + "ERROR: " + text);
      });
    afterJob_->Run(record, jobs.AfterJob, jobs.AfterJobParallel, jobs.AfterJobSeconds);
  }
  if (jobs.Notify) {
    if (!notifier_)
      notifier_ = std::make_unique<TJobNotifier>(
          [this](const std::string& file) { window_.OpenCapture(file); });
    notifier_->Notify(record);
  }
}

// Another open session of the same file may still write into it, so an
// empty file is only deleted when it is this session's alone. Only a file
// the session itself opened is ever deleted.
bool TCaptureMonitor::ShouldDeleteEmptyCapture(const TClient& session) const {
  if (!window_.DeleteIfEmpty() || !session.FileIdentity) return false;
  return openFiles_.Holders(*session.FileIdentity) <= 1;
}

// A session dropped before it was connected leaves its file as its close
// would have: gone when nothing was written into it. The port log already
// carries the failure, so this adds no line, and a file it cannot size (never
// made, or not a file at all) stays as it is.
void TCaptureMonitor::DeleteIfStillEmpty(TClient& session) {
  try {
    if (session.CaptureSize() == 0) session.DeleteCapture();
  } catch (const std::exception&) {
    // Nothing to tidy.
  }
}

// Destroys the session from inside its own OnSessionClosed; the socket layer
// touches it no more afterwards.
void TCaptureMonitor::Disconnect(TClient& session) {
  window_.AppendMessageLine(TimestampPrefix() + session.PeerAddr() + " disconnected.");
  std::unique_ptr<TClient> owned = RemoveSession(&session);
  if (!owned) return;
  owned->ShutDown(2);
  owned->Close();
  owned.reset();
  ShowConnectionCount();
  CutMessageLog();
}

void TCaptureMonitor::AddSession(std::unique_ptr<TClient> session) {
  const TClient* key = session.get();
  sessions_.push_back(std::move(session));
  sessionPlaces_.emplace(key, std::prev(sessions_.end()));
}

std::unique_ptr<TClient> TCaptureMonitor::RemoveSession(TClient* session) {
  const auto place = sessionPlaces_.find(session);
  if (place == sessionPlaces_.end()) return nullptr;
  std::unique_ptr<TClient> owned = std::move(*place->second);
  sessions_.erase(place->second);
  sessionPlaces_.erase(place);
  if (owned->FileIdentity) openFiles_.Release(*owned->FileIdentity);
  if (owned->Jobs.IdleSeconds > 0) idle_.Forget(owned.get());
  return owned;
}

void TCaptureMonitor::ShowConnectionCount() {
  if (sessions_.empty())
    window_.SetCaption("Tarnock - Listening");
  else
    window_.SetCaption("Tarnock - Connections: " + FormatInteger(SessionCount()));
}

void TCaptureMonitor::CutMessageLog() {
  const int excess = window_.MessageLineCount() - kMessageLogLimit;
  if (excess > 0) window_.DeleteFirstMessageLines(excess);
}

// ---------------------------------------------------------------------------
// Job limits and old captures

// A peer the allow-list leaves out gets a reset before any file or folder is
// made and never counts as a connection. A flood of such peers gives one
// line a second per port.
void TCaptureMonitor::RefuseSender(TWSocket& listener, int acceptedHandle) {
  const std::string& address = listener.AcceptedPeer().address;
  linger reset{};
  reset.l_onoff = 1;
  SocketCalls().SetSockOpt(acceptedHandle, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  TCustomWSocket::CloseAccepted(acceptedHandle);
  if (auto line = repeatedErrors_.Pass(
          "refused\n" + listener.Port(),
          TimestampPrefix() + "Refused " + address + " on port " + listener.Port(),
          TRepeatedLines::TClock::now()))
    window_.AppendPortLine(*line);
}

void TCaptureMonitor::StoreChunkWithinLimits(TClient& session) {
  const bool cutBefore = session.Cut;
  if (session.Jobs.IdleSeconds > 0) idle_.Heard(&session, TIdleConnections::TClock::now());
  session.AppendChunkWithinLimit(*receiveBuffer_);
  if (session.Cut && !cutBefore)
    window_.AppendMessageLine(TimestampPrefix() + session.FileName + " cut at " +
                              FormatInteger(session.Jobs.MaxJobBytes) + " bytes");
}

// Our side ends the job, but it is reported as the peer's close would be:
// size line, index line, and the disconnection line while the peer's address
// can still be asked for. The close that follows raises no second report.
void TCaptureMonitor::CloseOnOurSide(TClient& session) {
  session.OnSessionClosed = nullptr;
  ClientSocketSessionClosed(&session, 0);
}

void TCaptureMonitor::CloseIdle(const std::vector<TClient*>& idle) {
  for (TClient* session : idle) {
    // Closing one session never ends another, but the list is checked all
    // the same rather than trusted.
    if (sessionPlaces_.find(session) == sessionPlaces_.end()) continue;
    // Bytes that arrived while the timer was due: the peer was not silent.
    if (session->PendingBytes() > 0) {
      idle_.Watch(session, std::chrono::seconds(session->Jobs.IdleSeconds),
                  TIdleConnections::TClock::now());
      continue;
    }
    window_.AppendMessageLine(TimestampPrefix() + session->AcceptedPeer().address + " on port " +
                              session->Port + " sent nothing for " +
                              CountOf(session->Jobs.IdleSeconds, "second"));
    CloseOnOurSide(*session);
  }
}

void TCaptureMonitor::ReportRetention(const std::string& path, int days, int platformErrno) {
  if (platformErrno == 0) {
    window_.AppendMessageLine(TimestampPrefix() + path + " deleted, older than " +
                              CountOf(days, "day"));
  } else if (auto line = repeatedErrors_.Pass("retention\n" + std::to_string(platformErrno),
                                              TimestampPrefix() + "ERROR: Unable to delete " +
                                                  path + ": " + std::strerror(platformErrno),
                                              TRepeatedLines::TClock::now())) {
    window_.AppendMessageLine(*line);
  }
  CutMessageLog();
}
