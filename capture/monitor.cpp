#include "capture/monitor.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "base/text.h"
#include "capture/date_pattern.h"
#include "capture/ini_file.h"
#include "capture/job_index.h"
#include "capture/session.h"
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
    : window_(window), settingsPath_(std::move(settingsPath)) {}

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
    ClientSocketDataAvailable(&session, 0);
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
    AddSession(std::make_unique<TClient>(settingsPath_));
    session = sessions_.back().get();
    if (destroying_) session->MarkDestroying();
    session->PrepareCapture(listener.Port(), openFiles_);
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
  try {
    session.AppendChunk(*receiveBuffer_);
  } catch (const std::exception& failure) {
    if (auto line = Unrepeated("chunk", ErrorLine(failure), failure))
      window_.AppendMessageLine(*line);
    if (session.Failure.empty()) session.Failure = failure.what();
  }
}

void TCaptureMonitor::ClientSocketSessionClosed(TCustomWSocket* sender, uint16_t error) {
  TClient& session = static_cast<TClient&>(*sender);
  TJobRecord record = StartJobRecord(session, error);
  try {
    ReportClose(session, record);
  } catch (const std::exception& failure) {
    AppendCloseError(failure);
    if (record.Outcome != TJobRecord::TOutcome::Error) {
      record.Outcome = TJobRecord::TOutcome::Error;
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

void TCaptureMonitor::ReportClose(TClient& session, TJobRecord& record) {
  const int64_t size = session.CaptureSize();
  record.BytesStored = size;
  window_.AppendMessageLine(TimestampPrefix() + FormatInteger(size) + std::string(kSizeLineMark) +
                            session.FileName);
  if (size == 0 && ShouldDeleteEmptyCapture(session)) {
    session.DeleteCapture();
    if (record.Outcome != TJobRecord::TOutcome::Error)
      record.Outcome = TJobRecord::TOutcome::DeletedEmpty;
    window_.AppendMessageLine(TimestampPrefix() + session.FileName + " deleted");
  }
}

// What is known of the job before its close is handled; the close adds the
// size and whether the file went.
TJobRecord TCaptureMonitor::StartJobRecord(const TClient& session, uint16_t error) const {
  TJobRecord record;
  record.Start = session.StartedAt;
  record.Port = session.Port;
  record.PeerAddress = session.AcceptedPeer().address;
  record.PeerPort = session.AcceptedPeer().port;
  record.BytesStored = -1;
  record.Folder = session.Directory;
  record.FileName = session.FileName;
  record.Outcome = error == 0 ? TJobRecord::TOutcome::Closed : TJobRecord::TOutcome::Reset;
  if (!session.Failure.empty()) {
    record.Outcome = TJobRecord::TOutcome::Error;
    record.Failure = session.Failure;
  }
  return record;
}

// The capture file is final here (size line written, any deletion done), so
// whatever acts on finished jobs starts now. A failure of that never touches
// the capture.
void TCaptureMonitor::FinishJob(const TClient& session, TJobRecord& record) {
  record.End = std::chrono::system_clock::now();
  if (!session.Jobs.JobIndex) return;
  try {
    AppendToJobIndex(record);
  } catch (const std::exception& failure) {
    window_.AppendMessageLine(TimestampPrefix() + "ERROR: Job index " + record.Folder +
                              kJobIndexName + ": " + failure.what());
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
