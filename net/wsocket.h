#pragma once

// The asynchronous TCP socket: an object that owns at most one non-blocking
// socket handle, watches it through the notification sink on the UI thread's
// event loop and turns each readiness into an event. Listeners are TWSocket;
// sessions derive from TCustomWSocket. Nothing here ever blocks, and a
// session sends only what its owner hands to Send.

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "net/socket_errors.h"

class QTimer;

enum TSocketState : uint8_t {
  wsInvalidState,  // never entered: "no state" for whoever records one
  wsBound,         // Listen bound the handle; left at once unless listen fails
  wsConnected,     // Dup adopted a connection
  wsListening,
  wsClosed
};

// One read notification hands at most this many bytes to OnDataAvailable before
// going back to the event loop, so a fast peer cannot starve the others. The
// close still waits for every byte: it comes only once a receive has seen the
// peer's end.
constexpr int kMaxBytesPerReadNotification = 256 * 1024;
// What one read notification takes when many connections are ready at once:
// a turn of the loop over all of them then costs no more than a few
// milliseconds.
constexpr int kCrowdedBytesPerReadNotification = 64 * 1024;

// One accept notification takes at most this many waiting connections, each
// with its own OnSessionAvailable, before going back to the event loop: a
// burst of connections costs few loop turns, yet open sessions still get
// their turn.
constexpr int kMaxAcceptsPerNotification = 32;

// How long a listener stops watching for connections after running out of
// descriptors.
constexpr int kAcceptPauseMs = 100;

// What one connection keeps queued for its peer at most; what does not fit is
// dropped, so a peer that never reads costs a bounded amount of memory.
constexpr std::size_t kMaxQueuedSendBytes = 64 * 1024;
// How long a connection whose peer has ended waits for its queued bytes to
// leave before it closes all the same.
constexpr int kSendDrainMs = 5000;

// A peer as accept reported it: its address as IPAddressText names it (the
// dotted form for IPv4, also when it reached a dual-stack listener mapped;
// RFC 5952 for IPv6) and its port. Known from the moment a connection is
// taken, so a peer that resets at once is still known.
struct TPeerAddress {
  std::string address;
  uint16_t port = 0;
};

class TCustomWSocket {
 public:
  // Sender and a Windows Sockets error code (0: none).
  using TSessionEvent = std::function<void(TCustomWSocket* sender, uint16_t error)>;

  // Closed, Proto "tcp"; counts one more live object.
  // Must be created on the UI thread (the thread of QCoreApplication).
  TCustomWSocket();
  // Closes the object if it is not closed (which raises OnSessionClosed unless
  // MarkDestroying was called), counts one live object less. May be run from
  // inside any event this object raised, OnSessionClosed included.
  virtual ~TCustomWSocket();
  TCustomWSocket(const TCustomWSocket&) = delete;
  TCustomWSocket& operator=(const TCustomWSocket&) = delete;

  // Events. Raised only from the event loop (a readiness, the listener's pause
  // timer), or from Close, Abort and destruction (OnSessionClosed); never from
  // inside Dup or Listen. A handler may Close and destroy the sender; the layer
  // then touches it no more. Exceptions escaping OnDataAvailable are discarded;
  // from OnSessionAvailable, and from an OnSessionClosed the layer raised
  // itself, they abort the object and go no further; from an OnSessionClosed
  // raised by the caller's own Close or Abort they go back to that caller.
  TSessionEvent OnSessionAvailable;  // listener: a connection waits; call Accept
  TSessionEvent OnDataAvailable;     // bytes pending (or none: Receive says 10035 / 0)
  TSessionEvent OnSessionClosed;     // once per connection; State may already be wsClosed

  // Addr, Port, Proto: stored trimmed; a changed text while not wsClosed raises
  // "Cannot change X if not closed" and keeps the old one; the same text again
  // does nothing. An empty text makes the property unassigned. Close unassigns
  // Addr and Port (texts remain) and resets Proto to "tcp".
  const std::string& Addr() const { return addr_; }
  void SetAddr(std::string_view value);
  const std::string& Port() const { return port_; }
  void SetPort(std::string_view value);
  const std::string& Proto() const { return proto_; }
  void SetProto(std::string_view value);

  TSocketState State() const { return state_; }
  // Last Windows Sockets code recorded (Receive's failure, a report, ...).
  int32_t LastError() const { return lastError_; }
  // Bytes received through Receive since the last reset.
  int32_t ReadCount() const { return readCount_; }
  // The peer's address, named as TPeerAddress names it; "error" unless
  // wsConnected. A failing query is a socket error "GetPeerName" (10054/10057
  // close the handle first).
  std::string PeerAddr();
  // Listener: the peer of the connection the last Accept handed out. Session:
  // the peer given to Dup, kept after the connection is gone.
  const TPeerAddress& AcceptedPeer() const { return peer_; }
  // The handle the object owns; -1 when none.
  int Handle() const { return handle_; }
  // The most one read notification takes now; a handler that receives no
  // more than this keeps its notification within that cap.
  static int ReadShare();
  // Bytes received by the platform and not yet taken; 0 without a handle or
  // when the platform cannot tell.
  int PendingBytes() const;
  // The port the handle is bound to (useful after Listen on port "0"); 0 without handle.
  uint16_t LocalPortNumber() const;

