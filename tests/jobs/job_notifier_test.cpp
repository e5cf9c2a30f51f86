#include "jobs/job_notifier.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QTimer>
#include <QVariantMap>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "jobs/job_feature_set.h"
#include "support/loopback.h"
#include "support/temp_folder.h"
#include "support/wait.h"

namespace {

using namespace std::chrono_literals;

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
  // The bus listens in a runtime folder of its own, as a desktop's does.
  static void SetUpTestSuite() {
    runtime_ = new TTempFolder;
    daemon_ = new QProcess;
    daemon_->start("dbus-daemon",
                   {"--session", "--nofork", "--print-address=1",
                    QString::fromStdString("--address=unix:path=" + runtime_->Path() + "/bus")});
    ASSERT_TRUE(daemon_->waitForReadyRead(10000)) << "dbus-daemon did not start";
    address_ = daemon_->readLine().trimmed();
  }
  static void TearDownTestSuite() {
    daemon_->kill();
    daemon_->waitForFinished();
    delete daemon_;
    delete runtime_;
  }

  void SetUp() override {
    for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR", "DISPLAY"})
      saved_.emplace_back(name, qgetenv(name), qEnvironmentVariableIsSet(name));
    qputenv("DBUS_SESSION_BUS_ADDRESS", address_);
  }

  void RestoreEnvironment() {
    for (const auto& [name, value, set] : saved_) {
      if (set)
        qputenv(name, value);
      else
        qunsetenv(name);
    }
  }

