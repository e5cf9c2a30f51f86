#include "jobs/service_advertiser.h"

#include <QByteArray>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QList>
#include <atomic>
#include <cstdlib>
#include <utility>

namespace {

constexpr const char* kAvahi = "org.freedesktop.Avahi";
constexpr const char* kServerInterface = "org.freedesktop.Avahi.Server";
constexpr const char* kGroupInterface = "org.freedesktop.Avahi.EntryGroup";
constexpr const char* kDefaultSystemBus = "unix:path=/run/dbus/system_bus_socket";
// Every interface the daemon serves.
constexpr int32_t kAnyInterface = -1;
// What the daemon answers a name that it, or a service of this host, holds.
constexpr const char* kLocalCollision = "org.freedesktop.Avahi.CollisionError";

// The entry group states that need an answer.
enum TGroupState : int { kEstablished = 2, kCollision = 3, kFailure = 4 };

// The connector speaks of any bus it reaches as the session bus.
std::string SystemBusFailure(std::string failure) {
  const std::string said = "session bus";
  if (failure.compare(0, said.size(), said) == 0) failure.replace(0, said.size(), "system bus");
  return failure;
}

// A bus without the daemon answers that the name has no owner, or that it
// could not start one.
bool NoDaemon(const QString& errorName) {
  return errorName == "org.freedesktop.DBus.Error.ServiceUnknown" ||
         errorName == "org.freedesktop.DBus.Error.NameHasNoOwner" ||
         errorName.startsWith("org.freedesktop.DBus.Error.Spawn.");
}

std::string CallFailure(const QDBusMessage& reply) {
  if (NoDaemon(reply.errorName())) return "no Avahi daemon on the system bus";
  const std::string name = reply.errorName().toStdString();
  const std::string message = reply.errorMessage().toStdString();
  return message.empty() ? name : name + ": " + message;
}

QList<QByteArray> TxtArgument(const std::vector<std::string>& txt) {
  QList<QByteArray> strings;
  for (const std::string& item : txt) strings.append(QByteArray::fromStdString(item));
  return strings;
}

QString Text(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

// One port's entry group: its path once the daemon made it, and the name now
// being tried.
struct TServiceAdvertiser::TGroup {
  TServiceAdvert Service;
  QString Path;
  int NamesTried = 1;
  bool Withdrawn = false;
};

TServiceAdvertiser::TServiceAdvertiser(TServiceAdvertiserOptions options)
    : options_(std::move(options)) {
  qDBusRegisterMetaType<QList<QByteArray>>();
}

TServiceAdvertiser::~TServiceAdvertiser() = default;

void TServiceAdvertiser::Publish(std::vector<TServiceAdvert> services) {
  Withdraw();
  if (services.empty()) return;
  // A bus that went away since (restarted, say) is reached afresh.
  if (state_ == TBusState::Connected && !bus_->isConnected()) state_ = TBusState::Unavailable;
  switch (state_) {
    case TBusState::Connected:
      for (TServiceAdvert& service : services) {
        groups_.push_back(std::make_shared<TGroup>(TGroup{std::move(service), {}, 1, false}));
        CreateGroup(groups_.back());
      }
      return;
    case TBusState::Connecting:
      waiting_ = std::move(services);
      return;
    case TBusState::NotTried:
    case TBusState::Unavailable:
      // A bus or daemon missing at the last start may be there now.
      waiting_ = std::move(services);
      StartConnecting();
      return;
  }
}

void TServiceAdvertiser::Withdraw() {
  waiting_.clear();
  for (const TGroupPointer& group : groups_) {
    group->Withdrawn = true;
    if (!group->Path.isEmpty()) FreeGroup(group->Path);
  }
  groups_.clear();
}

// Only the system bus the environment names, or the one every system has,
// is used: the D-Bus library is never left to find or start one.
void TServiceAdvertiser::StartConnecting() {
  const char* variable = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
  const TSessionBusChoice choice =
      ChooseSessionBus(variable != nullptr ? variable : kDefaultSystemBus, nullptr);
  if (!choice.Bus) {
    BusReached(nullptr, choice.Failure);
    return;
  }
  static std::atomic<int> made{0};
  state_ = TBusState::Connecting;
  bus_.reset();
  connector_ = std::make_unique<TSessionBusConnector>(QString("tarnock-advertiser-%1").arg(++made),
                                                      options_.BusAnswerTimeout);
  // The signal is hooked up on the connecting thread, as that waits on the
  // library's own thread. Any sender and path: the groups are told apart by
  // their paths once they are made.
  connector_->Start(
      *choice.Bus,
      [this](QDBusConnection& bus) {
        bus.connect(QString(), QString(), kGroupInterface, "StateChanged", this,
                    SLOT(GroupStateChanged(int, QString, QDBusMessage)));
      },
      [this](const QDBusConnection* bus, const std::string& failure) { BusReached(bus, failure); });
}

void TServiceAdvertiser::BusReached(const QDBusConnection* bus, const std::string& failure) {
  std::vector<TServiceAdvert> waiting = std::move(waiting_);
  waiting_.clear();
  if (bus == nullptr) {
    state_ = TBusState::Unavailable;
    FailAll(waiting, SystemBusFailure(failure));
    return;
  }
  bus_ = *bus;
  state_ = TBusState::Connected;
  Publish(std::move(waiting));
}

void TServiceAdvertiser::FailAll(const std::vector<TServiceAdvert>& services,
                                 const std::string& why) {
  for (const TServiceAdvert& service : services) {
    if (options_.Fail)
      options_.Fail("advertise\n" + service.Port + "\n" + why,
                    "Port " + service.Port + " not advertised: " + why);
  }
}

// Every reply comes back on this thread through the event loop.
void TServiceAdvertiser::Then(
    const QDBusMessage& call,
    std::function<void(const QDBusMessage& reply, const std::string& failure)> done) {
  auto* watcher = new QDBusPendingCallWatcher(bus_->asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [done = std::move(done)](QDBusPendingCallWatcher* finished) {
            finished->deleteLater();
            const QDBusMessage reply = finished->reply();
            done(reply, reply.type() == QDBusMessage::ErrorMessage ? CallFailure(reply) : "");
          });
}

void TServiceAdvertiser::CreateGroup(const TGroupPointer& group) {
  Then(QDBusMessage::createMethodCall(kAvahi, "/", kServerInterface, "EntryGroupNew"),
       [this, group](const QDBusMessage& reply, const std::string& failure) {
         if (!failure.empty()) return GiveUp(group, failure);
         const QList<QVariant> values = reply.arguments();
         if (values.isEmpty() || !values[0].canConvert<QDBusObjectPath>())
           return GiveUp(group, "the Avahi daemon made no entry group");
         group->Path = values[0].value<QDBusObjectPath>().path();
         // Withdrawn while the daemon made it: nobody else would free it.
         if (group->Withdrawn) return FreeGroup(group->Path);
         AddService(group);
       });
}

QDBusMessage TServiceAdvertiser::GroupCall(const TGroupPointer& group, const char* method) const {
  return QDBusMessage::createMethodCall(kAvahi, group->Path, kGroupInterface, method);
}

// The host is left empty, so the daemon names its own host and the
// addresses it has; the domain too, for the local one.
void TServiceAdvertiser::AddService(const TGroupPointer& group) {
  const TServiceAdvert& service = group->Service;
  QDBusMessage call = GroupCall(group, "AddService");
  call << kAnyInterface << static_cast<int32_t>(service.Protocol) << uint32_t{0}
       << Text(service.Name) << Text(service.Type) << QString() << QString()
       << QVariant::fromValue(static_cast<ushort>(service.Number))
       << QVariant::fromValue(TxtArgument(service.Txt));
  Then(call, [this, group](const QDBusMessage& reply, const std::string& failure) {
    if (group->Withdrawn) return;
    if (reply.errorName() == kLocalCollision) return Rename(group);
    if (!failure.empty()) return GiveUp(group, failure);
    Commit(group);
  });
}

void TServiceAdvertiser::Commit(const TGroupPointer& group) {
  Then(GroupCall(group, "Commit"), [this, group](const QDBusMessage&, const std::string& failure) {
    if (!group->Withdrawn && !failure.empty()) GiveUp(group, failure);
  });
}

// The group is emptied first: a committed group keeps its records until
// then.
void TServiceAdvertiser::Rename(const TGroupPointer& group) {
  if (group->NamesTried >= kMaxNamesTried)
    return GiveUp(group, "every name up to \"" + group->Service.Name + "\" is taken");
  ++group->NamesTried;
  group->Service.Name = AlternativeServiceName(group->Service.Name);
  Then(GroupCall(group, "Reset"), [this, group](const QDBusMessage&, const std::string& failure) {
    if (group->Withdrawn) return;
    if (!failure.empty()) return GiveUp(group, failure);
    AddService(group);
  });
}

void TServiceAdvertiser::GroupStateChanged(int state, const QString& error,
                                           const QDBusMessage& message) {
  for (const TGroupPointer& group : groups_) {
    if (group->Path != message.path()) continue;
    const TServiceAdvert& service = group->Service;
    if (state == kEstablished && options_.Say)
      options_.Say("Port " + service.Port + " advertised as \"" + service.Name + "\" (" +
                   service.Type + ")");
    else if (state == kCollision)
      Rename(group);
    else if (state == kFailure)
      GiveUp(group, "the Avahi daemon failed to publish it: " + error.toStdString());
    return;
  }
}

void TServiceAdvertiser::GiveUp(TGroupPointer group, const std::string& why) {
  if (group->Withdrawn) return;
  group->Withdrawn = true;
  FailAll({group->Service}, why);
  if (!group->Path.isEmpty()) FreeGroup(group->Path);
  std::erase(groups_, group);
}

// Nothing waits for the answer: a group that is gone is gone either way.
void TServiceAdvertiser::FreeGroup(const QString& path) {
  if (bus_) bus_->asyncCall(QDBusMessage::createMethodCall(kAvahi, path, kGroupInterface, "Free"));
}
