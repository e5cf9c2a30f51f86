#include "net/wsocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "base/text.h"
#include "net/ip_text.h"
#include "net/notification_sink.h"
#include "net/resolvers.h"
#include "net/socket_calls.h"

namespace {

int gLiveCount = 0;

// One descriptor held back for the moment the process runs out: released, it
// lets the listener accept and close the connections it cannot serve, so that
// their peers learn at once instead of waiting in the backlog.
int gSpareDescriptor = -1;

void TakeSpareDescriptor() {
  if (gSpareDescriptor < 0) gSpareDescriptor = SocketCalls().OpenSpare();
}

void ReleaseSpareDescriptor() {
  if (gSpareDescriptor >= 0) CloseSocketOnce(gSpareDescriptor);
  gSpareDescriptor = -1;
}

// A failed registration for notifications names its function the way the
// listener and the session have always spelled it, and they differ: the
// listener's capital S is kept, since operators search their logs for the
// texts they have seen, and each text tells which of the two failed.
constexpr std::string_view kListenerRegistration = "WSAASyncSelect";
constexpr std::string_view kSessionRegistration = "WSAAsyncSelect";

// The Windows Sockets code of the platform call that just failed.
int CodeFromErrno() { return WSocketErrorFromErrno(errno); }

// An IPv4 peer of a dual-stack listener comes as ::ffff:a.b.c.d and is named
// in the dotted form all the same, as it always was.
TPeerAddress PeerFrom(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET6) {
    const auto& ipv6 = reinterpret_cast<const sockaddr_in6&>(address);
    TIPAddress ip;
    std::memcpy(ip.Bytes.data(), &ipv6.sin6_addr, ip.Bytes.size());
    return TPeerAddress{IPAddressText(ip), ntohs(ipv6.sin6_port)};
  }
  const auto& ipv4 = reinterpret_cast<const sockaddr_in&>(address);
  return TPeerAddress{IPAddressText(TIPAddress::FromIPv4(ntohl(ipv4.sin_addr.s_addr))),
                      ntohs(ipv4.sin_port)};
}

uint16_t PortOf(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET6)
    return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
  return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

// A host without IPv6 refuses the family, or has no address to bind: it
// listens on IPv4 as it always has, and nothing needs saying.
bool HostHasNoIPv6(int platformErrno) {
  return platformErrno == EAFNOSUPPORT || platformErrno == EADDRNOTAVAIL;
}

// One line of the port log: the code, the call and its text.
std::string RefusalText(int platformErrno, std::string_view functionName) {
  return SocketErrorLine(WSocketErrorFromErrno(platformErrno), functionName);
}

}  // namespace

TCustomWSocket::TCustomWSocket() : alive_(std::make_shared<bool>(true)) {
  ResetStep();
  ++gLiveCount;
}

TCustomWSocket::~TCustomWSocket() {
  if (state_ != wsClosed) {
    try {
      Close();
    } catch (...) {
      // A destructor reports nothing.
    }
  }
  Unwatch();
  if (handle_ >= 0) CloseSocketOnce(handle_);
  handle_ = -1;
  if (pendingAccept_ >= 0) CloseSocketOnce(pendingAccept_);
  pendingAccept_ = -1;
  DeleteTimer(pauseTimer_);
  DeleteTimer(drainTimer_);
  *alive_ = false;
  if (--gLiveCount < 1) {
    ReleaseSpareDescriptor();
    ReleaseNotificationSink();
  }
}

int TCustomWSocket::LiveCount() { return gLiveCount; }

// ---------------------------------------------------------------------------
// Reset and failure reporting

void TCustomWSocket::ResetStep() {
  sin_ = sockaddr_in{};
  sin_.sin_family = AF_INET;
  addrAssigned_ = false;
  portAssigned_ = false;
  addrResolved_ = false;
  portResolved_ = false;
  protoResolved_ = false;
  proto_ = "tcp";
  protoAssigned_ = true;
  protoNumber_ = IPPROTO_TCP;
  handle_ = -1;
  closeEventRaised_ = false;
  peerEnded_ = false;
  readCount_ = 0;
  ResetSendState();
  state_ = wsClosed;
}

