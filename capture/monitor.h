#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "capture/after_job.h"
#include "capture/idle_connections.h"
#include "capture/job.h"
#include "capture/job_notifier.h"
#include "capture/monitor_window.h"
#include "capture/open_files.h"
#include "capture/repeated_lines.h"
#include "capture/retention.h"
#include "capture/session.h"

class TCustomWSocket;
class TWSocket;

// The capture file a message log line names, when it is a size line
// ("<prefix>5 bytes written to <file>"); none for any other line.
std::optional<std::string> CaptureFileNamedIn(std::string_view line);

// The capture service behind the main window: opens one listener per port
// definition, turns every accepted connection into a capture session, and
// reports what happens in the window's two logs and its caption. Everything
// runs on the one event-loop thread, which is why one receive buffer serves
// every session.
class TCaptureMonitor {
 public:
  // Reads and writes the settings file beside the executable.
  explicit TCaptureMonitor(TMonitorWindow& window);
  // Reads and writes the given settings file instead.
  TCaptureMonitor(TMonitorWindow& window, std::string settingsPath);
  // Releases whatever is left without raising events.
  ~TCaptureMonitor();

  TCaptureMonitor(const TCaptureMonitor&) = delete;
  TCaptureMonitor& operator=(const TCaptureMonitor&) = delete;

  // Start: clears the port log, reads the placement and the Delete if Empty
  // flag, opens the listeners.
  void FormCreate();
  // Stop: saves the placement in the normal window state (a failed write
  // raises "Unable to write to %s"), closes every session and every listener.
  void FormDestroy();
  // Stop, then start.
  void Restart();
  // Program end: from now on closing a session raises no events, so it gets
  // no close report and its capture file stays as it is.
  void MarkDestroying();

  // One port-log line for a failure of the program's start that is not the
  // monitor's own, such as a settings folder that cannot be made.
  void ReportStartFailure(const std::string& message);

  int SessionCount() const;
  int ListenerCount() const;

  // The socket handlers. Each catches every failure at its edge and turns it
  // into a log line; the error code of the event is not looked at.
  void SrvSocketSessionAvailable(TCustomWSocket* sender, uint16_t error);
  void ClientSocketDataAvailable(TCustomWSocket* sender, uint16_t error);
  void ClientSocketSessionClosed(TCustomWSocket* sender, uint16_t error);

 private:
  void ReadPlacement();
  void SavePlacement();
  void CreateServerSockets();
  void OpenListener(const std::string& portText);
  void TakeConnection(TWSocket& listener);
  void DropHalfMadeSession(TClient* session, int acceptedHandle);
  void ReportClose(TClient& session, TJob& record);
  void AppendCloseError(const std::exception& failure);
  // The line, or nothing when the same failure at the same place was shown
  // less than a second ago.
  std::optional<std::string> Unrepeated(const std::string& where, const std::string& line,
                                        const std::exception& failure);
  TJob StartJobRecord(const TClient& session, uint16_t error) const;
  void FinishJob(const TClient& session, TJob& record);
  void AddToJobIndex(const TJob& record);
  // After-job command and notification, made at their first use.
  void ActOnFinishedJob(const TJobSettings& jobs, const TJob& record);
  void AddSession(std::unique_ptr<TClient> session);
  bool ShouldDeleteEmptyCapture(const TClient& session) const;
  void DeleteIfStillEmpty(TClient& session);
  void Disconnect(TClient& session);
  void ReceivePending(TClient& session);
  void CloseSessions();
  void CloseListeners();
  void ShowConnectionCount();
  void CutMessageLog();
  std::unique_ptr<TClient> RemoveSession(TClient* session);
  void StoreChunk(TClient& session);

  // The [Jobs] limits: who may send, how much, for how long, and how long
  // captures are kept.
  void RefuseSender(TWSocket& listener, int acceptedHandle);
  void StoreChunkWithinLimits(TClient& session);
  void CloseOnOurSide(TClient& session);
  void CloseIdle(const std::vector<TClient*>& idle);
  void ReportRetention(const std::string& path, int days, int platformErrno);

  TMonitorWindow& window_;
  std::string settingsPath_;
  bool destroying_ = false;
  // One buffer for every session: handlers never overlap.
  std::unique_ptr<TReceiveBuffer> receiveBuffer_ = std::make_unique<TReceiveBuffer>();
  std::vector<std::unique_ptr<TWSocket>> listeners_;
  // In order of arrival, so that a stop reports them in that order; the
  // index makes removing one a single step however many are open.
  using TSessionList = std::list<std::unique_ptr<TClient>>;
  TSessionList sessions_;
  std::unordered_map<const TClient*, TSessionList::iterator> sessionPlaces_;
  // The files the sessions hold, so that no close or preparation has to
  // look through every open session.
  TOpenFiles openFiles_;
  TRepeatedLines repeatedErrors_;
  TIdleConnections idle_{[this](const std::vector<TClient*>& idle) { CloseIdle(idle); }};
  TRetention retention_;
  std::unique_ptr<TAfterJobRunner> afterJob_;
  std::unique_ptr<TJobNotifier> notifier_;
};
