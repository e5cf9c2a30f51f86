#include "net/wsocket.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "net/socket_calls.h"
#include "support/fault_injection.h"
#include "support/loopback.h"
#include "support/raised_message.h"
#include "support/wait.h"
#include "wsocket_server.h"

namespace {

// Waits, without running the event loop (which would accept them), until
// count connections wait in the listener's accept queue.
bool ConnectionsWait(const TCustomWSocket& listener, unsigned count) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < 5000) {
    tcp_info info{};
    socklen_t length = sizeof info;
    // For a listening socket the kernel reports its accept queue here.
    if (::getsockopt(listener.Handle(), IPPROTO_TCP, TCP_INFO, &info, &length) == 0 &&
        info.tcpi_unacked >= count)
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

std::vector<int> ConnectPeers(uint16_t port, int count) {
  std::vector<int> peers;
  for (int i = 0; i < count; ++i) peers.push_back(ConnectLoopback(port));
  return peers;
}

void ClosePeers(const std::vector<int>& peers) {
  for (int peer : peers) ::close(peer);
}

// Runs the event loop a little longer so that anything still queued is handled.
void Settle() {
  WaitUntil([] { return false; }, 50);
}

class WSocketTest : public ::testing::Test {};

TEST_F(WSocketTest, ConnectAndCloseWithoutData) {
  int live = TCustomWSocket::LiveCount();
  {
    TTestServer server;
    int peer = ConnectLoopback(server.PortNumber());
    ASSERT_GE(peer, 0);
    ::close(peer);
    ASSERT_TRUE(WaitUntil([&] { return server.ClosedCount() == 1; }));
    Settle();
    ASSERT_EQ(server.available, 1);
    const TRecordedSession& s = *server.sessions[0];
    EXPECT_GE(s.dataEvents, 1);
    EXPECT_EQ(s.dataEventsAfterClose, 0);
    EXPECT_EQ(s.closeEvents, 1);
    EXPECT_EQ(s.closeError, 0);
    EXPECT_EQ(s.received, "");
    EXPECT_EQ(s.socket, nullptr);  // destroyed inside its own OnSessionClosed
    EXPECT_EQ(TCustomWSocket::LiveCount(), live + 1);
  }
  EXPECT_EQ(TCustomWSocket::LiveCount(), live);
}

TEST_F(WSocketTest, BurstThenCloseArrivesWholeBeforeTheCloseEvent) {
  TTestServer server;
  std::string burst;
  for (int i = 0; i < 5000; ++i) burst += static_cast<char>('a' + i % 26);
  int peer = ConnectLoopback(server.PortNumber());
  ASSERT_TRUE(SendAll(peer, burst));
  ::close(peer);
  ASSERT_TRUE(WaitUntil([&] { return server.ClosedCount() == 1; }));
  const TRecordedSession& s = *server.sessions[0];
  EXPECT_EQ(s.received, burst);
  EXPECT_EQ(s.dataEventsAfterClose, 0);
  for (int piece : s.pieces) EXPECT_LE(piece, 1024);
  EXPECT_EQ(s.closeError, 0);
  EXPECT_EQ(s.stateInClose, wsConnected);
  EXPECT_EQ(s.peerInClose, "127.0.0.1");
}

// One read notification takes until the cap is reached and then goes back to
// the event loop, whatever the handler's receive size: the receive that
// crosses the cap is the last one, and what is left waits for the next
// notification, still ahead of the close.
TEST_F(WSocketTest, OneReadNotificationStopsAtTheCap) {
  struct TCase {
    int receiveSize;
    int expectedTaken;
  };
  constexpr int kCap = kMaxBytesPerReadNotification;
  const TCase cases[] = {
      {kCap, kCap},                                          // one receive fills the cap
      {kCap / 4, kCap},                                      // the cap falls on a receive's end
      {100 * 1000, (kCap / (100 * 1000) + 1) * 100 * 1000},  // the last receive straddles it
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.receiveSize);
    TCustomWSocket listener;
    listener.SetAddr("127.0.0.1");
    listener.SetPort("0");
    listener.Listen();
    // Room for the whole burst on this side, so that all of it is pending.
    const int room = 8 * kCap;
    ::setsockopt(listener.Handle(), SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    const int peer = ConnectLoopback(listener.LocalPortNumber());
    ASSERT_GE(peer, 0);
    const std::string bytes = std::string(3 * kCap, 'x');
    ASSERT_TRUE(SendAll(peer, bytes));
    ::close(peer);
    // No event loop runs until the notification taken by hand below.
    const int handle = ::accept(listener.Handle(), nullptr, nullptr);
    ASSERT_GE(handle, 0);
    TCustomWSocket session;
    session.Dup(handle);
    std::string received;
    int closes = 0;
    std::size_t receivedAtClose = 0;
    session.OnDataAvailable = [&](TCustomWSocket* sender, uint16_t) {
      std::string buffer(static_cast<std::size_t>(c.receiveSize), '\0');
      const int got = sender->Receive(buffer.data(), c.receiveSize);
      if (got > 0) received.append(buffer, 0, static_cast<std::size_t>(got));
    };
    session.OnSessionClosed = [&](TCustomWSocket*, uint16_t) {
      ++closes;
      receivedAtClose = received.size();
    };
    // Everything has arrived: one notification, taken by hand.
    for (int tries = 0; tries < 5000 && session.PendingBytes() < 3 * kCap; ++tries)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(session.PendingBytes(), 3 * kCap);
    session.HandleReadiness(session.Handle());
    EXPECT_EQ(static_cast<int>(received.size()), c.expectedTaken);
    EXPECT_EQ(closes, 0);
    ASSERT_TRUE(WaitUntil([&] { return closes == 1; }));
    EXPECT_EQ(receivedAtClose, bytes.size());
  }
}

// Two connections are ready in the same wake-up; the first one's handler
// destroys the other and gives its descriptor number to a new socket. The
// readiness already collected for the destroyed one must not reach the new one.
TEST_F(WSocketTest, ReadinessOfADestroyedSocketNeverReachesTheNextOwnerOfItsNumber) {
  TTestServer server(false);
  const std::vector<int> peers = ConnectPeers(server.PortNumber(), 2);
  ASSERT_TRUE(WaitUntil([&] { return server.sessions.size() == 2; }));
  int idle[2] = {-1, -1};
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, idle), 0);
  auto successor = std::make_unique<TCustomWSocket>();
  int successorEvents = 0;
  successor->OnDataAvailable = [&](TCustomWSocket*, uint16_t) { ++successorEvents; };
  successor->OnSessionClosed = [&](TCustomWSocket*, uint16_t) { ++successorEvents; };
  bool replaced = false;
  for (int i = 0; i < 2; ++i) {
    server.sessions[i]->socket->OnDataAvailable = [&, i](TCustomWSocket* sender, uint16_t) {
      char buffer[64];
      sender->Receive(buffer, sizeof buffer);
      if (replaced) return;
      replaced = true;
      TRecordedSession& other = *server.sessions[1 - i];
      const int number = other.socket->Handle();
      other.socket.reset();
      ASSERT_EQ(::dup2(idle[0], number), number);
      successor->Dup(number);
    };
  }
  for (int peer : peers) ASSERT_TRUE(SendAll(peer, "ready"));
  ASSERT_TRUE(WaitUntil([&] { return replaced; }));
  Settle();
  EXPECT_EQ(successorEvents, 0);
  successor.reset();
  ::close(idle[0]);
  ::close(idle[1]);
  ClosePeers(peers);
}