void TCustomWSocket::SocketErrorReport(int code, std::string_view functionName) {
  if (code == WSAECONNRESET || code == WSAENOTCONN) {
    // The connection is gone: later notifications for it are dropped, and no
    // close event follows for it.
    Unwatch();
    DropSendQueue();
    if (handle_ >= 0) CloseSocketOnce(handle_);
    handle_ = -1;
    state_ = wsClosed;
  }
  lastError_ = code;
  throw ESocketException(SocketErrorMessage(code, functionName));
}

// ---------------------------------------------------------------------------
// Properties

void TCustomWSocket::SetAddr(std::string_view value) {
  if (addrAssigned_ && value == addr_) return;
  if (state_ != wsClosed) throw ESocketException("Cannot change Addr if not closed");
  addr_ = TrimBlanks(value);
  addrAssigned_ = !addr_.empty();
  addrResolved_ = false;
}

void TCustomWSocket::SetPort(std::string_view value) {
  if (portAssigned_ && value == port_) return;
  if (state_ != wsClosed) throw ESocketException("Cannot change Port if not closed");
  port_ = TrimBlanks(value);
  portAssigned_ = !port_.empty();
  portResolved_ = false;
}

void TCustomWSocket::SetProto(std::string_view value) {
  if (protoAssigned_ && value == proto_) return;
  if (state_ != wsClosed) throw ESocketException("Cannot change Proto if not closed");
  proto_ = TrimBlanks(value);
  protoAssigned_ = !proto_.empty();
  protoResolved_ = false;
}

std::string TCustomWSocket::PeerAddr() {
  if (state_ != wsConnected) return "error";
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  if (SocketCalls().GetPeerName(handle_, reinterpret_cast<sockaddr*>(&peer), &length) != 0)
    SocketErrorReport(CodeFromErrno(), "GetPeerName");
  return PeerFrom(peer).address;
}

int TCustomWSocket::ReadShare() {
  return DispatchIsCrowded() ? kCrowdedBytesPerReadNotification : kMaxBytesPerReadNotification;
}

int TCustomWSocket::PendingBytes() const {
  int pending = 0;
  if (handle_ < 0 || SocketCalls().PendingBytes(handle_, &pending) != 0) return 0;
  return pending;
}

void TCustomWSocket::CloseAccepted(int handle) { CloseSocketOnce(handle); }

void TCustomWSocket::ResetAccepted(int handle) {
  const linger reset{.l_onoff = 1, .l_linger = 0};
  SocketCalls().SetSockOpt(handle, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  CloseAccepted(handle);
}

uint16_t TCustomWSocket::LocalPortNumber() const {
  if (handle_ < 0) return 0;
  sockaddr_storage local{};
  socklen_t length = sizeof local;
  if (SocketCalls().GetSockName(handle_, reinterpret_cast<sockaddr*>(&local), &length) != 0)
    return 0;
  return PortOf(local);
}

// ---------------------------------------------------------------------------
// Listening and accepting

void TCustomWSocket::Listen() {
  RequireProperties();
  ResolveListenAddress();
  StartListening(OpenBoundSocket());
}

void TCustomWSocket::RequireProperties() {
  if (!portAssigned_) SocketErrorReport(WSAEINVAL, "listen: port not assigned");
  if (!protoAssigned_) SocketErrorReport(WSAEINVAL, "listen: protocol not assigned");
  if (!addrAssigned_) SocketErrorReport(WSAEINVAL, "listen: address not assigned");
}

void TCustomWSocket::ResolveListenAddress() {
  try {
    if (!protoResolved_) {
      protoNumber_ = WSocketResolveProto(proto_);
      protoResolved_ = true;
    }
    if (!portResolved_) {
      portNumber_ = WSocketResolvePort(port_, proto_);
      sin_.sin_port = htons(portNumber_);
      portResolved_ = true;
    }
    if (!addrResolved_) {
      sin_.sin_addr.s_addr = WSocketResolveHost(addr_);
      addrResolved_ = true;
    }
  } catch (const ESocketException& e) {
    throw ESocketException("listen: " + e.Message());
  }
}

// Any address takes IPv6 peers too, so that a sender whose name resolves to
// an IPv6 address reaches the port. What fails on the IPv4 socket is
// reported exactly as it always was.
int TCustomWSocket::OpenBoundSocket() {
  TakeSpareDescriptor();
  ipv4OnlyReason_.clear();
  std::string ipv6Refusal;
  if (sin_.sin_addr.s_addr == htonl(INADDR_ANY)) {
    const int fd = OpenDualStackSocket(ipv6Refusal);
    if (fd >= 0) return fd;
  }
  const int fd = OpenIPv4Socket();
  ipv4OnlyReason_ = std::move(ipv6Refusal);
  return fd;
}

int TCustomWSocket::OpenDualStackSocket(std::string& refusal) {
  TSocketCalls& calls = SocketCalls();
  const auto refused = [&refusal](int fd, std::string_view functionName) {
    const int platformErrno = errno;
    if (fd >= 0) CloseSocketOnce(fd);
    if (!HostHasNoIPv6(platformErrno)) refusal = RefusalText(platformErrno, functionName);
    return -1;
  };
  const int fd = calls.Socket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, protoNumber_);
  if (fd < 0) return refused(fd, "socket");
  // Explicitly off: the system default (bindv6only) may be on.
  int off = 0;
  if (calls.SetSockOpt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) != 0)
    return refused(fd, "setsockopt(IPV6_V6ONLY)");
  int on = 1;
  calls.SetSockOpt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in6 any{};
  any.sin6_family = AF_INET6;
  any.sin6_addr = in6addr_any;
  any.sin6_port = sin_.sin_port;
  if (calls.Bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0)
    return refused(fd, "Bind");
  return fd;
}

