#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "capture/job.h"

// "1,234 bytes from 10.0.0.5 on port 9100": a job in one line.
std::string DescribeJobForNotification(const TJob& record);

// One desktop notification per finished job through the desktop's
// notification service on the session bus. A burst is merged: after a
// notification the next one waits out the interval, then says how many jobs
// came meanwhile. Every call is asynchronous, so capturing never waits on
// the bus; without a service nothing is shown, and standard error says so
// once.
class TJobNotifier : public QObject {
  Q_OBJECT

 public:
  using TOpen = std::function<void(const std::string& file)>;
  static constexpr std::chrono::milliseconds kInterval{2000};

  // open is called with the capture file when the operator chooses Open.
  explicit TJobNotifier(TOpen open, std::chrono::milliseconds interval = kInterval);
  ~TJobNotifier() override;
  TJobNotifier(const TJobNotifier&) = delete;
  TJobNotifier& operator=(const TJobNotifier&) = delete;

  void Notify(const TJob& record);

 private Q_SLOTS:
  void ActionInvoked(uint id, const QString& action);
  void NotificationClosed(uint id, uint reason);

 private:
  void IntervalEnded();
  void Send(const std::string& summary, const TJob& last);
  bool Connected();
  void SayUnavailable(const std::string& why);

  TOpen open_;
  QTimer interval_;
  // Jobs that came while the interval ran, and the last of them.
  int64_t held_ = 0;
  std::optional<TJob> lastHeld_;
  QString connectionName_;
  std::optional<QDBusConnection> bus_;
  // The file each shown notification opens, by its id; bounded.
  std::map<uint, std::string> files_;
  bool unavailableSaid_ = false;
};
