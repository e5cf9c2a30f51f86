#include "jobs/job_notifier.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QVariantMap>
#include <string>
#include <vector>

#include "support/wait.h"

namespace {

// A notification server of the test's own: records every Notify call and
// answers with increasing ids.
class TRecordingServer : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

 public:
  struct TCall {
    std::string Summary, Body;
    QStringList Actions;
  };
  std::vector<TCall> Calls;

 public Q_SLOTS:
  uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
              const QStringList& actions, const QVariantMap&, int) {
    Calls.push_back({summary.toStdString(), body.toStdString(), actions});
    return static_cast<uint>(Calls.size());
  }
};

// A session bus of the test's own for the whole suite, so that the desktop
// the test runs on is never spoken to.
class JobNotifierTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    daemon_ = new QProcess;
    daemon_->start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    ASSERT_TRUE(daemon_->waitForReadyRead(10000)) << "dbus-daemon did not start";
    address_ = daemon_->readLine().trimmed();
  }
  static void TearDownTestSuite() {
    daemon_->kill();
    daemon_->waitForFinished();
    delete daemon_;
  }

  void SetUp() override { qputenv("DBUS_SESSION_BUS_ADDRESS", address_); }

  void TearDown() override {
    if (serving_) {
      server_.unregisterObject("/org/freedesktop/Notifications");
      server_.unregisterService("org.freedesktop.Notifications");
    }
    QDBusConnection::disconnectFromBus("test-server");
  }

  void Serve() {
    server_ = QDBusConnection::connectToBus(QString::fromUtf8(address_), "test-server");
    ASSERT_TRUE(server_.registerService("org.freedesktop.Notifications"));
    ASSERT_TRUE(server_.registerObject("/org/freedesktop/Notifications", &recorder_,
                                       QDBusConnection::ExportAllSlots));
    serving_ = true;
  }

  static TJob Job(int64_t bytes, const std::string& file = "/cap/job.txt") {
    TJob record;
    record.Port = "9100";
    record.PeerAddress = "10.0.0.5";
    record.Bytes = bytes;
    record.FileName = file;
    return record;
  }

  static QProcess* daemon_;
  static QByteArray address_;
  QDBusConnection server_{QString()};
  TRecordingServer recorder_;
  bool serving_ = false;
  std::vector<std::string> opened_;
};

QProcess* JobNotifierTest::daemon_ = nullptr;
QByteArray JobNotifierTest::address_;

TEST_F(JobNotifierTest, OnePerJobABurstMergedIntoOne) {
  Serve();
  TJobNotifier notifier([this](const std::string& file) { opened_.push_back(file); },
                        std::chrono::milliseconds(300));
  notifier.Notify(Job(1234));
  for (int i = 0; i < 12; ++i) notifier.Notify(Job(i, "/cap/job" + std::to_string(i)));
  ASSERT_TRUE(WaitUntil([&] { return recorder_.Calls.size() == 2; }));
  EXPECT_EQ(recorder_.Calls[0].Summary, "Job captured");
  EXPECT_EQ(recorder_.Calls[0].Body, "1,234 bytes from 10.0.0.5 on port 9100");
  EXPECT_EQ(recorder_.Calls[0].Actions, (QStringList{"open", "Open"}));
  EXPECT_EQ(recorder_.Calls[1].Summary, "12 jobs captured");
  EXPECT_EQ(recorder_.Calls[1].Body, "11 bytes from 10.0.0.5 on port 9100");

  // After a quiet interval a single job is one notification again.
  ASSERT_TRUE(WaitUntil([&] { return false; }, 700) || true);
  TJob deleted = Job(0);
  deleted.Outcome = TJob::TOutcome::DeletedEmpty;
  notifier.Notify(deleted);
  ASSERT_TRUE(WaitUntil([&] { return recorder_.Calls.size() == 3; }));
  EXPECT_EQ(recorder_.Calls[2].Summary, "Job captured");
  EXPECT_EQ(recorder_.Calls[2].Body, "0 bytes from 10.0.0.5 on port 9100");
  EXPECT_TRUE(recorder_.Calls[2].Actions.isEmpty());
}

TEST_F(JobNotifierTest, OpenOpensTheNotifiedFile) {
  Serve();
  TJobNotifier notifier([this](const std::string& file) { opened_.push_back(file); });
  notifier.Notify(Job(5, "/cap/a b.txt"));
  ASSERT_TRUE(WaitUntil([&] { return recorder_.Calls.size() == 1; }));
  // The id comes back asynchronously; the action is sent until it is known.
  auto invoke = [&](uint id, const char* action) {
    QDBusMessage signal = QDBusMessage::createSignal(
        "/org/freedesktop/Notifications", "org.freedesktop.Notifications", "ActionInvoked");
    signal << id << QString(action);
    server_.send(signal);
  };
  invoke(7, "open");  // someone else's notification
  invoke(1, "other");
  ASSERT_TRUE(WaitUntil([&] {
    invoke(1, "open");
    return !opened_.empty();
  }));
  EXPECT_EQ(opened_.front(), "/cap/a b.txt");
}

TEST_F(JobNotifierTest, WithoutAServiceNothingIsShownAndCapturingGoesOn) {
  TJobNotifier notifier([this](const std::string& file) { opened_.push_back(file); },
                        std::chrono::milliseconds(10));
  for (int i = 0; i < 3; ++i) {
    notifier.Notify(Job(i));
    WaitUntil([] { return false; }, 50);
  }
  // Nothing to assert on the bus; what matters is that nothing waited or
  // failed. No session bus at all behaves the same.
  qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
  TJobNotifier unconnected([](const std::string&) {});
  unconnected.Notify(Job(1));
  EXPECT_TRUE(recorder_.Calls.empty());
}

}  // namespace

#include "job_notifier_test.moc"