TEST_F(WSocketTest, ReadNotificationWithNothingPending) {
  TTestServer server(false);
  int peer = ConnectLoopback(server.PortNumber());
  ASSERT_TRUE(SendAll(peer, "hello"));
  ASSERT_TRUE(WaitUntil(
      [&] { return !server.sessions.empty() && server.sessions[0]->received == "hello"; }));
  TRecordedSession& s = *server.sessions[0];
  int before = s.dataEvents;
  s.socket->HandleReadiness(s.socket->Handle());
  EXPECT_EQ(s.dataEvents, before + 1);
  EXPECT_EQ(s.pieces.back(), -1);
  EXPECT_EQ(s.socket->LastError(), 10035);
  EXPECT_EQ(s.socket->State(), wsConnected);
  EXPECT_EQ(s.closeEvents, 0);
  ::close(peer);
  ASSERT_TRUE(WaitUntil([&] { return s.closeEvents == 1; }));
}

TEST_F(WSocketTest, TwoConnectionsAtOnce) {
  // The listener's state around each connection it hands out.
  std::vector<TSocketState> listenerStates;
  TTestServer server;
  const TCustomWSocket::TSessionEvent adopt = server.listener.OnSessionAvailable;
  server.listener.OnSessionAvailable = [&](TCustomWSocket* sender, uint16_t error) {
    listenerStates.push_back(sender->State());
    adopt(sender, error);
    listenerStates.push_back(sender->State());
  };
  int first = ConnectLoopback(server.PortNumber());
  int second = ConnectLoopback(server.PortNumber());
  ASSERT_TRUE(SendAll(first, "first"));
  ASSERT_TRUE(SendAll(second, "second"));
  ASSERT_TRUE(WaitUntil([&] { return server.sessions.size() == 2; }));
  EXPECT_NE(server.sessions[0]->handle, server.sessions[1]->handle);
  ::close(second);
  ASSERT_TRUE(WaitUntil([&] { return server.ClosedCount() == 1; }));
  ::close(first);
  ASSERT_TRUE(WaitUntil([&] { return server.ClosedCount() == 2; }));
  std::set<std::string> received{server.sessions[0]->received, server.sessions[1]->received};
  EXPECT_EQ(received, (std::set<std::string>{"first", "second"}));
  EXPECT_EQ(server.available, 2);
  EXPECT_EQ(server.listener.State(), wsListening);
  EXPECT_EQ(listenerStates, std::vector<TSocketState>(4, wsListening));
}

