#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jobs/advertised_services.h"
#include "jobs/session_bus.h"

struct TServiceAdvertiserOptions {
  // How long the system bus may take to answer at all.
  std::chrono::milliseconds BusAnswerTimeout = TSessionBusConnector::kAnswerTimeout;
  // "Port 9100 advertised as "<name>" (<type>)", once the network has taken
  // the name.
  std::function<void(const std::string& line)> Say;
  // "Port 9100 not advertised: <why>", with a key for the port and cause.
  std::function<void(const std::string& key, const std::string& line)> Fail;
};

// Publishes ports through the system's Avahi daemon over the system bus: one
// entry group per port, its service added and committed. A name another
// host or service holds is given up for the next free one ("Name #2", then
// "Name #3"), as the network expects of every publisher. The bus is never
// waited on: it is reached on a thread of its own (TSessionBusConnector) and
// every call is asynchronous, so capture goes on whatever the bus does.
// Without a bus or a daemon each port gets one line saying why.
class TServiceAdvertiser : public QObject {
  Q_OBJECT

 public:
  // Names tried for one port before it is given up.
  static constexpr int kMaxNamesTried = 100;

  explicit TServiceAdvertiser(TServiceAdvertiserOptions options);
  // The bus connection closes, and with it the daemon drops every group.
  ~TServiceAdvertiser() override;
  TServiceAdvertiser(const TServiceAdvertiser&) = delete;
  TServiceAdvertiser& operator=(const TServiceAdvertiser&) = delete;

  // Withdraws what was published, then publishes these.
  void Publish(std::vector<TServiceAdvert> services);
  // Frees every entry group, and forgets groups still being made once the
  // daemon has made them.
  void Withdraw();

 private Q_SLOTS:
  void GroupStateChanged(int state, const QString& error, const QDBusMessage& message);

 private:
  enum class TBusState { NotTried, Connecting, Connected, Unavailable };
  struct TGroup;
  using TGroupPointer = std::shared_ptr<TGroup>;

  void StartConnecting();
  void BusReached(const QDBusConnection* bus, const std::string& failure);
  void CreateGroup(const TGroupPointer& group);
  void AddService(const TGroupPointer& group);
  void Commit(const TGroupPointer& group);
  void Rename(const TGroupPointer& group);
  // By value: the caller's pointer may be the very element it removes.
  void GiveUp(TGroupPointer group, const std::string& why);
  void FreeGroup(const QString& path);
  QDBusMessage GroupCall(const TGroupPointer& group, const char* method) const;
  void Then(const QDBusMessage& call,
            std::function<void(const QDBusMessage& reply, const std::string& failure)> done);
  void FailAll(const std::vector<TServiceAdvert>& services, const std::string& why);

  TServiceAdvertiserOptions options_;
  TBusState state_ = TBusState::NotTried;
  // What is to be published once the bus is reached.
  std::vector<TServiceAdvert> waiting_;
  std::vector<TGroupPointer> groups_;
  // Goes after bus_, which it closes.
  std::unique_ptr<TSessionBusConnector> connector_;
  std::optional<QDBusConnection> bus_;
};