  // Opens a listening socket on Addr, Port and Proto (backlog SOMAXCONN,
  // SO_REUSEADDR). On any address ("0.0.0.0") it is one dual-stack socket
  // that takes IPv6 peers beside IPv4 ones, unless the host cannot give one:
  // then an IPv4 socket as on any other address (see IPv4OnlyReason).
  // Raises ESocketException: "listen: port not assigned" (then protocol, address),
  // "listen: " + resolver message, or a socket error for "socket", "Bind",
  // "Listen", always the IPv4 socket's. After a failed bind State is
  // wsClosed and no handle is kept.
  void Listen();
  // After a Listen on any address that got IPv4 alone: why the IPv6 side was
  // refused, "Error <code> in function <function> (<text>)". Empty when the
  // socket takes both, when the host has no IPv6 at all (socket refuses the
  // family, bind the address) and for a specific address.
  const std::string& IPv4OnlyReason() const { return ipv4OnlyReason_; }
  // Listener only (else "not a listening socket", 10022): hands out one accepted
  // connection, a non-blocking handle that belongs to the caller until given to
  // Dup. The listener keeps listening. Call it from OnSessionAvailable.
  int Accept();
  // Closes a handle that Accept handed out and no socket object adopted.
  static void CloseAccepted(int handle);
  // The same, but the peer sees a reset (linger on with 0 s) rather than an
  // orderly end: a peer turned away must not take it for a finished job.
  // When the linger option can't be set the handle is closed all the same.
  static void ResetAccepted(int handle);
  // Adopts a connected handle (closing any handle held, without events), sets
  // it to be reset when closed (linger on with 0 s) and watches it: State
  // becomes wsConnected. Handle 0 or -1 raises "Dup" with 10022. Events for it
  // come only after control returns to the event loop, so assigning handlers
  // right after Dup is in time. From the call on, the object owns the handle
  // (unless it was refused as 0 or -1), whether adopting succeeded or not.
  void Dup(int handle, const TPeerAddress& peer = {});
  // One non-blocking receive into the caller's buffer: count (>0, added to
  // ReadCount), 0 at the peer's orderly close, -1 with LastError (10035 when
  // nothing is pending). Never raises, never changes State. Retries EINTR.
  int Receive(void* buffer, int length);
  // Hands bytes to the peer without ever blocking: written at once as far as
  // the platform takes them, the rest queued (at most kMaxQueuedSendBytes in
  // all) and written as the peer reads. Answers how many of these bytes were
  // dropped because the queue was full or the connection can no longer send
  // (0: all taken). A failed send ends sending on the connection for good; its
  // end is still reported by the read side. Once a byte was handed over, the
  // close is graceful (linger off), so that the peer gets what the platform
  // holds before the end. A peer that ends while bytes are queued has its
  // close event held back until the queue is empty, a send fails or the drain
  // time has passed; Close and Abort drop the queue at once.
  std::size_t Send(std::string_view bytes);
  // Bytes queued and not yet handed to the platform.
  std::size_t QueuedSendBytes() const { return sendQueue_.size(); }
  // Bytes Send dropped on this connection so far, the queue a close dropped
  // included (reset with ReadCount).
  std::size_t DroppedSendBytes() const { return droppedSendBytes_; }
  // Test hook: how long this object waits for its queue to leave once the
  // peer has ended, in milliseconds (kSendDrainMs unless set).
  void SetSendDrainMs(int milliseconds) { sendDrainMs_ = milliseconds; }
  // Shuts down receiving (0), sending (1) or both (2); result ignored; no-op
  // without a handle.
  void ShutDown(int how);
  // Closes the handle; OnSessionClosed(0) once for the connection unless it was
  // already raised or MarkDestroying was called; then the reset step. Does nothing
  // when already wsClosed. Safe to call from inside OnSessionClosed.
  void Close();
  // Graceful close (linger off for a connected TCP session) without shutdown.
  void Abort();

  // The owner sets this before stopping at program end: from then on closing
  // the object (Close or destruction) raises no OnSessionClosed.
  void MarkDestroying() { destroying_ = true; }

  // Socket objects alive now. When it drops to 0 the layer releases its
  // process-wide resources (the spare descriptor, the notification sink).
  static int LiveCount();

  // The notification sink's entry when handle is ready to read: for a
  // listener an accept, for a connection a read, followed by its close once a
  // receive has seen the peer's end (and, when bytes are still queued for the
  // peer, once they have left). Ignored when handle is not the object's
  // current handle. The event loop calls it; tests may call it directly.
  void HandleReadiness(int handle);
  // The notification sink's entry when handle has room to write: the queue
  // Send left goes out. Ignored when handle is not the object's current
  // connection.
  void HandleWritable(int handle);

 private:
  void ResetStep();
  // Raises ESocketException for code (Windows Sockets numbering) in
  // functionName; 10054/10057 first close the handle.
  [[noreturn]] void SocketErrorReport(int code, std::string_view functionName);
  [[noreturn]] void WatchFailed(std::string_view functionName);