  void TearDown() override {
    RestoreEnvironment();
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

  // Short waits, and what the notifier says kept.
  TJobNotifierOptions Options(std::chrono::milliseconds interval = 50ms) {
    TJobNotifierOptions options;
    options.Interval = interval;
    options.Say = [this](const std::string& line) { said_.push_back(line); };
    return options;
  }

  // Jobs the notifications so far told of.
  int JobsTold() const {
    int jobs = 0;
    for (const auto& call : recorder_.Calls)
      jobs += call.Summary == "Job captured" ? 1 : std::stoi(call.Summary);
    return jobs;
  }

  TJobNotifier::TOpen Opener() {
    return [this](const std::string& file) { opened_.push_back(file); };
  }

  static TTempFolder* runtime_;
  static QProcess* daemon_;
  static QByteArray address_;
  std::vector<std::tuple<const char*, QByteArray, bool>> saved_;
  QDBusConnection server_{QString()};
  TRecordingServer recorder_;
  bool serving_ = false;
  std::vector<std::string> opened_;
  std::vector<std::string> said_;
};

TTempFolder* JobNotifierTest::runtime_ = nullptr;
QProcess* JobNotifierTest::daemon_ = nullptr;
QByteArray JobNotifierTest::address_;

TEST_F(JobNotifierTest, OnePerJobABurstMergedIntoOne) {
  Serve();
  TJobNotifier notifier(Opener(), Options());
  notifier.Notify(Job(1234));
  ASSERT_TRUE(WaitUntil([&] { return recorder_.Calls.size() == 1; }));
  EXPECT_EQ(recorder_.Calls[0].Summary, "Job captured");
  EXPECT_EQ(recorder_.Calls[0].Body, "1,234 bytes from 10.0.0.5 on port 9100");
  EXPECT_EQ(recorder_.Calls[0].Actions, (QStringList{"open", "Open"}));

  // A burst once the bus is reached: the first job alone, the rest merged
  // with their own bytes together.
  ASSERT_TRUE(WaitUntil([&] { return !notifier.Merging(); }));
  notifier.Notify(Job(5));
  for (int i = 1; i <= 12; ++i) notifier.Notify(Job(1000 * i, "/cap/job" + std::to_string(i)));
  ASSERT_TRUE(WaitUntil([&] { return recorder_.Calls.size() == 3; }));
  EXPECT_EQ(recorder_.Calls[1].Summary, "Job captured");
  EXPECT_EQ(recorder_.Calls[1].Body, "5 bytes from 10.0.0.5 on port 9100");
  EXPECT_EQ(recorder_.Calls[2].Summary, "12 jobs captured");
  EXPECT_EQ(recorder_.Calls[2].Body, "78,000 bytes in all, the last from 10.0.0.5 on port 9100");

  // After a quiet interval a single job is one notification again.
  ASSERT_TRUE(WaitUntil([&] { return !notifier.Merging(); }));
  TJob deleted = Job(0);
  deleted.Outcome = TJob::TOutcome::DeletedEmpty;
  notifier.Notify(deleted);
  ASSERT_TRUE(WaitUntil([&] { return recorder_.Calls.size() == 4; }));
  EXPECT_EQ(recorder_.Calls[3].Summary, "Job captured");
  EXPECT_EQ(recorder_.Calls[3].Body, "0 bytes from 10.0.0.5 on port 9100");
  EXPECT_TRUE(recorder_.Calls[3].Actions.isEmpty());
  EXPECT_TRUE(said_.empty()) << testing::PrintToString(said_);
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

enum class TRuntime { Unset, Empty, SuiteBus };

struct TReachCase {
  const char* name;
  // DBUS_SESSION_BUS_ADDRESS: "<suite>" the suite's bus, "<silent>" a socket
  // that never answers, nullptr unset.
  const char* variable;
  TRuntime runtime;
  bool serve;
  // The one line said, "<silent>" standing for the silent socket's path;
  // nullptr when the notification is shown.
  const char* said;
};

class JobNotifierReachTest : public JobNotifierTest,
                             public testing::WithParamInterface<TReachCase> {};

// Whatever is wrong with the bus, three jobs never fail or wait, and one
// line says why nothing is shown.
TEST_P(JobNotifierReachTest, ShowsOrSaysOnceWhyNot) {
  const TReachCase& c = GetParam();
  if (c.serve) Serve();
  TTempFolder folder;
  const std::string silent = folder.Path() + "/silent";
  const int listening = ListenOnUnixPath(silent);
  ASSERT_GE(listening, 0);
  const auto spelled = [&](std::string text) {
    for (const auto& [mark, value] : {std::pair<std::string, std::string>{"<silent>", silent},
                                      {"<suite>", address_.toStdString()}}) {
      if (const std::size_t at = text.find(mark); at != std::string::npos)
        text.replace(at, mark.size(), value);
    }
    return text;
  };
  if (c.variable == nullptr)
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
  else
    qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray::fromStdString(spelled(c.variable)));
  if (c.runtime == TRuntime::Unset)
    qunsetenv("XDG_RUNTIME_DIR");
  else
    qputenv("XDG_RUNTIME_DIR",
            QByteArray::fromStdString(c.runtime == TRuntime::SuiteBus ? runtime_->Path()
                                                                      : folder.Path() + "/empty"));
  qputenv("DISPLAY", ":0");
  TJobNotifierOptions options = Options(10ms);
  options.BusAnswerTimeout = 50ms;
  TJobNotifier notifier(Opener(), options);
  for (int i = 0; i < 3; ++i) notifier.Notify(Job(i));
  if (c.said == nullptr) {
    // Jobs that came while the bus was being reached are merged with them.
    ASSERT_TRUE(WaitUntil([&] { return JobsTold() == 3; }));
    EXPECT_TRUE(said_.empty()) << testing::PrintToString(said_);
  } else {
    ASSERT_TRUE(WaitUntil([&] { return !said_.empty() && !notifier.Merging(); }));
    EXPECT_EQ(said_,
              std::vector<std::string>{"Desktop notifications not shown: " + spelled(c.said)});
  }
  ::close(listening);
}

INSTANTIATE_TEST_SUITE_P(
    Buses, JobNotifierReachTest,
    testing::Values(
        TReachCase{"Served", "<suite>", TRuntime::Unset, true, nullptr},
        TReachCase{"RuntimeBusWithoutVariable", nullptr, TRuntime::SuiteBus, true, nullptr},
        TReachCase{"NoService", "<suite>", TRuntime::Unset, false,
                   "org.freedesktop.DBus.Error.ServiceUnknown"},
        // Nothing is started in place of a bus, though a display is there.
        TReachCase{"NoBus", nullptr, TRuntime::Empty, false, "no session bus"},
        TReachCase{"MissingSocket", "unix:path=/nonexistent/bus", TRuntime::Unset, false,
                   "session bus unix:path=/nonexistent/bus: No such file or directory"},
        TReachCase{"Silent", "unix:path=<silent>", TRuntime::Unset, false,
                   "session bus unix:path=<silent> did not answer"}),
    [](const auto& info) { return std::string(info.param.name); });

// Each cause once, however many jobs meet it: the bus's own answer while no
// service has the name, then the service's while it has no such object.
TEST_F(JobNotifierTest, SaysEachCauseOnce) {
  TJobNotifier notifier(Opener(), Options(10ms));
  const auto notifyUntil = [&](std::size_t said) {
    notifier.Notify(Job(1));
    return WaitUntil([&] { return said_.size() == said && !notifier.Merging(); });
  };
  ASSERT_TRUE(notifyUntil(1));
  ASSERT_TRUE(notifyUntil(1));
  server_ = QDBusConnection::connectToBus(QString::fromUtf8(address_), "test-server");
  ASSERT_TRUE(server_.registerService("org.freedesktop.Notifications"));
  ASSERT_TRUE(notifyUntil(2));
  ASSERT_TRUE(notifyUntil(2));
  // Answered in order: once shown, every earlier failure has come back.
  Serve();
  notifier.Notify(Job(1));
  ASSERT_TRUE(WaitUntil([&] { return recorder_.Calls.size() == 1; }));
  EXPECT_EQ(said_,
            (std::vector<std::string>{
                "Desktop notifications not shown: org.freedesktop.DBus.Error.ServiceUnknown",
                "Desktop notifications not shown: org.freedesktop.DBus.Error.UnknownObject"}));
}

// The message log holds the line (and with it standard error), once.
TEST_F(JobNotifierTest, FeaturesSayItInTheMessageLog) {
  class TLineHost : public TJobHost {
   public:
    std::vector<std::string> Lines;
    void JobLine(const std::string& text) override { Lines.push_back(text); }
    void JobFailure(const std::string&, const std::string& text) override { Lines.push_back(text); }
    void PortLine(const std::string&) override {}
    void PortFailure(const std::string&, const std::string&) override {}
    void OpenCapture(const std::string&) override {}
    bool FileInUse(const TFileIdentity&) const override { return false; }
  } host;
  TTempFolder folder;
  qunsetenv("DBUS_SESSION_BUS_ADDRESS");
  qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(folder.Path()));
  TJobFeatureSet features(host, folder.Path() + "/tarnock.ini");
  TJob job = Job(1);
  job.Options.Notify = true;
  for (int i = 0; i < 3; ++i) features.Finished(job);
  EXPECT_EQ(host.Lines,
            std::vector<std::string>{"Desktop notifications not shown: no session bus"});
}

// A bus that accepts and never speaks: every job is taken at once and merged
// while the event loop goes on turning, and the program's end does not wait
// for the bus.
TEST_F(JobNotifierTest, AHungBusNeverHoldsUpTheEventLoop) {
  TTempFolder folder;
  const std::string silent = folder.Path() + "/hung";
  const int listening = ListenOnUnixPath(silent);
  ASSERT_GE(listening, 0);
  qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray::fromStdString("unix:path=" + silent));
  {
    TJobNotifierOptions options = Options(10ms);
    options.BusAnswerTimeout = std::chrono::hours(1);
    TJobNotifier notifier(Opener(), options);
    for (int i = 0; i < 30; ++i) notifier.Notify(Job(i));
    int turns = 0;
    QTimer ticking;
    QObject::connect(&ticking, &QTimer::timeout, [&] { ++turns; });
    ticking.start(0);
    // Turns of the loop, and the interval running out with the jobs merged.
    ASSERT_TRUE(WaitUntil([&] { return turns >= 20 && !notifier.Merging(); }));
  }
  EXPECT_TRUE(said_.empty()) << testing::PrintToString(said_);
  ::close(listening);
}

}  // namespace

#include "job_notifier_test.moc"