TEST_F(WSocketTest, ListenOnABusyPortClosesTheAttempt) {
  TTestServer server;
  TWSocket second;
  second.SetAddr("127.0.0.1");
  second.SetPort(std::to_string(server.PortNumber()));
  int descriptors = OpenDescriptorCount();
  EXPECT_EQ(RaisedMessage([&] { second.Listen(); }),
            "Error 10048 in function Bind\r\nAddress already in use");
  EXPECT_EQ(second.State(), wsClosed);
  EXPECT_EQ(second.LastError(), 10048);
  EXPECT_EQ(second.Handle(), -1);
  EXPECT_EQ(OpenDescriptorCount(), descriptors);
  EXPECT_EQ(second.Port(), std::to_string(server.PortNumber()));
}

// The listener and the session spell the registration's function name
// differently, and both spellings are kept.
TEST_F(WSocketTest, RegistrationFailuresNameTheListenersAndTheSessionsSpelling) {
  TSocketFault refused(TSocketCall::EpollCtl, TFault{1, 0, ENOMEM});
  TWSocket listener;
  listener.SetAddr("127.0.0.1");
  listener.SetPort("0");
  EXPECT_EQ(RaisedMessage([&] { listener.Listen(); }),
            "Error 10055 in function WSAASyncSelect\r\nNo buffer space available");
  TCustomWSocket session;
  const int handle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  EXPECT_EQ(RaisedMessage([&] { session.Dup(handle); }),
            "Error 10055 in function WSAAsyncSelect\r\nNo buffer space available");
}