  // The steps of Listen; each raises what it reports.
  void RequireProperties();
  void ResolveListenAddress();
  int OpenBoundSocket();
  int OpenIPv4Socket();
  // -1 when the host gives no dual-stack socket, with the reason in refusal
  // unless the host has no IPv6 at all.
  int OpenDualStackSocket(std::string& refusal);
  void StartListening(int fd);

  void CloseStep(bool shut);
  // Linger on with 0 s (a close resets the connection) or off (a close is
  // graceful).
  void ApplyLinger(bool resetOnClose);

  // Runs step for the event loop and answers whether this object is still
  // there. An exception escaping a handler aborts the object and goes no
  // further: none may reach the event loop.
  bool Dispatch(void (TCustomWSocket::*step)());
  // The steps HandleReadiness dispatches.
  void AcceptConnections();
  void ReadConnection();
  // Raise OnSessionAvailable (for what Accept is to hand out) and
  // OnDataAvailable; each answers whether this object is still there.
  bool OfferConnection();
  bool OfferPendingBytes();
  void DropUntakenConnection();
  // One waiting connection, or -1 with the failure's errno in platformErrno.
  // Running out of descriptors sheds what waits, so that those peers learn
  // at once instead of waiting in the queue.
  int AcceptNext(int& platformErrno, TPeerAddress& peer);
  void ShedPendingConnections();
  void PeekForPeerEnd();
  void NotePeerEnd(int code);
  // A reset the platform reported to a send is reported no more to a receive,
  // which then answers as for an orderly end: tells the reset instead.
  ssize_t TellResetTakenBySend(ssize_t received);
  // Raises OnSessionClosed for the peer's end, unless raised already, and
  // closes the connection.
  void ClosePeerEnded();

  // The steps of sending.
  bool CanSend() const;
  std::size_t WriteNow(std::string_view bytes);
  std::size_t Enqueue(std::string_view bytes);
  bool MakeCloseGraceful();
  void WriteQueued();
  void SendFailed(int platformErrno);
  void DropSendQueue();
  void StopWatchingWritable();
  void ResetSendState();
  // The peer has ended with bytes still queued: reads stop (an end stays
  // readable and would notify without pause) and the close waits for the
  // queue, at most the drain time.
  void StartDrain();
  void DrainTimedOut();
  void FinishDrain();

  bool Watch();
  void Unwatch();
  void PauseWatching(int milliseconds);
  // Starts timer (made on first use) to run step through Dispatch once.
  void StartTimer(QTimer*& timer, int milliseconds, void (TCustomWSocket::*step)());
  void DeleteTimer(QTimer*& timer);
  void ResumeWatching();
  // A pause or resume the platform refused: tried again on the pause timer,
  // and reported once, through Accept, until a change goes through again.
  void RegistrationChangeFailed(int platformErrno);

  // False once this object is destroyed: whoever raised an event holds a copy
  // and, when a handler destroyed the sender, touches it no more.
  std::shared_ptr<bool> alive_;
  int handle_ = -1;
  // Registration with the notification sink; 0 when not watched.
  uint64_t watchToken_ = 0;
  QTimer* pauseTimer_ = nullptr;
  QTimer* drainTimer_ = nullptr;
  // A timer's step runs: the timer is deleted later, not from inside its signal.
  bool inTimerEvent_ = false;
  // A connection accepted ahead of OnSessionAvailable, or the accept failure
  // to report through Accept.
  int pendingAccept_ = -1;
  TPeerAddress pendingAcceptPeer_;
  int pendingAcceptError_ = 0;
  std::string_view pendingAcceptFunction_ = "Accept";
  bool registrationFailureReported_ = false;
  TPeerAddress peer_;

  std::string addr_, port_, proto_;
  bool addrAssigned_ = false, portAssigned_ = false, protoAssigned_ = false;
  bool addrResolved_ = false, portResolved_ = false, protoResolved_ = false;
  int protoNumber_ = 6;
  uint16_t portNumber_ = 0;
  sockaddr_in sin_{};
  std::string ipv4OnlyReason_;

  int32_t lastError_ = 0;
  int32_t readCount_ = 0;
  // The last Receive got less than it asked for (or nothing, would-block):
  // nothing was left pending at that moment.
  bool receiveCameUpShort_ = false;
  // A receive has seen the peer's close (code 0) or failure: every byte
  // before it has been taken.
  bool peerEnded_ = false;
  uint16_t peerEndError_ = 0;
  bool closeEventRaised_ = false;
  bool destroying_ = false;

  // What Send has not yet handed to the platform, in order.
  std::string sendQueue_;
  std::size_t droppedSendBytes_ = 0;
  bool sendFailed_ = false;
  bool closeIsGraceful_ = false;
  bool writeWatched_ = false;
  bool draining_ = false;
  bool resetTakenBySend_ = false;
  int sendDrainMs_ = kSendDrainMs;
  TSocketState state_ = wsClosed;
};

// The listener class of the system.
class TWSocket : public TCustomWSocket {
 public:
  TWSocket() = default;
};
