#include "jobs/service_advertiser.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDBusContext>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QProcess>
#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "capture/ini_file.h"
#include "jobs/job_feature_set.h"
#include "support/loopback.h"
#include "support/temp_folder.h"
#include "support/wait.h"

namespace {

// The daemon's entry groups, all served by one object that tells them apart
// by path: records every call, and answers a commit with the state a daemon
// reaches for the name.
class TGroupsStandIn : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Avahi.EntryGroup")

 public:
  std::vector<std::string> Calls;
  std::set<QString> TakenHere, TakenOnTheNetwork;

 public Q_SLOTS:
  void AddService(int interface, int protocol, uint flags, const QString& name, const QString& type,
                  const QString& domain, const QString& host, ushort port,
                  const QList<QByteArray>& txt) {
    QString line = QString(" %1 %2 %3 '%4' %5 '%6' '%7' %8 ")
                       .arg(interface)
                       .arg(protocol)
                       .arg(flags)
                       .arg(name, type, domain, host)
                       .arg(port);
    for (const QByteArray& item : txt) line += QString::fromUtf8(item) + "|";
    Record("AddService", line);
    names_[message().path()] = name;
    if (TakenHere.count(name))
      sendErrorReply("org.freedesktop.Avahi.CollisionError", "Local name collision");
  }
  void Commit() {
    Record("Commit");
    const QString name = names_[message().path()];
    const int state = TakenOnTheNetwork.count(name) ? 3 : name == "Fail" ? 4 : 2;
    QDBusMessage signal = QDBusMessage::createSignal(
        message().path(), "org.freedesktop.Avahi.EntryGroup", "StateChanged");
    signal << state << QString(state == 4 ? "Not permitted" : "");
    connection().send(signal);
  }
  void Reset() { Record("Reset"); }
  void Free() { Record("Free"); }

 private:
  // "Commit /g1": the call, its group, what it was given.
  void Record(const QString& call, const QString& given = {}) {
    Calls.push_back((call + " " + message().path() + given).toStdString());
  }
  std::map<QString, QString> names_;
};

class TServerStandIn : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Avahi.Server")

 public:
  TServerStandIn(QDBusConnection bus, TGroupsStandIn& groups) : bus_(bus), groups_(groups) {}

 public Q_SLOTS:
  QDBusObjectPath EntryGroupNew() {
    const QString path = QString("/g%1").arg(++made_);
    groups_.Calls.push_back("EntryGroupNew " + path.toStdString());
    bus_.registerObject(path, &groups_, QDBusConnection::ExportAllSlots);
    return QDBusObjectPath(path);
  }

 private:
  QDBusConnection bus_;
  TGroupsStandIn& groups_;
  int made_ = 0;
};

TServiceAdvert Service(const std::string& name = "Front desk") {
  return {
      "9100", 9100, name, "_pdl-datastream._tcp", {"txtvers=1", "note=a b"}, TAdvertProtocol::IPv4};
}

std::string Added(const std::string& group, const std::string& name) {
  return "AddService " + group + " -1 0 0 '" + name +
         "' _pdl-datastream._tcp '' '' 9100 txtvers=1|note=a b|";
}

// A system bus of the test's own, where the stand-in answers for the daemon.
class ServiceAdvertiserTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    qDBusRegisterMetaType<QList<QByteArray>>();
    folder_ = new TTempFolder;
    daemon_ = new QProcess;
    daemon_->start("dbus-daemon", {"--session", "--nofork", "--print-address=1",
                                   QString::fromStdString("--address=unix:path=" +
                                                          folder_->FilePath("system_bus"))});
    ASSERT_TRUE(daemon_->waitForReadyRead(10000)) << "dbus-daemon did not start";
    address_ = daemon_->readLine().trimmed();
  }
  static void TearDownTestSuite() {
    daemon_->kill();
    daemon_->waitForFinished();
    delete daemon_;
    delete folder_;
  }

  void SetUp() override {
    saved_ = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    wasSet_ = qEnvironmentVariableIsSet("DBUS_SYSTEM_BUS_ADDRESS");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address_);
  }
  void TearDown() override {
    if (wasSet_)
      qputenv("DBUS_SYSTEM_BUS_ADDRESS", saved_);
    else
      qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    if (server_) {
      bus_.unregisterService("org.freedesktop.Avahi");
      server_.reset();
    }
    QDBusConnection::disconnectFromBus("test-avahi");
  }

  void Serve() {
    bus_ = QDBusConnection::connectToBus(QString::fromUtf8(address_), "test-avahi");
    server_ = std::make_unique<TServerStandIn>(bus_, groups_);
    EXPECT_TRUE(bus_.registerService("org.freedesktop.Avahi"));
    EXPECT_TRUE(bus_.registerObject("/", server_.get(), QDBusConnection::ExportAllSlots));
  }

  TServiceAdvertiserOptions Options() {
    TServiceAdvertiserOptions options;
    options.Say = [this](const std::string& line) { said_.push_back(line); };
    options.Fail = [this](const std::string&, const std::string& line) { said_.push_back(line); };
    return options;
  }

  bool Called(const std::string& line) const {
    return std::find(groups_.Calls.begin(), groups_.Calls.end(), line) != groups_.Calls.end();
  }

  static TTempFolder* folder_;
  static QProcess* daemon_;
  static QByteArray address_;
  QByteArray saved_;
  bool wasSet_ = false;
  QDBusConnection bus_{QString()};
  TGroupsStandIn groups_;
  std::unique_ptr<TServerStandIn> server_;
  std::vector<std::string> said_;
};

