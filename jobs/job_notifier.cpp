#include "jobs/job_notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>
#include <atomic>
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

}  // namespace

std::string DescribeJobForNotification(const TJob& record) {
  const std::string where = "from " + record.PeerAddress + " on port " + record.Port;
  return GroupThousands(record.Bytes) + " bytes " + where;
}

TJobNotifier::TJobNotifier(TOpen open, std::chrono::milliseconds interval)
    : open_(std::move(open)) {
  static std::atomic<int> made{0};
  connectionName_ = QString("tarnock-notifications-%1").arg(++made);
  interval_.setSingleShot(true);
  interval_.setInterval(interval);
  connect(&interval_, &QTimer::timeout, this, [this] { IntervalEnded(); });
}

TJobNotifier::~TJobNotifier() {
  if (bus_) QDBusConnection::disconnectFromBus(connectionName_);
}

void TJobNotifier::Notify(const TJob& record) {
  if (interval_.isActive()) {
    ++held_;
    lastHeld_ = record;
    return;
  }
  Send("Job captured", record);
  interval_.start();
}

void TJobNotifier::IntervalEnded() {
  if (held_ == 0) return;
  const std::string summary =
      held_ == 1 ? std::string("Job captured") : GroupThousands(held_) + " jobs captured";
  Send(summary, *lastHeld_);
  held_ = 0;
  lastHeld_.reset();
  interval_.start();
}

// The session bus is reached on first use, on a connection of our own, so
// that a bus that is not there costs one attempt.
bool TJobNotifier::Connected() {
  if (!bus_) {
    bus_ = QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName_);
    if (bus_->isConnected()) {
      bus_->connect(QString(), kPath, kInterface, "ActionInvoked", this,
                    SLOT(ActionInvoked(uint, QString)));
      bus_->connect(QString(), kPath, kInterface, "NotificationClosed", this,
                    SLOT(NotificationClosed(uint, uint)));
    }
  }
  if (bus_->isConnected()) return true;
  SayUnavailable("no session bus");
  return false;
}

void TJobNotifier::SayUnavailable(const std::string& why) {
  if (unavailableSaid_) return;
  unavailableSaid_ = true;
  StandardErrorLog().Write("Desktop notifications not shown: " + why + "\n");
}

void TJobNotifier::Send(const std::string& summary, const TJob& last) {
  if (!Connected()) return;
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
  const QStringList actions = HasFile(last) ? QStringList{kOpenAction, "Open"} : QStringList{};
  call << QString("Tarnock") << uint(0) << QString("org.tarnock.Tarnock") << Text(summary)
       << Text(DescribeJobForNotification(last)) << actions << QVariantMap{} << int(-1);
  auto* watcher = new QDBusPendingCallWatcher(bus_->asyncCall(call), this);
  const std::string file = HasFile(last) ? last.FileName : std::string();
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
