#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

// A session bus this program can reach: a Unix socket by path or by
// abstract name.
struct TSessionBusAddress {
  // As the D-Bus library takes it, "unix:path=/run/user/1000/bus".
  std::string Address;
  // The socket's path, or its abstract name.
  std::string SocketName;
  bool Abstract = false;
};

struct TSessionBusChoice {
  std::optional<TSessionBusAddress> Bus;
  // Why there is none: "no session bus" or "session bus address not
  // supported: <variable>".
  std::string Failure;
};

// The session bus to use: the first Unix socket entry of variable (the
// value of DBUS_SESSION_BUS_ADDRESS, null when unset) or, without one,
// <runtimeFolder>/bus when that is a socket. An "autolaunch:" entry is never
// taken, so no bus daemon is ever started for this program (one that would
// outlive it).
TSessionBusChoice ChooseSessionBus(const char* variable, const char* runtimeFolder);

// Connects to the session bus on a thread of its own, so that a bus that
// accepts and never answers (stopped, hung) holds up that thread alone. The
// bus is first asked one question over a plain socket, with a time limit,
// and only a bus that answered is handed to the D-Bus library, whose own
// connect waits up to 25 s on the library's one thread and would hold the
// program's end as long. The outcome comes back to the owner's thread
// through its event loop.
class TSessionBusConnector : public QObject {
 public:
  // Runs on the connecting thread with the new connection, before done.
  using TPrepare = std::function<void(QDBusConnection& bus)>;
  // Runs on the owner's thread: the connection, or null and why.
  using TDone = std::function<void(const QDBusConnection* bus, const std::string& failure)>;
  static constexpr std::chrono::milliseconds kAnswerTimeout{5000};

  explicit TSessionBusConnector(QString connectionName,
                                std::chrono::milliseconds answerTimeout = kAnswerTimeout);
  // An attempt still waiting for the bus's answer is stopped at once; a
  // connection made is closed.
  ~TSessionBusConnector() override;
  TSessionBusConnector(const TSessionBusConnector&) = delete;
  TSessionBusConnector& operator=(const TSessionBusConnector&) = delete;

  // Starts the one attempt. Failures read "session bus <address>: <cause>",
  // "session bus <address> did not answer" or "session bus <address> closed
  // the connection".
  void Start(const TSessionBusAddress& bus, TPrepare prepare, TDone done);

 private:
  void Run(const TSessionBusAddress& bus, const TPrepare& prepare);
  std::optional<std::string> Probe(const TSessionBusAddress& bus);
  std::optional<std::string> Ask(int handle, const TSessionBusAddress& bus);
  bool Stopping();
  void Finish(std::optional<QDBusConnection> bus, const std::string& failure);

  const QString connectionName_;
  const std::chrono::milliseconds answerTimeout_;
  TDone done_;
  std::mutex mutex_;
  bool stopping_ = false;
  // The socket of the question while it waits for the answer, so that the
  // destructor can end the wait.
  int asking_ = -1;
  bool connected_ = false;
  std::thread thread_;
};
