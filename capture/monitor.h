#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/job_features.h"
#include "capture/listeners.h"
#include "capture/monitor_window.h"
#include "capture/repeated_lines.h"
#include "capture/session.h"
#include "capture/session_list.h"

class TCustomWSocket;
class TIdleConnections;
class TJobFileNames;
class TWSocket;

// The capture service behind the main window: opens one listener per port
// definition, turns every accepted connection into a capture session, and
// reports what happens in the window's two logs and its caption. What is
// done with a finished job beyond that belongs to the job features, which
// it only calls. Everything runs on the one event-loop thread, which is why
// one receive buffer serves every session.
class TCaptureMonitor : private TJobHost, private TFramedCaptureHost {
 public:
  // Reads and writes the settings file beside the executable.
  explicit TCaptureMonitor(TMonitorWindow& window, TJobFeaturesMaker makeFeatures = nullptr);
  // Reads and writes the given settings file instead.
  TCaptureMonitor(TMonitorWindow& window, std::string settingsPath,
                  TJobFeaturesMaker makeFeatures = nullptr);
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
  // no close report and its capture file stays as it is; its job is
  // finished as ended.
  void MarkDestroying();

  // One port-log line for a failure of the program's start that is not the
  // monitor's own, such as a settings folder that cannot be made.
  void ReportStartFailure(const std::string& message);

  // How long one second of an idle limit lasts: a second, unless a test
  // cannot wait that long.
  void SetIdleSecond(std::chrono::milliseconds length);

  // What the windows report about jobs after they finished (the job list's
  // resends, a job index it cannot read) goes into the message log the same
  // way as the job features' lines.
  TJobHost& JobReports() { return *this; }

  int SessionCount() const { return sessions_.Count(); }
  int ListenerCount() const { return listeners_.Count(); }

  // The socket handlers. Each catches every failure at its edge and turns it
  // into a log line; the error code of the event is not looked at.
  void SrvSocketSessionAvailable(TCustomWSocket* sender, uint16_t error);
  void ClientSocketDataAvailable(TCustomWSocket* sender, uint16_t error);
  void ClientSocketSessionClosed(TCustomWSocket* sender, uint16_t error);

 private:
  enum class TPane { Port, Message };

  void CreateServerSockets();
  void RefuseSender(const TJob& job, int acceptedHandle);
  void DropHalfMadeSession(TClient* session, int acceptedHandle);
  void StoreChunk(TClient& session);
  void ReportClose(TClient& session);
  void EndFramedSession(TClient& session);
  void ReportCapture(TJob& capture, const std::optional<TFileIdentity>& file, int ownHolds);
  void Disconnect(TClient& session);
  void CloseOnOurSide(TClient& session);
  void CloseIdle(const std::vector<TClient*>& idle);
  void EndWithProgram(TClient& session);
  bool ShouldDeleteEmptyCapture(const std::optional<TFileIdentity>& file, int ownHolds) const;
  void ReceivePending(TClient& session);
  void CloseSessions();
  void RemoveSession(TClient& session);
  void ShowConnectionCount();
  void CutMessageLog();
  // Every failure line goes through here: a flood that repeats one failure
  // at one place is shown once a second, with a count.
  void ReportFailure(TPane pane, const std::string& where, const std::string& line,
                     const std::string& cause);
  void ReportCloseFailure(const std::exception& failure);

  // What the job features may do.
  void JobLine(const std::string& text) override;
  void JobFailure(const std::string& key, const std::string& text) override;
  void PortLine(const std::string& text) override;
  void PortFailure(const std::string& key, const std::string& text) override;
  void OpenCapture(const std::string& file) override;
  bool FileInUse(const TFileIdentity& file) const override;

  // What a session whose protocol frames its captures has done for it.
  void PrepareFramedCapture(TClient& session) override;
  void ReleaseFramedCapture(TClient& session) override;
  void FramedCaptureFinished(TJob& capture, const std::optional<TFileIdentity>& file,
                             std::string_view controlFile) override;
  void FramedCaptureFailed(const std::exception& failure) override;
  void FramedInputRefused(TClient& session, const std::string& line) override;

  TMonitorWindow& window_;
  std::string settingsPath_;
  bool destroying_ = false;
  // One buffer for every session: handlers never overlap.
  std::unique_ptr<TReceiveBuffer> receiveBuffer_ = std::make_unique<TReceiveBuffer>();
  TListeners listeners_;
  TSessionList sessions_;
  TRepeatedLines repeatedErrors_;
  std::unique_ptr<TIdleConnections> idle_;
  std::unique_ptr<TJobFileNames> jobFileNames_;
  std::unique_ptr<TJobFeatures> features_;
};