TEST_F(WSocketTest, PropertiesAreTrimmedAndFixedWhileOpen) {
  TWSocket socket;
  socket.SetAddr(" 127.0.0.1\t");
  socket.SetPort(" 0 ");
  socket.SetProto(" tcp ");
  EXPECT_EQ(socket.Addr(), "127.0.0.1");
  EXPECT_EQ(socket.Port(), "0");
  EXPECT_EQ(socket.Proto(), "tcp");
  socket.Listen();
  ASSERT_EQ(socket.State(), wsListening);
  struct {
    std::function<void()> write;
    const char* message;
  } cases[] = {
      {[&] { socket.SetPort("9101"); }, "Cannot change Port if not closed"},
      {[&] { socket.SetAddr("0.0.0.0"); }, "Cannot change Addr if not closed"},
      {[&] { socket.SetProto("udp"); }, "Cannot change Proto if not closed"},
      {[&] { socket.SetPort("0"); }, ""},  // the same text again does nothing
      {[&] { socket.SetAddr("127.0.0.1"); }, ""},
      {[&] { socket.SetProto("tcp"); }, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(RaisedMessage(c.write), c.message);
  EXPECT_EQ(socket.State(), wsListening);
  EXPECT_EQ(socket.Port(), "0");
}

TEST_F(WSocketTest, ListenReportsWhatIsMissingInOrder) {
  struct {
    const char* addr;
    const char* port;
    const char* proto;
    const char* message;
  } cases[] = {
      {"", "", "tcp", "Error 10022 in function listen: port not assigned\r\nInvalid argument"},
      {"", "0", "", "Error 10022 in function listen: protocol not assigned\r\nInvalid argument"},
      {"", "0", "tcp", "Error 10022 in function listen: address not assigned\r\nInvalid argument"},
      {"127.0.0.1", "xyz", "tcp", "listen: WSocketResolvePort: Cannot convert port 'xyz'"},
      {"127.0.0.1", "70000", "tcp", "listen: WSocketResolvePort: Invalid Port."},
      {"127.0.0.1", "0", "xyz", "listen: WSocketResolveProto: Cannot convert protocol 'xyz'"},
      {"1.2.3.09", "0", "tcp", "listen: WSocketResolveHost: '1.2.3.09' Invalid IP address."},
  };
  for (const auto& c : cases) {
    TWSocket socket;
    socket.SetAddr(c.addr);
    socket.SetPort(c.port);
    socket.SetProto(c.proto);
    EXPECT_EQ(RaisedMessage([&] { socket.Listen(); }), c.message) << c.port;
    EXPECT_EQ(socket.State(), wsClosed);
    EXPECT_EQ(socket.Handle(), -1);
  }
}

TEST_F(WSocketTest, AfterCloseTheListenerNeedsItsPortAgain) {
  TTestServer server;
  server.listener.Close();
  EXPECT_EQ(server.listener.State(), wsClosed);
  EXPECT_EQ(server.listener.Port(), "0");
  EXPECT_EQ(RaisedMessage([&] { server.listener.Listen(); }),
            "Error 10022 in function listen: port not assigned\r\nInvalid argument");
}

TEST_F(WSocketTest, CloseTwiceOrUnopenedRaisesNothing) {
  TCustomWSocket unopened;
  int closes = 0;
  unopened.OnSessionClosed = [&](TCustomWSocket*, uint16_t) { ++closes; };
  unopened.Close();
  TTestServer server;
  server.listener.OnSessionClosed = [&](TCustomWSocket*, uint16_t) { ++closes; };
  server.listener.Close();  // a listener's close also counts as its close event
  server.listener.Close();
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(unopened.State(), wsClosed);
}

// Reads what has arrived on fd into `into`: answers EAGAIN while the
// connection is open, 0 once it ended in order, else the errno of the failure.
int ReadArrived(int fd, std::string& into) {
  char buffer[16384];
  for (;;) {
    const ssize_t count = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (count <= 0) return count == 0 ? 0 : errno;
    into.append(buffer, static_cast<std::size_t>(count));
  }
}

// Reads fd to its end while the event loop runs; answers how it ended.
int ReadToEnd(int fd, std::string& into) {
  int ending = EAGAIN;
  WaitUntil([&] { return (ending = ReadArrived(fd, into)) != EAGAIN; });
  return ending;
}

// The TCP state of fd's connection as its side sees it.
int TcpState(int fd) {
  tcp_info info{};
  socklen_t length = sizeof info;
  return ::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) == 0 ? info.tcpi_state : -1;
}

// A connection nothing was sent on is reset by its close (linger on with
// 0 s), as it always was: the peer's side is gone after the end. One that
// was sent bytes ends in order behind them, and the peer's side waits for
// its own close.
TEST_F(WSocketTest, CloseBeforeThePeerResetsItUnlessBytesWereSent) {
  struct {
    const char* sent;
    int lingerOn;
    int peerState;
  } cases[] = {{"", 1, TCP_CLOSE}, {"reply", 0, TCP_CLOSE_WAIT}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sent);
    TTestServer server(false);
    int peer = ConnectLoopback(server.PortNumber());
    ASSERT_TRUE(WaitUntil([&] { return server.sessions.size() == 1; }));
    TRecordedSession& s = *server.sessions[0];
    int handle = s.socket->Handle();
    EXPECT_EQ(s.socket->Send(c.sent), 0u);
    linger option{};
    socklen_t length = sizeof option;
    ASSERT_EQ(::getsockopt(handle, SOL_SOCKET, SO_LINGER, &option, &length), 0);
    EXPECT_EQ(option.l_onoff, c.lingerOn);
    EXPECT_EQ(option.l_linger, 0);
    s.socket->Close();
    EXPECT_EQ(s.closeEvents, 1);
    EXPECT_EQ(s.closeError, 0);
    EXPECT_EQ(s.stateInClose, wsClosed);
    EXPECT_EQ(s.peerInClose, "error");
    std::string got;
    EXPECT_EQ(ReadToEnd(peer, got), 0);
    EXPECT_EQ(got, c.sent);
    EXPECT_TRUE(WaitUntil([&] { return TcpState(peer) == c.peerState; })) << TcpState(peer);
    ::close(peer);
    s.socket->HandleReadiness(handle);
    s.socket->HandleWritable(handle);
    Settle();
    EXPECT_EQ(s.closeEvents, 1);
  }
}

// Bytes in a recognisable order: a lost, repeated or swapped piece shows.
std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i % 251);
  return bytes;
}

// A peer with a small receive window, and a session with a small send
// buffer: the platform is full after a few kilobytes, and the rest of what
// is sent waits in the session's queue. The window is set before the
// connection is made, since an advertised window never shrinks.
int ConnectSmallWindow(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  const int small = 4096;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  return fd;
}

