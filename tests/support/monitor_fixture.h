#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/monitor.h"
#include "jobs/job_feature_set.h"
#include "support/fake_monitor_window.h"
#include "support/temp_folder.h"

// The fake window, also counting message lines by kind as they arrive: the
// message log itself is cut to its last 500 lines.
class TCountingWindow : public TFakeMonitorWindow {
 public:
  int Connected = 0, SizeLines = 0, Disconnected = 0, Errors = 0;
  // Repeated error lines held back, as the "(and N more)" of lines say.
  int HeldBack = 0;
  // The newest "Connected to" line: a held-back error line may be shown
  // after it, by the timer, before a test looks.
  std::string LastConnected;
  void AppendMessageLine(const std::string& line) override;
};

// A capture monitor on one free loopback port with a fake window, its
// settings file and capture folder in a temporary folder. The usual port
// definition captures to <root>/cap/job.txt. Peers still open are closed at
// teardown.
class MonitorFixture : public TempFolderTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string Root() const { return root_; }
  std::string IniPath() const { return Root() + "/tarnock.ini"; }
  std::string CaptureFolder() const { return Root() + "/cap"; }
  std::string CapturePath() const { return CaptureFolder() + "/job.txt"; }
  std::string PortText() const { return std::to_string(port_); }

  // The settings file holding only the given [Ports] lines.
  void WritePorts(const std::vector<std::string>& lines);
  void WritePortValue(const std::string& value) { WritePorts({PortText() + "=" + value}); }
  void WriteCapturePort(const char* overwrite = "F") {
    WritePortValue(CaptureFolder() + ",'job'," + overwrite + ",0,");
  }

  // Makes the monitor on the settings file and starts it.
  void StartMonitor();
  // A connected peer, taken by the monitor once this returns; -1 on failure.
  int Connect();
  // Sends the bytes and waits until the capture file has grown by them.
  void SendStored(int peer, const std::string& bytes);
  // Sends the bytes and waits until the message log has one more line.
  void SendFailing(int peer, const std::string& bytes);
  // Half-closes the peer and waits until its session is gone.
  void Finish(int peer);
  // One more job on a new connection, whose bytes must follow what the
  // capture file held: the service goes on after what the test did to it.
  void ExpectNextJobCaptured(const std::string& held, const std::string& bytes);

  // Message log lines from the index on.
  std::vector<std::string> LinesFrom(std::size_t first) const;

  uint16_t port_ = 0;
  TCountingWindow window_;
  std::unique_ptr<TCaptureMonitor> monitor_;
  std::vector<int> peers_;
};

// Bytes of every value, zero bytes included, with no period short enough to
// hide a lost, reordered or repeated piece; seed tells two patterns apart.
std::string Pattern(std::size_t size, unsigned seed = 0);

// The close report of a session whose file holds size bytes and whose peer is
// 127.0.0.1: size line, then the disconnect line.
void ExpectCloseReport(const std::vector<std::string>& lines, std::size_t size,
                       const std::string& path);
