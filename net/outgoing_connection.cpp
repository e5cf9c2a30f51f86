#include "net/outgoing_connection.h"

#include <QSocketNotifier>
#include <cerrno>
#include <utility>

#include "net/socket_calls.h"
#include "net/socket_errors.h"

namespace {

constexpr int kReadsPerTurn = 16;

std::string FailureText(int platformErrno, const char* functionName) {
  return SocketErrorLine(WSocketErrorFromErrno(platformErrno), functionName);
}

}  // namespace

TOutgoingConnection::TOutgoingConnection(THandlers handlers) : handlers_(std::move(handlers)) {}

TOutgoingConnection::~TOutgoingConnection() { CloseHandle(); }

// A notifier may be the one whose signal is running, so it goes in a later
// turn, or with this object, whichever comes first.
void TOutgoingConnection::CloseHandle() {
  for (QSocketNotifier* notifier : {writable_, readable_}) {
    if (notifier == nullptr) continue;
    notifier->setEnabled(false);
    notifier->deleteLater();
  }
  writable_ = nullptr;
  readable_ = nullptr;
  if (handle_ >= 0) CloseSocketOnce(handle_);
  handle_ = -1;
}

void TOutgoingConnection::Connect(std::vector<TSocketAddress> addresses) {
  addresses_ = std::move(addresses);
  next_ = 0;
  // Through the event loop, so that even a failure at once reaches the
  // owner in a turn of its own.
  QMetaObject::invokeMethod(
      this, [this] { TryNext(); }, Qt::QueuedConnection);
}

// Starts the connect to the next address; its outcome is write readiness.
void TOutgoingConnection::TryNext() {
  if (closed_) return;
  int lastErrno = EADDRNOTAVAIL;
  while (next_ < addresses_.size()) {
    CloseHandle();
    const TSocketAddress& address = addresses_[next_++];
    handle_ = SocketCalls().Socket(address.Address.ss_family,
                                   SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (handle_ < 0) {
      lastErrno = errno;
      continue;
    }
    const int started = RetryOnEintr([&] {
      return SocketCalls().Connect(handle_, reinterpret_cast<const sockaddr*>(&address.Address),
                                   address.Length);
    });
    if (started == 0 || errno == EINPROGRESS) {
      writable_ = new QSocketNotifier(static_cast<qintptr>(handle_), QSocketNotifier::Write, this);
      connect(writable_, &QSocketNotifier::activated, this, [this] { HandleWritable(); });
      return;
    }
    lastErrno = errno;
  }
  Fail(lastErrno, "connect");
}

void TOutgoingConnection::HandleWritable() {
  writable_->setEnabled(false);
  if (connected_) {
    handlers_.Writable();
    return;
  }
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  if (SocketCalls().GetPeerName(handle_, reinterpret_cast<sockaddr*>(&peer), &length) == 0) {
    connected_ = true;
    handlers_.Connected();
    return;
  }
  // Not connected: a receive answers with the connect's own error.
  char byte = 0;
  int cause = errno;
  if (RecvRetrying(handle_, &byte, 1, MSG_DONTWAIT) < 0) cause = errno;
  if (next_ < addresses_.size()) {
    TryNext();
    return;
  }
  Fail(cause, "connect");
}

ssize_t TOutgoingConnection::Send(const char* data, std::size_t size) {
  const ssize_t taken = SendRetrying(handle_, data, size, kSendFlags);
  if (taken >= 0) return taken;
  if (IsWouldBlock(errno)) {
    writable_->setEnabled(true);
    return 0;
  }
  const int cause = errno;
  QMetaObject::invokeMethod(
      this, [this, cause] { Fail(cause, "send"); }, Qt::QueuedConnection);
  return -1;
}

void TOutgoingConnection::EndSending() {
  if (SocketCalls().Shutdown(handle_, SHUT_WR) != 0) {
    const int cause = errno;
    QMetaObject::invokeMethod(
        this, [this, cause] { Fail(cause, "shutdown"); }, Qt::QueuedConnection);
    return;
  }
  readable_ = new QSocketNotifier(static_cast<qintptr>(handle_), QSocketNotifier::Read, this);
  connect(readable_, &QSocketNotifier::activated, this, [this] { HandleReadable(); });
}

// The peer's answers are not kept: this side only sends. Reading them keeps
// its close from turning into a reset, which could cost it bytes in flight.
void TOutgoingConnection::HandleReadable() {
  char dropped[4096];
  // A peer that never stops talking gets a few reads per turn, no more.
  for (int reads = 0; reads < kReadsPerTurn; ++reads) {
    const ssize_t got = RecvRetrying(handle_, dropped, sizeof dropped, MSG_DONTWAIT);
    if (got > 0) continue;
    if (got < 0 && IsWouldBlock(errno)) return;
    if (got < 0) {
      Fail(errno, "recv");
      return;
    }
    readable_->setEnabled(false);
    handlers_.PeerEnded();
    return;
  }
}

void TOutgoingConnection::Close() {
  closed_ = true;
  CloseHandle();
}

void TOutgoingConnection::Fail(int platformErrno, const char* functionName) {
  // A failure queued before Close concerns nobody any more.
  if (closed_) return;
  const std::string reason = FailureText(platformErrno, functionName);
  CloseHandle();
  handlers_.Failed(reason);
}