void ShrinkSendBuffer(TCustomWSocket& session) {
  const int small = 4096;
  ::setsockopt(session.Handle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
}

TEST_F(WSocketTest, APeerThatDoesNotReadGetsWhatWasNotDroppedInOrder) {
  TTestServer server(false);
  const int peer = ConnectSmallWindow(server.PortNumber());
  ASSERT_TRUE(WaitUntil([&] { return server.sessions.size() == 1; }));
  TCustomWSocket& session = *server.sessions[0]->socket;
  ShrinkSendBuffer(session);
  const TSocketFault interest(TSocketCall::EpollCtl, TFault{});  // counts only
  const std::string bytes = Pattern(1 << 20);
  std::size_t dropped = 0;
  for (std::size_t at = 0; at < bytes.size(); at += 4096) {
    dropped += session.Send(std::string_view(bytes).substr(at, 4096));
    ASSERT_LE(session.QueuedSendBytes(), kMaxQueuedSendBytes);
  }
  EXPECT_EQ(session.QueuedSendBytes(), kMaxQueuedSendBytes);
  EXPECT_EQ(session.DroppedSendBytes(), dropped);
  const std::size_t kept = bytes.size() - dropped;
  std::string got;
  ASSERT_TRUE(WaitUntil([&] { return ReadArrived(peer, got) == EAGAIN && got.size() >= kept; }));
  EXPECT_TRUE(got == bytes.substr(0, kept));
  EXPECT_EQ(session.QueuedSendBytes(), 0u);
  EXPECT_EQ(interest.Calls(), 2);  // write notifications on once queued, off once emptied
  ::close(peer);
  ASSERT_TRUE(WaitUntil([&] { return server.sessions[0]->closeEvents == 1; }));
}

// The peer ends its side after a query and waits for the reply: the close
// comes once the queue has left, or once the drain time has passed for a
// peer that does not read, and the peer sees an orderly end behind every
// byte that was not dropped.
TEST_F(WSocketTest, APeerThatEndsItsSideGetsTheQueuedReplyBeforeTheClose) {
  struct {
    const char* name;
    bool peerReadsAtOnce;
    int drainMs;
  } cases[] = {{"peer reads", true, kSendDrainMs}, {"peer does not read", false, 50}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TTestServer server;
    const int peer = ConnectSmallWindow(server.PortNumber());
    ASSERT_TRUE(WaitUntil([&] { return server.sessions.size() == 1; }));
    TRecordedSession& s = *server.sessions[0];
    ShrinkSendBuffer(*s.socket);
    s.socket->SetSendDrainMs(c.drainMs);
    const std::string reply = Pattern(kMaxQueuedSendBytes);
    std::size_t queuedAfterReply = 0, queuedAtClose = 1, droppedAtClose = 0;
    const auto receive = s.socket->OnDataAvailable;
    s.socket->OnDataAvailable = [&](TCustomWSocket* sender, uint16_t error) {
      receive(sender, error);
      if (s.received != "status?" || queuedAfterReply != 0) return;
      EXPECT_EQ(sender->Send(reply), 0u);
      queuedAfterReply = sender->QueuedSendBytes();
    };
    const auto close = s.socket->OnSessionClosed;
    s.socket->OnSessionClosed = [&](TCustomWSocket* sender, uint16_t error) {
      queuedAtClose = sender->QueuedSendBytes();
      droppedAtClose = sender->DroppedSendBytes();
      close(sender, error);
    };
    ASSERT_TRUE(SendAll(peer, "status?"));
    ::shutdown(peer, SHUT_WR);
    if (!c.peerReadsAtOnce) {
      ASSERT_TRUE(WaitUntil([&] { return s.closeEvents == 1; }));
    }
    std::string got;
    EXPECT_EQ(ReadToEnd(peer, got), 0);
    ASSERT_TRUE(WaitUntil([&] { return s.closeEvents == 1; }));
    Settle();
    EXPECT_GT(queuedAfterReply, 0u);
    EXPECT_EQ(s.closeEvents, 1);
    EXPECT_EQ(s.closeError, 0);
    EXPECT_EQ(queuedAtClose, 0u);
    EXPECT_EQ(droppedAtClose > 0, !c.peerReadsAtOnce);
    EXPECT_TRUE(got == reply.substr(0, reply.size() - droppedAtClose));
    ::close(peer);
  }
}

// An interrupted send is made again; a failed one drops what it was handed
// and is never tried again on that connection, whose end the read side
// still reports.
TEST_F(WSocketTest, AFailedSendDropsAndIsNeverRetried) {
  struct {
    int error;
    std::size_t dropped;
    int calls;
    const char* peerGets;
  } cases[] = {{EINTR, 0, 3, "abcdef"}, {EPIPE, 6, 1, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    TTestServer server;
    const int peer = ConnectLoopback(server.PortNumber());
    ASSERT_TRUE(WaitUntil([&] { return server.sessions.size() == 1; }));
    TCustomWSocket& session = *server.sessions[0]->socket;
    {
      const TSocketFault failing(TSocketCall::Send, TFault{1, 1, c.error});
      EXPECT_EQ(session.Send("abc") + session.Send("def"), c.dropped);
      EXPECT_EQ(failing.Calls(), c.calls);
    }
    EXPECT_EQ(session.DroppedSendBytes(), c.dropped);
    ::shutdown(peer, SHUT_WR);
    std::string got;
    EXPECT_EQ(ReadToEnd(peer, got), 0);
    EXPECT_EQ(got, c.peerGets);
    EXPECT_EQ(server.sessions[0]->closeEvents, 1);
    EXPECT_EQ(server.sessions[0]->closeError, 0);
    ::close(peer);
  }
}

TEST_F(WSocketTest, AcceptAndDupRefuseWhatTheyCannotUse) {
  TCustomWSocket socket;
  EXPECT_EQ(RaisedMessage([&] { socket.Accept(); }),
            "Error 10022 in function not a listening socket\r\nInvalid argument");
  EXPECT_EQ(socket.LastError(), 10022);
  EXPECT_EQ(RaisedMessage([&] { socket.Dup(-1); }),
            "Error 10022 in function Dup\r\nInvalid argument");
  EXPECT_EQ(socket.State(), wsClosed);
}

// Also when a send, made before the next receive, was the first to learn of
// the reset: the platform tells a reset only once.
TEST_F(WSocketTest, PeerResetEndsTheSessionWith10054) {
  for (bool sendFirst : {false, true}) {
    SCOPED_TRACE(sendFirst);
    TTestServer server;
    int peer = ConnectLoopback(server.PortNumber());
    ASSERT_TRUE(WaitUntil([&] { return server.sessions.size() == 1; }));
    Settle();
    ResetConnection(peer);
    if (sendFirst) {
      pollfd entry{server.sessions[0]->socket->Handle(), POLLIN, 0};
      ASSERT_EQ(::poll(&entry, 1, 5000), 1);
      EXPECT_EQ(server.sessions[0]->socket->Send("late"), 4u);
    }
    ASSERT_TRUE(WaitUntil([&] { return server.ClosedCount() == 1; }));
    Settle();
    EXPECT_EQ(server.sessions[0]->closeEvents, 1);
    EXPECT_EQ(server.sessions[0]->closeError, 10054);
  }
}

TEST_F(WSocketTest, DestructionClosesWithAReportUnlessTheOwnerIsBeingDestroyed) {
  for (bool destroying : {false, true}) {
    TTestServer server(false);
    int peer = ConnectLoopback(server.PortNumber());
    ASSERT_TRUE(WaitUntil([&] { return server.sessions.size() == 1; }));
    if (destroying) server.sessions[0]->socket->MarkDestroying();
    server.sessions[0]->socket.reset();
    EXPECT_EQ(server.sessions[0]->closeEvents, destroying ? 0 : 1);
    EXPECT_TRUE(PeerSeesEnd(peer));
    ::close(peer);
  }
}

TEST_F(WSocketTest, ExceptionsFromHandlers) {
  TTestServer server(false);
  // From OnSessionAvailable: the listener is aborted, and the exception goes
  // no further than the socket (the event loop would end the process).
  int raised = 0;
  server.listener.OnSessionAvailable = [&](TCustomWSocket* sender, uint16_t) {
    ++raised;
    ::close(sender->Accept());
    throw Exception("handler failed");
  };
  int peer = ConnectLoopback(server.PortNumber());
  ASSERT_TRUE(WaitUntil([&] { return server.listener.State() == wsClosed; }));
  EXPECT_EQ(raised, 1);
  EXPECT_EQ(server.listener.Handle(), -1);
  ::close(peer);
}

TEST_F(WSocketTest, DataHandlerExceptionIsDiscarded) {
  TTestServer server;
  int peer = ConnectLoopback(server.PortNumber());
  ASSERT_TRUE(WaitUntil([&] { return server.sessions.size() == 1; }));
  TRecordedSession& s = *server.sessions[0];
  auto record = s.socket->OnDataAvailable;
  bool thrown = false;
  s.socket->OnDataAvailable = [&](TCustomWSocket* sender, uint16_t error) {
    record(sender, error);
    if (!thrown) {
      thrown = true;
      throw Exception("not now");
    }
  };
  ASSERT_TRUE(SendAll(peer, "abc"));
  ::close(peer);
  ASSERT_TRUE(WaitUntil([&] { return s.closeEvents == 1; }));
  EXPECT_TRUE(thrown);
  EXPECT_EQ(s.received, "abc");
}

TEST_F(WSocketTest, ReceiveRetriesInterruptedReads) {
  TTestServer server;
  int peer = ConnectLoopback(server.PortNumber());
  ASSERT_TRUE(WaitUntil([&] { return server.sessions.size() == 1; }));
  TSocketFault interrupted(TSocketCall::Recv, TFault{1, 2, EINTR});
  ASSERT_TRUE(SendAll(peer, "xyz"));
  ::close(peer);
  ASSERT_TRUE(WaitUntil([&] { return server.ClosedCount() == 1; }));
  EXPECT_EQ(server.sessions[0]->received, "xyz");
  EXPECT_EQ(interrupted.Injected(), 2);
}

TEST_F(WSocketTest, CloseIsNotRetriedAfterEintr) {
  TTestServer server(false);
  int peer = ConnectLoopback(server.PortNumber());
  ASSERT_TRUE(WaitUntil([&] { return server.sessions.size() == 1; }));
  {
    TSocketFault interrupted(TSocketCall::Close, TFault{1, 0, EINTR});
    server.sessions[0]->socket->Close();
    EXPECT_EQ(interrupted.Calls(), 1);
  }
  EXPECT_EQ(server.sessions[0]->socket->State(), wsClosed);
  EXPECT_EQ(server.sessions[0]->closeEvents, 1);
  EXPECT_TRUE(PeerSeesEnd(peer));
  ::close(peer);
}

TEST_F(WSocketTest, PeersThatFailedBeforeAcceptAreSkipped) {
  TTestServer server;
  TSocketFault aborted(TSocketCall::Accept, TFault{1, 1, ECONNABORTED});
  int peer = ConnectLoopback(server.PortNumber());
  ASSERT_TRUE(SendAll(peer, "ok"));
  ::close(peer);
  ASSERT_TRUE(WaitUntil([&] { return server.ClosedCount() == 1; }));
  EXPECT_EQ(server.available, 1);
  EXPECT_EQ(server.AcceptError, "");
  EXPECT_EQ(server.sessions[0]->received, "ok");
}

TEST_F(WSocketTest, OneNotificationTakesEveryWaitingConnection) {
  {
    // Within the backlog of 5, so no connect waits for a retry.
    TTestServer server;
    const std::vector<int> peers = ConnectPeers(server.PortNumber(), 4);
    ASSERT_TRUE(ConnectionsWait(server.listener, 4));
    server.listener.HandleReadiness(server.listener.Handle());
    EXPECT_EQ(server.available, 4);
    EXPECT_EQ(server.sessions.size(), 4u);
    EXPECT_EQ(server.AcceptError, "");
    ClosePeers(peers);
    ASSERT_TRUE(WaitUntil([&] { return server.ClosedCount() == 4; }));
  }
  {
    // A handler that destroys the listener ends the taking; what still waits
    // goes with the listener's handle.
    auto listener = std::make_unique<TWSocket>();
    listener->SetAddr("127.0.0.1");
    listener->SetPort("0");
    int raised = 0;
    listener->OnSessionAvailable = [&](TCustomWSocket* sender, uint16_t) {
      ++raised;
      ::close(sender->Accept());
      listener.reset();
    };
    listener->Listen();
    const std::vector<int> peers = ConnectPeers(listener->LocalPortNumber(), 3);
    ASSERT_TRUE(ConnectionsWait(*listener, 3));
    TWSocket* raw = listener.get();
    raw->HandleReadiness(raw->Handle());
    EXPECT_EQ(raised, 1);
    for (int peer : peers) EXPECT_TRUE(PeerSeesEnd(peer));
    ClosePeers(peers);
  }
}

TEST_F(WSocketTest, OneNotificationTakesABoundedNumberOfConnections) {
  TTestServer server;
  int raised = 0;
  server.listener.OnSessionAvailable = [&](TCustomWSocket* sender, uint16_t) {
    ++raised;
    ::close(sender->Accept());
  };
  // A listener that runs dry only long after the bound.
  static int calls = 0;
  TSocketCallsOverride override;
  override.Calls().Accept = [](int, sockaddr*, socklen_t*) {
    if (++calls > 1000) {
      errno = EAGAIN;
      return -1;
    }
    return ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  };
  server.listener.HandleReadiness(server.listener.Handle());
  EXPECT_EQ(raised, kMaxAcceptsPerNotification);
}

TEST_F(WSocketTest, AFailingAcceptIsReportedOnceAndTheListenerPauses) {
  TTestServer server;
  std::optional<TSocketFault> failing(std::in_place, TSocketCall::Accept, TFault{1, 0, ENOBUFS});
  int peer = ConnectLoopback(server.PortNumber());
  ASSERT_TRUE(WaitUntil([&] { return server.available == 1; }));
  EXPECT_EQ(server.AcceptError, "Error 10055 in function Accept\r\nNo buffer space available");
  Settle();
  EXPECT_EQ(server.available, 1);  // paused: no notification during the pause
  failing.reset();
  ASSERT_TRUE(WaitUntil([&] { return server.sessions.size() == 1; }));
  EXPECT_EQ(server.listener.State(), wsListening);
  ::close(peer);
  ASSERT_TRUE(WaitUntil([&] { return server.ClosedCount() == 1; }));
}

// The platform refuses to watch the listener again after the pause: the
// resume is tried until it goes through, the failure is reported once, and
// the waiting peer is then taken.
TEST_F(WSocketTest, AFailedResumeIsRetriedAndReportedOnce) {
  TTestServer server;
  std::optional<TSocketFault> accepting(std::in_place, TSocketCall::Accept, TFault{1, 1, ENOBUFS});
  // The first change is the pause, the next three are resumes.
  TSocketFault resuming(TSocketCall::EpollCtl, TFault{2, 3, ENOMEM});
  int peer = ConnectLoopback(server.PortNumber());
  ASSERT_TRUE(WaitUntil([&] { return server.sessions.size() == 1; }, 10000))
      << server.available << " " << server.AcceptError;
  EXPECT_EQ(resuming.Injected(), 3);
  EXPECT_EQ(server.available, 3);  // the accept failure, the resume failure, the peer
  EXPECT_EQ(server.AcceptError,
            SocketErrorMessage(WSocketErrorFromErrno(ENOMEM), "WSAASyncSelect"));
  ::close(peer);
  ASSERT_TRUE(WaitUntil([&] { return server.ClosedCount() == 1; }));
}

// A pause the platform refuses is reported through an event of its own,
// ahead of the accept failure that paused; a handler that destroys the
// listener there ends the taking, and nothing touches the listener after.
TEST_F(WSocketTest, AHandlerMayDestroyTheListenerOverARefusedPause) {
  auto listener = std::make_unique<TWSocket>();
  listener->SetAddr("127.0.0.1");
  listener->SetPort("0");
  int raised = 0;
  std::string report;
  listener->OnSessionAvailable = [&](TCustomWSocket* sender, uint16_t) {
    ++raised;
    report = RaisedMessage([&] { sender->Accept(); });
    listener.reset();
  };
  listener->Listen();
  const int peer = ConnectLoopback(listener->LocalPortNumber());
  ASSERT_TRUE(ConnectionsWait(*listener, 1));
  TSocketFault accepting(TSocketCall::Accept, TFault{1, 1, ENOBUFS});
  TSocketFault pausing(TSocketCall::EpollCtl, TFault{1, 1, ENOMEM});
  TWSocket* raw = listener.get();
  raw->HandleReadiness(raw->Handle());
  EXPECT_EQ(listener, nullptr);
  EXPECT_EQ(raised, 1);
  EXPECT_EQ(report, SocketErrorMessage(WSocketErrorFromErrno(ENOMEM), "WSAASyncSelect"));
  EXPECT_TRUE(PeerSeesEnd(peer));
  ::close(peer);
}

// How the peer's side of fd ended: 0 for an orderly end, the errno of a
// failed receive, -1 when nothing came within the deadline.
int PeerEnding(int fd) {
  pollfd entry{fd, POLLIN, 0};
  if (::poll(&entry, 1, 5000) <= 0) return -1;
  char byte;
  return ::recv(fd, &byte, 1, MSG_DONTWAIT) < 0 ? errno : 0;
}

// A handle turned away before any socket object adopts it: a reset tells the
// peer that no job was taken, and a failed linger option still closes it.
TEST_F(WSocketTest, AnAcceptedHandleIsClosedOrResetAsAsked) {
  struct {
    const char* name;
    void (*close)(int handle);
    int lingerFailure;
    int peerSees;
  } cases[] = {
      {"close", TCustomWSocket::CloseAccepted, 0, 0},
      {"reset", TCustomWSocket::ResetAccepted, 0, ECONNRESET},
      {"reset, linger refused", TCustomWSocket::ResetAccepted, ENOMEM, 0},
  };
  for (const auto& c : cases) {
    TTestServer server;
    const int descriptors = OpenDescriptorCount();
    bool closed = false;
    server.listener.OnSessionAvailable = [&](TCustomWSocket* sender, uint16_t) {
      const int handle = sender->Accept();
      std::optional<TSocketFault> refusal;
      if (c.lingerFailure != 0)
        refusal.emplace(TSocketCall::SetSockOpt, TFault{1, 1, c.lingerFailure});
      c.close(handle);
      closed = true;
    };
    const int peer = ConnectLoopback(server.PortNumber());
    ASSERT_TRUE(WaitUntil([&] { return closed; })) << c.name;
    EXPECT_EQ(PeerEnding(peer), c.peerSees) << c.name;
    ::close(peer);
    EXPECT_EQ(OpenDescriptorCount(), descriptors) << c.name;
  }
}

// A session adopted with the peer accept reported keeps it after the
// connection is gone.
TEST_F(WSocketTest, TheAcceptedPeerIsKnownWithoutAskingThePlatform) {
  TTestServer server;
  TPeerAddress accepted;
  server.listener.OnSessionAvailable = [&](TCustomWSocket* sender, uint16_t) {
    ::close(sender->Accept());
    accepted = sender->AcceptedPeer();
  };
  int peer = ConnectLoopback(server.PortNumber());
  sockaddr_in local{};
  socklen_t length = sizeof local;
  ASSERT_EQ(::getsockname(peer, reinterpret_cast<sockaddr*>(&local), &length), 0);
  ASSERT_TRUE(WaitUntil([&] { return accepted.port != 0; }));
  EXPECT_EQ(accepted.address, "127.0.0.1");
  EXPECT_EQ(accepted.port, ntohs(local.sin_port));
  ::close(peer);
}

}  // namespace