int TCustomWSocket::OpenIPv4Socket() {
  TSocketCalls& calls = SocketCalls();
  const int fd = calls.Socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, protoNumber_);
  if (fd < 0) SocketErrorReport(CodeFromErrno(), "socket");
  // Rebinding over TIME_WAIT, as the system does elsewhere by default; a second
  // listener on the same port is still refused.
  int on = 1;
  calls.SetSockOpt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (calls.Bind(fd, reinterpret_cast<const sockaddr*>(&sin_), sizeof sin_) != 0) {
    const int code = CodeFromErrno();
    CloseSocketOnce(fd);
    SocketErrorReport(code, "Bind");
  }
  return fd;
}

void TCustomWSocket::StartListening(int fd) {
  handle_ = fd;
  state_ = wsBound;
  // The platform's largest queue: a burst of connections waits to be
  // taken instead of being refused or left to retry.
  if (SocketCalls().Listen(fd, SOMAXCONN) != 0) SocketErrorReport(CodeFromErrno(), "Listen");
  state_ = wsListening;
  if (!Watch()) WatchFailed(kListenerRegistration);
}

int TCustomWSocket::AcceptNext(int& platformErrno, TPeerAddress& peer) {
  sockaddr_storage address{};
  const int fd = AcceptRetrying(handle_, &address);
  platformErrno = fd >= 0 ? 0 : errno;
  if (fd >= 0) peer = PeerFrom(address);
  if (platformErrno == EMFILE || platformErrno == ENFILE) ShedPendingConnections();
  return fd;
}

void TCustomWSocket::ShedPendingConnections() {
  ReleaseSpareDescriptor();
  for (int fd; (fd = AcceptRetrying(handle_, nullptr)) >= 0;) CloseSocketOnce(fd);
  TakeSpareDescriptor();
}

// Each connection is taken before its event, so that peers that failed on the
// way (ECONNABORTED and the like) are skipped without an event or an error.
void TCustomWSocket::AcceptConnections() {
  const std::shared_ptr<bool> alive = alive_;
  const int listening = handle_;
  for (int round = 0; round < kMaxAcceptsPerNotification; ++round) {
    int platformErrno = 0;
    const int fd = AcceptNext(platformErrno, pendingAcceptPeer_);
    const bool failed = fd < 0;
    if (!failed) {
      pendingAccept_ = fd;
    } else {
      if (IsWouldBlock(platformErrno)) return;
      // Whatever keeps accept failing would otherwise make the readable
      // listener notify without pause. A pause the platform refuses is
      // reported first, through an event of its own.
      PauseWatching(kAcceptPauseMs);
      if (!*alive) return;
      pendingAcceptError_ = platformErrno;
      pendingAcceptFunction_ = "Accept";
    }
    if (!OfferConnection()) return;
    // A failure has paused the listener; a handler may have closed it.
    if (failed || handle_ != listening || state_ != wsListening) return;
  }
}