TTempFolder* ServiceAdvertiserTest::folder_ = nullptr;
QProcess* ServiceAdvertiserTest::daemon_ = nullptr;
QByteArray ServiceAdvertiserTest::address_;

struct TNameCase {
  const char* name;
  std::set<QString> takenHere, takenOnTheNetwork;
  std::string serviceName;
  std::vector<std::string> calls;
  std::string said;
};

class ServiceAdvertiserNameTest : public ServiceAdvertiserTest,
                                  public testing::WithParamInterface<TNameCase> {};

// A taken name gives way to the next free one, however the daemon tells it;
// the group is freed once withdrawn.
TEST_P(ServiceAdvertiserNameTest, PublishesUnderTheNextFreeNameAndFreesAtStop) {
  const TNameCase& c = GetParam();
  Serve();
  groups_.TakenHere = c.takenHere;
  groups_.TakenOnTheNetwork = c.takenOnTheNetwork;
  TServiceAdvertiser advertiser(Options());
  advertiser.Publish({Service(c.serviceName)});
  ASSERT_TRUE(WaitUntil([&] { return !said_.empty(); }));
  EXPECT_EQ(said_, std::vector<std::string>{c.said});
  advertiser.Withdraw();
  std::vector<std::string> expected = c.calls;
  expected.insert(expected.begin(), "EntryGroupNew /g1");
  expected.push_back("Free /g1");
  ASSERT_TRUE(WaitUntil([&] { return Called("Free /g1"); }));
  EXPECT_EQ(groups_.Calls, expected);
}

const char* const kAdvertised = "Port 9100 advertised as \"";
INSTANTIATE_TEST_SUITE_P(
    Names, ServiceAdvertiserNameTest,
    testing::Values(TNameCase{"Free",
                              {},
                              {},
                              "Front desk",
                              {Added("/g1", "Front desk"), "Commit /g1"},
                              kAdvertised + std::string("Front desk\" (_pdl-datastream._tcp)")},
                    TNameCase{"TakenOnTheNetwork",
                              {},
                              {"Front desk", "Front desk #2"},
                              "Front desk",
                              {Added("/g1", "Front desk"), "Commit /g1", "Reset /g1",
                               Added("/g1", "Front desk #2"), "Commit /g1", "Reset /g1",
                               Added("/g1", "Front desk #3"), "Commit /g1"},
                              kAdvertised + std::string("Front desk #3\" (_pdl-datastream._tcp)")},
                    TNameCase{"TakenHere",
                              {"Front desk"},
                              {},
                              "Front desk",
                              {Added("/g1", "Front desk"), "Reset /g1",
                               Added("/g1", "Front desk #2"), "Commit /g1"},
                              kAdvertised + std::string("Front desk #2\" (_pdl-datastream._tcp)")},
                    // Freed as it is given up; the withdrawal has nothing left to free.
                    TNameCase{"DaemonFails",
                              {},
                              {},
                              "Fail",
                              {Added("/g1", "Fail"), "Commit /g1"},
                              "Port 9100 not advertised: the Avahi daemon failed to publish it: "
                              "Not permitted"}),
    [](const auto& info) { return std::string(info.param.name); });

