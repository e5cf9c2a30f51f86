#include "jobs/job_notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>
#include <atomic>
#include <cstdlib>
#include <utility>

#include "base/log_writer.h"
#include "base/text.h"

namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr const char* kOpenAction = "open";
// Notifications whose Open is remembered; the oldest go first.
constexpr std::size_t kRememberedFiles = 100;
// Causes of notifications not shown that are said; a service answering
// every call with a new error name must not flood the logs.
constexpr std::size_t kCausesSaid = 8;

std::string GroupThousands(int64_t value) {
  const std::string digits = FormatInteger(value < 0 ? -value : value);
  std::string grouped = value < 0 ? "-" : "";
  for (std::size_t at = 0; at < digits.size(); ++at) {
    if (at > 0 && (digits.size() - at) % 3 == 0) grouped += ',';
    grouped += digits[at];
  }
  return grouped;
}

QString Text(const std::string& text) { return QString::fromStdString(text); }

bool HasFile(const TJob& record) {
  return record.Outcome != TJob::TOutcome::DeletedEmpty && !record.FileName.empty();
}

std::string Origin(const TJob& record) {
  return "from " + record.PeerAddress + " on port " + record.Port;
}

}  // namespace

void TJobBatch::Add(const TJob& record) {
  ++Jobs;
  Bytes += record.Bytes;
  Last = record;
}

void TJobBatch::Add(const TJobBatch& other) {
  if (other.Jobs == 0) return;
  Jobs += other.Jobs;
  Bytes += other.Bytes;
  Last = other.Last;
}

std::string DescribeJobForNotification(const TJob& record) {
  return GroupThousands(record.Bytes) + " bytes " + Origin(record);
}

std::string NotificationSummary(const TJobBatch& batch) {
  if (batch.Jobs == 1) return "Job captured";
  return GroupThousands(batch.Jobs) + " jobs captured";
}

// The last job alone has a file to open, so the body names it and no other.
std::string NotificationBody(const TJobBatch& batch) {
  if (batch.Jobs == 1) return DescribeJobForNotification(batch.Last);
  return GroupThousands(batch.Bytes) + " bytes in all, the last " + Origin(batch.Last);
}

TJobNotifier::TJobNotifier(TOpen open, TJobNotifierOptions options)
    : open_(std::move(open)), options_(std::move(options)) {
  static std::atomic<int> made{0};
  connectionName_ = QString("tarnock-notifications-%1").arg(++made);
  interval_.setSingleShot(true);
  interval_.setInterval(options_.Interval);
  connect(&interval_, &QTimer::timeout, this, [this] { IntervalEnded(); });
}

TJobNotifier::~TJobNotifier() = default;

void TJobNotifier::Notify(const TJob& record) {
  if (interval_.isActive()) {
    held_.Add(record);
    return;
  }
  TJobBatch one;
  one.Add(record);
  Send(one);
  interval_.start();
}

void TJobNotifier::IntervalEnded() {
  if (held_.Jobs == 0) return;
  Send(held_);
  held_ = TJobBatch{};
  interval_.start();
}

void TJobNotifier::Send(const TJobBatch& batch) {
  switch (state_) {
    case TBusState::Connected:
      Call(batch);
      return;
    case TBusState::Unavailable:
      return;
    case TBusState::Connecting:
      waiting_.Add(batch);
      return;
    case TBusState::NotTried:
      waiting_.Add(batch);
      StartConnecting();
      return;
  }
}

// Only an address taken from the environment is ever used, so the D-Bus
// library never looks for (or starts) a session bus of its own.
void TJobNotifier::StartConnecting() {
  const TSessionBusChoice choice =
      ChooseSessionBus(std::getenv("DBUS_SESSION_BUS_ADDRESS"), std::getenv("XDG_RUNTIME_DIR"));
  if (!choice.Bus) {
    BusReached(nullptr, choice.Failure);
    return;
  }
  state_ = TBusState::Connecting;
  connector_ = std::make_unique<TSessionBusConnector>(connectionName_, options_.BusAnswerTimeout);
  // The signals are hooked up on the connecting thread, as that waits on the
  // library's own thread.
  connector_->Start(
      *choice.Bus,
      [this](QDBusConnection& bus) {
        bus.connect(QString(), kPath, kInterface, "ActionInvoked", this,
                    SLOT(ActionInvoked(uint, QString)));
        bus.connect(QString(), kPath, kInterface, "NotificationClosed", this,
                    SLOT(NotificationClosed(uint, uint)));
      },
      [this](const QDBusConnection* bus, const std::string& failure) { BusReached(bus, failure); });
}

void TJobNotifier::BusReached(const QDBusConnection* bus, const std::string& failure) {
  const TJobBatch waiting = waiting_;
  waiting_ = TJobBatch{};
  if (bus == nullptr) {
    state_ = TBusState::Unavailable;
    SayUnavailable(failure);
    return;
  }
  bus_ = *bus;
  state_ = TBusState::Connected;
  if (waiting.Jobs > 0) Call(waiting);
}

// Every job while the cause lasts would say it again: each cause is said
// once in the run.
void TJobNotifier::SayUnavailable(const std::string& why) {
  if (causesSaid_.size() >= kCausesSaid || !causesSaid_.insert(why).second) return;
  const std::string line = "Desktop notifications not shown: " + why;
  if (options_.Say)
    options_.Say(line);
  else
    StandardErrorLog().Write(line + "\n");
}

void TJobNotifier::Call(const TJobBatch& batch) {
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
  const bool hasFile = HasFile(batch.Last);
  const QStringList actions = hasFile ? QStringList{kOpenAction, "Open"} : QStringList{};
  call << QString("Tarnock") << uint(0) << QString("org.tarnock.Tarnock")
       << Text(NotificationSummary(batch)) << Text(NotificationBody(batch)) << actions
       << QVariantMap{} << int(-1);
  auto* watcher = new QDBusPendingCallWatcher(bus_->asyncCall(call), this);
  const std::string file = hasFile ? batch.Last.FileName : std::string();
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, file](QDBusPendingCallWatcher* finished) {
            finished->deleteLater();
            const QDBusPendingReply<uint> reply = *finished;
            if (reply.isError()) {
              SayUnavailable(reply.error().name().toStdString());
              return;
            }
            if (file.empty()) return;
            if (files_.size() >= kRememberedFiles) files_.erase(files_.begin());
            files_[reply.value()] = file;
          });
}

void TJobNotifier::ActionInvoked(uint id, const QString& action) {
  const auto found = files_.find(id);
  if (found == files_.end() || action != kOpenAction) return;
  if (open_) open_(found->second);
}

void TJobNotifier::NotificationClosed(uint id, uint /*reason*/) { files_.erase(id); }