// A connection the handler did not take is not left open, nor is a failure
// it did not collect kept for a later Accept (when the handler fails,
// Dispatch drops them).
bool TCustomWSocket::OfferConnection() {
  const std::shared_ptr<bool> alive = alive_;
  // A copy, since the handler may destroy this object and the event with it.
  if (TSessionEvent handler = OnSessionAvailable) handler(this, 0);
  if (!*alive) return false;
  DropUntakenConnection();
  return true;
}

void TCustomWSocket::DropUntakenConnection() {
  if (pendingAccept_ >= 0) CloseSocketOnce(pendingAccept_);
  pendingAccept_ = -1;
  pendingAcceptError_ = 0;
  pendingAcceptFunction_ = "Accept";
}

int TCustomWSocket::Accept() {
  if (state_ != wsListening) SocketErrorReport(WSAEINVAL, "not a listening socket");
  if (pendingAccept_ >= 0) {
    peer_ = pendingAcceptPeer_;
    return std::exchange(pendingAccept_, -1);
  }
  int platformErrno = std::exchange(pendingAcceptError_, 0);
  const std::string_view functionName = std::exchange(pendingAcceptFunction_, "Accept");
  if (platformErrno == 0) {
    const int fd = AcceptNext(platformErrno, peer_);
    if (fd >= 0) return fd;
  }
  SocketErrorReport(WSocketErrorFromErrno(platformErrno), functionName);
}

// ---------------------------------------------------------------------------
// Adopting and receiving

void TCustomWSocket::Dup(int handle, const TPeerAddress& peer) {
  if (handle == 0 || handle == -1) SocketErrorReport(WSAEINVAL, "Dup");
  if (state_ != wsClosed) {
    Unwatch();
    const int old = std::exchange(handle_, -1);
    if (old >= 0 && CloseSocketOnce(old) != 0)
      SocketErrorReport(CodeFromErrno(), "Dup (closesocket)");
    state_ = wsClosed;
  }
  handle_ = handle;
  peer_ = peer;
  closeEventRaised_ = false;
  peerEnded_ = false;
  ResetSendState();
  ApplyLinger(true);
  if (SocketCalls().SetNonBlocking(handle_) != 0)
    SocketErrorReport(CodeFromErrno(), kSessionRegistration);
  if (!Watch()) WatchFailed(kSessionRegistration);
  state_ = wsConnected;
}

// Without an event loop there is nothing to deliver notifications: the layer
// counts as not started.
void TCustomWSocket::WatchFailed(std::string_view functionName) {
  SocketErrorReport(errno == 0 ? WSANOTINITIALISED : CodeFromErrno(), functionName);
}

void TCustomWSocket::ApplyLinger(bool resetOnClose) {
  if (handle_ < 0) throw ESocketException("Cannot set linger option at this time");
  linger option{};
  option.l_onoff = resetOnClose ? 1 : 0;
  if (SocketCalls().SetSockOpt(handle_, SOL_SOCKET, SO_LINGER, &option, sizeof option) != 0)
    SocketErrorReport(CodeFromErrno(), "setsockopt(SO_LINGER)");
}

int TCustomWSocket::Receive(void* buffer, int length) {
  if (handle_ < 0) {
    lastError_ = WSAENOTSOCK;
    return -1;
  }
  const size_t size = length > 0 ? static_cast<size_t>(length) : 0;
  ssize_t count = RecvRetrying(handle_, buffer, size, 0);
  if (size > 0) count = TellResetTakenBySend(count);
  if (count < 0) {
    receiveCameUpShort_ = IsWouldBlock(errno);
    lastError_ = CodeFromErrno();
    if (!receiveCameUpShort_) NotePeerEnd(lastError_);
    return -1;
  }
  if (count == 0 && size > 0) NotePeerEnd(0);
  receiveCameUpShort_ = static_cast<size_t>(count) < size;
  readCount_ =
      static_cast<int32_t>(static_cast<uint32_t>(readCount_) + static_cast<uint32_t>(count));
  return static_cast<int>(count);
}

void TCustomWSocket::ShutDown(int how) {
  if (handle_ >= 0) SocketCalls().Shutdown(handle_, how);
}

// ---------------------------------------------------------------------------
// Sending

