#include "jobs/session_bus.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <QDBusError>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

#include "base/system_calls.h"
#include "net/socket_calls.h"

namespace {

// What any bus answers at once: an authentication request without a
// mechanism, which it refuses with the list of those it offers.
constexpr char kQuestion[] = {'\0', 'A', 'U', 'T', 'H', '\r', '\n'};
// An answer this long without its line end is still an answer.
constexpr std::size_t kAnswerEnough = 1024;

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c) {
  if (c <= '9') return c - '0';
  return (c | 0x20) - 'a' + 10;
}

// Address values escape bytes as %xx.
std::string Unescape(const std::string& value) {
  std::string plain;
  for (std::size_t at = 0; at < value.size(); ++at) {
    if (value[at] == '%' && at + 2 < value.size() && IsHexDigit(value[at + 1]) &&
        IsHexDigit(value[at + 2])) {
      plain += static_cast<char>(HexValue(value[at + 1]) * 16 + HexValue(value[at + 2]));
      at += 2;
    } else {
      plain += value[at];
    }
  }
  return plain;
}

bool NeedsNoEscape(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         std::strchr("-_/.\\*", c) != nullptr;
}

std::string Escape(const std::string& plain) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string escaped;
  for (char c : plain) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte != 0 && NeedsNoEscape(byte)) {
      escaped += c;
    } else {
      escaped += '%';
      escaped += kHex[byte >> 4];
      escaped += kHex[byte & 15];
    }
  }
  return escaped;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

bool IsSocket(const std::string& path) {
  struct stat status {};
  return FileCalls().PathStatus(path.c_str(), &status) == 0 && S_ISSOCK(status.st_mode);
}

TSessionBusAddress RuntimeBus(const std::string& runtimeFolder) {
  const std::string path = runtimeFolder + "/bus";
  return {"unix:path=" + Escape(path), path, false};
}

// One entry of an address list, "unix:path=/run/user/1000/bus,guid=...".
std::optional<TSessionBusAddress> UnixEntry(const std::string& entry, const char* runtimeFolder) {
  const std::string kUnix = "unix:";
  if (entry.compare(0, kUnix.size(), kUnix) != 0) return std::nullopt;
  for (const std::string& pair : Split(entry.substr(kUnix.size()), ',')) {
    const std::size_t equals = pair.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = pair.substr(0, equals);
    const std::string value = Unescape(pair.substr(equals + 1));
    if (key == "path") return TSessionBusAddress{entry, value, false};
    if (key == "abstract") return TSessionBusAddress{entry, value, true};
    if (key == "runtime" && value == "yes" && runtimeFolder != nullptr && *runtimeFolder != '\0')
      return RuntimeBus(runtimeFolder);
  }
  return std::nullopt;
}

std::string SystemText(int error) { return std::strerror(error); }

}  // namespace

TSessionBusChoice ChooseSessionBus(const char* variable, const char* runtimeFolder) {
  bool onlyAutolaunch = true;
  if (variable != nullptr) {
    for (const std::string& entry : Split(variable, ';')) {
      if (entry.empty() || entry.compare(0, 11, "autolaunch:") == 0) continue;
      onlyAutolaunch = false;
      if (auto bus = UnixEntry(entry, runtimeFolder)) return {std::move(bus), ""};
    }
    if (!onlyAutolaunch)
      return {std::nullopt, "session bus address not supported: " + std::string(variable)};
  }
  if (runtimeFolder != nullptr && *runtimeFolder != '\0') {
    TSessionBusAddress bus = RuntimeBus(runtimeFolder);
    if (IsSocket(bus.SocketName)) return {std::move(bus), ""};
  }
  return {std::nullopt, "no session bus"};
}

TSessionBusConnector::TSessionBusConnector(QString connectionName,
                                           std::chrono::milliseconds answerTimeout)
    : connectionName_(std::move(connectionName)), answerTimeout_(answerTimeout) {}

