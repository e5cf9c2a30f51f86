#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "capture/job.h"
#include "jobs/session_bus.h"

// Jobs that one notification tells of.
struct TJobBatch {
  int64_t Jobs = 0;
  // The jobs' own bytes together.
  int64_t Bytes = 0;
  TJob Last;

  void Add(const TJob& record);
  void Add(const TJobBatch& other);
};

// "1,234 bytes from 10.0.0.5 on port 9100": a job in one line.
std::string DescribeJobForNotification(const TJob& record);
// "Job captured", or "12 jobs captured".
std::string NotificationSummary(const TJobBatch& batch);
// One job as DescribeJobForNotification says it; several as "12,345 bytes
// in all, the last from 10.0.0.5 on port 9100".
std::string NotificationBody(const TJobBatch& batch);

struct TJobNotifierOptions {
  // After a notification the next waits this long; jobs meanwhile are merged.
  std::chrono::milliseconds Interval{2000};
  // How long the session bus may take to answer at all.
  std::chrono::milliseconds BusAnswerTimeout = TSessionBusConnector::kAnswerTimeout;
  // Takes "Desktop notifications not shown: ..." (without a line end), once
  // for each cause; empty: standard error.
  std::function<void(const std::string& line)> Say;
};

// One desktop notification per finished job through the desktop's
// notification service on the session bus. A burst is merged: after a
// notification the next one waits out the interval, then tells of the jobs
// that came meanwhile. The bus is never waited on: it is reached on a thread
// of its own (TSessionBusConnector) while jobs go on being merged, and every
// call is asynchronous. Without a bus or a service nothing is shown, and
// one line says why, once for each cause.
class TJobNotifier : public QObject {
  Q_OBJECT

 public:
  using TOpen = std::function<void(const std::string& file)>;

  // open is called with the capture file when the operator chooses Open.
  explicit TJobNotifier(TOpen open, TJobNotifierOptions options = {});
  ~TJobNotifier() override;
  TJobNotifier(const TJobNotifier&) = delete;
  TJobNotifier& operator=(const TJobNotifier&) = delete;

  void Notify(const TJob& record);
  // Whether a notification went out less than the interval ago, so that a
  // job now would be merged.
  bool Merging() const { return interval_.isActive(); }

 private Q_SLOTS:
  void ActionInvoked(uint id, const QString& action);
  void NotificationClosed(uint id, uint reason);

 private:
  enum class TBusState { NotTried, Connecting, Connected, Unavailable };

  void IntervalEnded();
  void Send(const TJobBatch& batch);
  void StartConnecting();
  void BusReached(const QDBusConnection* bus, const std::string& failure);
  void Call(const TJobBatch& batch);
  void SayUnavailable(const std::string& why);

  TOpen open_;
  TJobNotifierOptions options_;
  QTimer interval_;
  // Jobs that came while the interval ran.
  TJobBatch held_;
  // What is to be shown once the bus is reached.
  TJobBatch waiting_;
  TBusState state_ = TBusState::NotTried;
  QString connectionName_;
  // Goes after bus_, which it closes.
  std::unique_ptr<TSessionBusConnector> connector_;
  std::optional<QDBusConnection> bus_;
  // The file each shown notification opens, by its id; bounded.
  std::map<uint, std::string> files_;
  // Why notifications were not shown, as said so far; bounded.
  std::set<std::string> causesSaid_;
};