std::size_t TCustomWSocket::Send(std::string_view bytes) {
  const std::size_t droppedBefore = droppedSendBytes_;
  // What is queued goes first, so bytes are only written at once behind an
  // empty queue.
  if (CanSend() && sendQueue_.empty()) bytes.remove_prefix(WriteNow(bytes));
  if (CanSend()) bytes.remove_prefix(Enqueue(bytes));
  droppedSendBytes_ += bytes.size();
  return droppedSendBytes_ - droppedBefore;
}

bool TCustomWSocket::CanSend() const {
  return state_ == wsConnected && handle_ >= 0 && !sendFailed_;
}

// As much as the platform takes now; a short write means it is full, so the
// rest waits for room rather than asking again.
std::size_t TCustomWSocket::WriteNow(std::string_view bytes) {
  if (bytes.empty() || !MakeCloseGraceful()) return 0;
  const ssize_t count = SendRetrying(handle_, bytes.data(), bytes.size(), kSendFlags);
  if (count >= 0) return static_cast<std::size_t>(count);
  if (!IsWouldBlock(errno)) SendFailed(errno);
  return 0;
}

// Answers how many bytes the queue took; a queue that was empty asks for
// room to write.
std::size_t TCustomWSocket::Enqueue(std::string_view bytes) {
  const std::size_t taken = std::min(bytes.size(), kMaxQueuedSendBytes - sendQueue_.size());
  if (taken == 0) return 0;
  sendQueue_.append(bytes.substr(0, taken));
  if (!writeWatched_) {
    if (WatchWritable(watchToken_, true) != 0) {
      // Never told of room, the queue would wait for ever.
      SendFailed(errno);
      return taken;
    }
    writeWatched_ = true;
  }
  return taken;
}

// A connection that was never sent a byte keeps closing with a reset; from
// the first byte on the close is graceful, or the reset would discard what
// the platform still holds for the peer.
bool TCustomWSocket::MakeCloseGraceful() {
  if (closeIsGraceful_) return true;
  const linger graceful{.l_onoff = 0, .l_linger = 0};
  if (SocketCalls().SetSockOpt(handle_, SOL_SOCKET, SO_LINGER, &graceful, sizeof graceful) != 0) {
    SendFailed(errno);
    return false;
  }
  closeIsGraceful_ = true;
  return true;
}

// The platform has room again: the queue goes out in order until it takes
// no more, and once the queue is empty nothing is watched for writing, since
// the set is level-triggered and would notify without pause.
void TCustomWSocket::WriteQueued() {
  while (!sendQueue_.empty()) {
    const ssize_t count = SendRetrying(handle_, sendQueue_.data(), sendQueue_.size(), kSendFlags);
    if (count > 0) {
      sendQueue_.erase(0, static_cast<std::size_t>(count));
      continue;
    }
    if (count == 0 || IsWouldBlock(errno)) return;
    SendFailed(errno);
  }
  StopWatchingWritable();
  if (draining_) FinishDrain();
}

// The connection sends no more: a reset it reported now belongs to the read
// side, which reports the connection's end as it always has.
void TCustomWSocket::SendFailed(int platformErrno) {
  sendFailed_ = true;
  if (platformErrno == ECONNRESET) resetTakenBySend_ = true;
  DropSendQueue();
}

void TCustomWSocket::DropSendQueue() {
  droppedSendBytes_ += sendQueue_.size();
  std::string().swap(sendQueue_);
  StopWatchingWritable();
}

// A refusal leaves the registration notifying; each notification then
// finds the queue empty and tries again.
void TCustomWSocket::StopWatchingWritable() {
  if (!writeWatched_) return;
  if (watchToken_ != 0 && WatchWritable(watchToken_, false) != 0) return;
  writeWatched_ = false;
}

void TCustomWSocket::ResetSendState() {
  std::string().swap(sendQueue_);
  droppedSendBytes_ = 0;
  sendFailed_ = false;
  closeIsGraceful_ = false;
  writeWatched_ = false;
  draining_ = false;
  resetTakenBySend_ = false;
}

// A pause the platform refuses leaves the end notifying: the connection then
// closes at once, its queue dropped.
void TCustomWSocket::StartDrain() {
  if (PauseHandle(watchToken_) != 0) {
    DropSendQueue();
    return ClosePeerEnded();
  }
  draining_ = true;
  StartTimer(drainTimer_, sendDrainMs_, &TCustomWSocket::DrainTimedOut);
}

void TCustomWSocket::DrainTimedOut() {
  DropSendQueue();
  FinishDrain();
}