TSessionBusConnector::~TSessionBusConnector() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    // Ends the wait for the answer: the receive sees the end at once.
    if (asking_ >= 0) SocketCalls().Shutdown(asking_, SHUT_RDWR);
  }
  if (thread_.joinable()) thread_.join();
  if (connected_) QDBusConnection::disconnectFromBus(connectionName_);
}

void TSessionBusConnector::Start(const TSessionBusAddress& bus, TPrepare prepare, TDone done) {
  done_ = std::move(done);
  thread_ = std::thread([this, bus, prepare = std::move(prepare)] { Run(bus, prepare); });
}

bool TSessionBusConnector::Stopping() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return stopping_;
}

void TSessionBusConnector::Run(const TSessionBusAddress& bus, const TPrepare& prepare) {
  if (std::optional<std::string> failure = Probe(bus)) {
    if (!Stopping()) Finish(std::nullopt, *failure);
    return;
  }
  if (Stopping()) return;
  QDBusConnection connection =
      QDBusConnection::connectToBus(QString::fromStdString(bus.Address), connectionName_);
  if (!connection.isConnected()) {
    const std::string cause = connection.lastError().message().toStdString();
    QDBusConnection::disconnectFromBus(connectionName_);
    Finish(std::nullopt, "session bus " + bus.Address + ": " + cause);
    return;
  }
  connected_ = true;
  prepare(connection);
  Finish(connection, "");
}

// Back on the owner's thread; a connector destroyed first takes the event
// with it.
void TSessionBusConnector::Finish(std::optional<QDBusConnection> bus, const std::string& failure) {
  QMetaObject::invokeMethod(
      this, [this, bus, failure] { done_(bus ? &*bus : nullptr, failure); }, Qt::QueuedConnection);
}

std::optional<std::string> TSessionBusConnector::Probe(const TSessionBusAddress& bus) {
  const int handle = SocketCalls().Socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (handle < 0) return "session bus " + bus.Address + ": " + SystemText(errno);
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) {
      CloseSocketOnce(handle);
      return "stopped";
    }
    asking_ = handle;
  }
  std::optional<std::string> failure = Ask(handle, bus);
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    asking_ = -1;
  }
  CloseSocketOnce(handle);
  return failure;
}

// Nothing when the bus answered within the time limit.
std::optional<std::string> TSessionBusConnector::Ask(int handle, const TSessionBusAddress& bus) {
  const std::string where = "session bus " + bus.Address;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::size_t nameAt = bus.Abstract ? 1 : 0;
  if (bus.SocketName.size() + nameAt + 1 > sizeof address.sun_path)
    return where + ": " + SystemText(ENAMETOOLONG);
  std::memcpy(address.sun_path + nameAt, bus.SocketName.data(), bus.SocketName.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + nameAt +
                                             bus.SocketName.size() + (bus.Abstract ? 0 : 1));
  if (RetryOnEintr([&] {
        return SocketCalls().Connect(handle, reinterpret_cast<const sockaddr*>(&address), length);
      }) != 0)
    return where + ": " + SystemText(errno);
  if (SocketCalls().Send(handle, kQuestion, sizeof kQuestion, MSG_NOSIGNAL) < 0)
    return where + ": " + SystemText(errno);
  const auto deadline = std::chrono::steady_clock::now() + answerTimeout_;
  std::string answer;
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd ready{handle, POLLIN, 0};
    const int polled =
        left.count() <= 0 ? 0 : SocketCalls().Poll(&ready, 1, static_cast<int>(left.count()));
    if (polled < 0 && errno == EINTR) continue;
    if (polled < 0) return where + ": " + SystemText(errno);
    if (polled == 0) return where + " did not answer";
    char buffer[256];
    const ssize_t got = RecvRetrying(handle, buffer, sizeof buffer, 0);
    if (got < 0 && errno == EAGAIN) continue;
    if (got < 0) return where + ": " + SystemText(errno);
    if (got == 0) return where + " closed the connection";
    answer.append(buffer, static_cast<std::size_t>(got));
    if (answer.find("\r\n") != std::string::npos || answer.size() >= kAnswerEnough)
      return std::nullopt;
  }
}