// A restart withdraws what was published, and a group the daemon makes after
// the next withdrawal is freed, never filled.
TEST_F(ServiceAdvertiserTest, ARestartFreesEveryGroupEvenOneStillBeingMade) {
  Serve();
  TServiceAdvertiser advertiser(Options());
  advertiser.Publish({Service()});
  ASSERT_TRUE(WaitUntil([&] { return !said_.empty(); }));
  advertiser.Publish({Service()});
  advertiser.Withdraw();
  ASSERT_TRUE(WaitUntil([&] { return Called("Free /g2"); }));
  EXPECT_EQ(groups_.Calls,
            (std::vector<std::string>{"EntryGroupNew /g1", Added("/g1", "Front desk"), "Commit /g1",
                                      "Free /g1", "EntryGroupNew /g2", "Free /g2"}));
}

struct TReachCase {
  const char* name;
  // DBUS_SYSTEM_BUS_ADDRESS; nullptr: the suite's bus, without a daemon.
  const char* address;
  const char* said;
};

class ServiceAdvertiserReachTest : public ServiceAdvertiserTest,
                                   public testing::WithParamInterface<TReachCase> {};

TEST_P(ServiceAdvertiserReachTest, EachPortSaysOnceWhyNot) {
  const TReachCase& c = GetParam();
  if (c.address != nullptr) qputenv("DBUS_SYSTEM_BUS_ADDRESS", c.address);
  TServiceAdvertiser advertiser(Options());
  TServiceAdvert other = Service();
  other.Port = "9101";
  advertiser.Publish({Service(), other});
  ASSERT_TRUE(WaitUntil([&] { return said_.size() == 2; }));
  // Each port's call is answered on its own; the answers may come either way.
  std::sort(said_.begin(), said_.end());
  EXPECT_EQ(said_, (std::vector<std::string>{"Port 9100 not advertised: " + std::string(c.said),
                                             "Port 9101 not advertised: " + std::string(c.said)}));
}

INSTANTIATE_TEST_SUITE_P(
    Buses, ServiceAdvertiserReachTest,
    testing::Values(TReachCase{"NoDaemon", nullptr, "no Avahi daemon on the system bus"},
                    TReachCase{"NoBus", "unix:path=/nonexistent/bus",
                               "system bus unix:path=/nonexistent/bus: No such file or directory"}),
    [](const auto& info) { return std::string(info.param.name); });

// What the settings ask for, through the feature set at the monitor's start
// and stop: a port that listens here is published, over IPv4 alone as it
// listens there alone, one that does not listen is refused.
TEST_F(ServiceAdvertiserTest, StartPublishesWhatListensStopWithdraws) {
  class TLineHost : public TJobHost {
   public:
    std::vector<std::string> Lines;
    void JobLine(const std::string& text) override { Lines.push_back(text); }
    void JobFailure(const std::string&, const std::string& text) override {
      Lines.push_back("ERROR: " + text);
    }
    void PortLine(const std::string& text) override { JobLine(text); }
    void PortFailure(const std::string& key, const std::string& text) override {
      JobFailure(key, text);
    }
    void OpenCapture(const std::string&) override {}
    bool FileInUse(const TFileIdentity&) const override { return false; }
  } host;
  Serve();
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  const std::string port = std::to_string(ntohs(address.sin_port));
  const std::string idle = std::to_string(FreeLoopbackPort());
  TTempFolder folder;
  TIniFile settings(folder.FilePath("tarnock.ini"));
  settings.WriteTexts("Ports", {{port, "/tmp,x.txt,F,0,Till 1"}, {idle, "/tmp,y.txt,F,0,"}});
  settings.WriteTexts("Port " + port,
                      {{"Advertise", "1"}, {"ServiceName", "Till"}, {"Replies", "escpos"}});
  settings.WriteText("Port " + idle, "Advertise", "1");
  TJobFeatureSet features(host, settings.FileName());
  features.Start();
  ASSERT_TRUE(WaitUntil([&] { return host.Lines.size() == 2; }));
  EXPECT_EQ(host.Lines, (std::vector<std::string>{
                            "ERROR: Port " + idle + " not advertised: it is not listening",
                            "Port " + port + " advertised as \"Till\" (_pdl-datastream._tcp)"}));
  features.Stop();
  ASSERT_TRUE(WaitUntil([&] { return Called("Free /g1"); }));
  EXPECT_EQ(groups_.Calls[1], "AddService /g1 -1 0 0 'Till' _pdl-datastream._tcp '' '' " + port +
                                  " txtvers=1|ty=Tarnock|product=(Tarnock)|note=Till 1|"
                                  "pdl=application/vnd.escpos|");
  ::close(listener);
}
}  // namespace

#include "service_advertiser_test.moc"