void TCustomWSocket::FinishDrain() {
  draining_ = false;
  if (drainTimer_ != nullptr) drainTimer_->stop();
  ClosePeerEnded();
}

// ---------------------------------------------------------------------------
// Closing

void TCustomWSocket::Close() { CloseStep(true); }

void TCustomWSocket::Abort() {
  if (state_ == wsConnected && protoNumber_ == IPPROTO_TCP) ApplyLinger(false);
  CloseStep(false);
}

void TCustomWSocket::CloseStep(bool shut) {
  if (handle_ < 0) {
    if (state_ != wsClosed) ResetStep();
    return;
  }
  if (state_ == wsClosed) return;
  if (shut) ShutDown(1);
  Unwatch();
  DropSendQueue();
  const int fd = std::exchange(handle_, -1);
  // A close that would have waited lingers on in the background: the handle
  // is gone all the same.
  if (CloseSocketOnce(fd) != 0 && !IsWouldBlock(errno))
    SocketErrorReport(CodeFromErrno(), "Disconnect (closesocket)");
  state_ = wsClosed;
  if (!destroying_ && !closeEventRaised_) {
    closeEventRaised_ = true;
    const std::shared_ptr<bool> alive = alive_;
    try {
      if (TSessionEvent handler = OnSessionClosed) handler(this, 0);
    } catch (...) {
      // Back to the caller of Close, the object reset all the same.
      if (*alive) ResetStep();
      throw;
    }
    if (!*alive) return;
  }
  ResetStep();
}

// ---------------------------------------------------------------------------
// Notifications

bool TCustomWSocket::Watch() {
  Unwatch();
  registrationFailureReported_ = false;
  watchToken_ = WatchHandle(handle_, this);
  return watchToken_ != 0;
}

void TCustomWSocket::Unwatch() {
  if (pauseTimer_ != nullptr) pauseTimer_->stop();
  if (drainTimer_ != nullptr) drainTimer_->stop();
  // Before the handle closes, and also for notifications already collected.
  UnwatchHandle(watchToken_);
  watchToken_ = 0;
}

void TCustomWSocket::PauseWatching(int milliseconds) {
  if (watchToken_ == 0) return;
  StartTimer(pauseTimer_, milliseconds, &TCustomWSocket::ResumeWatching);
  // A pause that does not go through leaves the listener notifying; the
  // next failed accept pauses again, so only the report is needed here.
  if (PauseHandle(watchToken_) != 0) RegistrationChangeFailed(errno);
}

void TCustomWSocket::StartTimer(QTimer*& timer, int milliseconds, void (TCustomWSocket::*step)()) {
  if (timer == nullptr) {
    timer = new QTimer();
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, timer, [this, step] {
      // The step may reach a handler that destroys this object, and with it
      // the timer whose signal is running.
      inTimerEvent_ = true;
      if (Dispatch(step)) inTimerEvent_ = false;
    });
  }
  timer->start(milliseconds);
}

void TCustomWSocket::DeleteTimer(QTimer*& timer) {
  if (inTimerEvent_ && timer != nullptr)
    timer->deleteLater();
  else
    delete timer;
  timer = nullptr;
}

// A listener whose resume fails would never accept again: the resume is
// tried on every tick of the pause timer until it goes through.
void TCustomWSocket::ResumeWatching() {
  if (watchToken_ == 0) return;
  if (ResumeHandle(watchToken_) == 0) {
    registrationFailureReported_ = false;
    return;
  }
  const int platformErrno = errno;
  pauseTimer_->start(kAcceptPauseMs);
  RegistrationChangeFailed(platformErrno);
}

// The failure reaches the owner the way accept failures do: an
// OnSessionAvailable whose Accept reports it, named as the registration.
void TCustomWSocket::RegistrationChangeFailed(int platformErrno) {
  if (registrationFailureReported_ || state_ != wsListening) return;
  registrationFailureReported_ = true;
  if (pendingAccept_ >= 0) return;  // the waiting connection goes first
  pendingAcceptError_ = platformErrno;
  pendingAcceptFunction_ = kListenerRegistration;
  OfferConnection();
}

bool TCustomWSocket::Dispatch(void (TCustomWSocket::*step)()) {
  const std::shared_ptr<bool> alive = alive_;
  try {
    (this->*step)();
  } catch (...) {
    if (!*alive) return false;
    DropUntakenConnection();
    try {
      Abort();
    } catch (...) {
      // Goes no further than here.
    }
  }
  return *alive;
}

void TCustomWSocket::HandleReadiness(int handle) {
  if (handle < 0 || handle != handle_) return;
  if (state_ == wsListening)
    Dispatch(&TCustomWSocket::AcceptConnections);
  else if (draining_)
    // Reads are off while draining: only a failure or hang-up comes here,
    // and the next send tells which.
    Dispatch(&TCustomWSocket::WriteQueued);
  else
    Dispatch(&TCustomWSocket::ReadConnection);
}

void TCustomWSocket::HandleWritable(int handle) {
  if (handle < 0 || handle != handle_ || state_ != wsConnected) return;
  Dispatch(&TCustomWSocket::WriteQueued);
}

// A readable connection is always offered as a read: the receive itself
// tells the peer's close (0 bytes) and its failure (an error) once every byte
// before them has been taken, so no query of what is pending comes first.
// The close event follows only then, while the handle is still open.
void TCustomWSocket::ReadConnection() {
  const int handle = handle_;
  if (!OfferPendingBytes()) return;
  // A handler that closed the connection has had its close event.
  if (!peerEnded_ || handle != handle_) return;
  // A peer that reset gets nothing more; one that ended in order may still
  // be reading what it was sent.
  if (peerEndError_ == 0 && !sendQueue_.empty()) return StartDrain();
  ClosePeerEnded();
}

void TCustomWSocket::ClosePeerEnded() {
  if (!std::exchange(closeEventRaised_, true)) {
    const std::shared_ptr<bool> alive = alive_;
    if (TSessionEvent handler = OnSessionClosed) handler(this, peerEndError_);
    if (!*alive) return;
  }
  if (state_ != wsClosed) Close();
}

// For a handler that took nothing: whether the peer has ended, without
// taking a byte.
void TCustomWSocket::PeekForPeerEnd() {
  char byte = 0;
  const ssize_t count =
      TellResetTakenBySend(RecvRetrying(handle_, &byte, 1, MSG_PEEK | MSG_DONTWAIT));
  if (count == 0) NotePeerEnd(0);
  if (count < 0 && !IsWouldBlock(errno)) NotePeerEnd(WSocketErrorFromErrno(errno));
}

void TCustomWSocket::NotePeerEnd(int code) {
  peerEnded_ = true;
  peerEndError_ = static_cast<uint16_t>(code);
}

ssize_t TCustomWSocket::TellResetTakenBySend(ssize_t received) {
  if (received != 0 || !std::exchange(resetTakenBySend_, false)) return received;
  errno = ECONNRESET;
  return -1;
}

// Offers the pending bytes through OnDataAvailable until a receive comes up
// short, the notification's share is taken or a handler takes nothing. A
// connection without a handler has its bytes thrown away.
bool TCustomWSocket::OfferPendingBytes() {
  const std::shared_ptr<bool> alive = alive_;
  uint32_t taken = 0;
  try {
    for (;;) {
      lastError_ = 0;
      receiveCameUpShort_ = false;
      const uint32_t before = static_cast<uint32_t>(readCount_);
      // A copy, since the handler may destroy this object and the event with it.
      if (TSessionEvent handler = OnDataAvailable) {
        handler(this, 0);
        if (!*alive) return false;
      } else {
        char scratch[1024];
        if (Receive(scratch, sizeof scratch) < 0 && lastError_ == WSAEWOULDBLOCK) {
          lastError_ = 0;
          return true;
        }
      }
      if (lastError_ != 0) return true;
      if (handle_ < 0) return true;  // the handler closed the connection
      // A receive that got less than it asked for has emptied the queue: no
      // need to ask the platform what is pending.
      if (receiveCameUpShort_) return true;
      const uint32_t got = static_cast<uint32_t>(readCount_) - before;
      taken += got;
      if (taken >= static_cast<uint32_t>(ReadShare())) return true;
      // A handler that reads nothing would keep the loop here for ever; the
      // next notification offers the bytes again, or the peer's end.
      if (got == 0) {
        PeekForPeerEnd();
        return true;
      }
      // A full receive: the next one tells whether more is pending.
    }
  } catch (...) {
    // An exception from a handler ends the offering and goes no further.
  }
  return *alive;
}
