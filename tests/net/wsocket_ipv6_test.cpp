// A listener on any address takes IPv6 peers beside IPv4 ones, on real
// sockets over ::1 and 127.0.0.1.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "net/wsocket.h"
#include "support/fault_injection.h"
#include "support/ipv6_loopback.h"
#include "support/loopback.h"
#include "support/wait.h"

namespace {

// A listener on 0.0.0.0 that adopts every connection and writes down how
// the accept and the session name its peer.
class TAnyAddressServer {
 public:
  TAnyAddressServer() {
    listener.SetAddr("0.0.0.0");
    listener.SetPort("0");
    listener.OnSessionAvailable = [this](TCustomWSocket* sender, uint16_t) {
      auto session = std::make_unique<TCustomWSocket>();
      session->Dup(sender->Accept(), sender->AcceptedPeer());
      Accepted.push_back(session->AcceptedPeer());
      Named.push_back(session->PeerAddr());
      sessions_.push_back(std::move(session));
    };
  }

  // Waits until the peer on fd has been taken; false on timeout.
  bool Takes(int fd) {
    const std::size_t before = Accepted.size();
    return fd >= 0 && WaitUntil([&] { return Accepted.size() > before; });
  }

  TWSocket listener;
  std::vector<TPeerAddress> Accepted;
  std::vector<std::string> Named;

 private:
  std::vector<std::unique_ptr<TCustomWSocket>> sessions_;
};

uint16_t LocalPortOf(int fd) {
  sockaddr_storage local{};
  socklen_t length = sizeof local;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
  return local.ss_family == AF_INET6 ? ntohs(reinterpret_cast<const sockaddr_in6&>(local).sin6_port)
                                     : ntohs(reinterpret_cast<const sockaddr_in&>(local).sin_port);
}

#define SKIP_WITHOUT_IPV6_LOOPBACK() \
  if (!HasIPv6Loopback()) GTEST_SKIP() << "This machine has no ::1"

// One socket takes both families; an IPv4 peer arrives as ::ffff:127.0.0.1
// and is still named 127.0.0.1, by the accept and by the session alike.
TEST(WSocketIPv6Test, AnyAddressNamesPeersOfBothFamilies) {
  SKIP_WITHOUT_IPV6_LOOPBACK();
  TAnyAddressServer server;
  server.listener.Listen();
  EXPECT_EQ(BoundFamily(server.listener.Handle()), AF_INET6);
  EXPECT_EQ(server.listener.IPv4OnlyReason(), "");
  const uint16_t port = server.listener.LocalPortNumber();
  ASSERT_NE(port, 0);
  const struct {
    bool ipv6;
    const char* name;
  } cases[] = {{false, "127.0.0.1"}, {true, "::1"}, {false, "127.0.0.1"}};
  std::vector<int> peers;
  for (const auto& c : cases) {
    const int peer = c.ipv6 ? ConnectIPv6Loopback(port) : ConnectLoopback(port);
    peers.push_back(peer);
    ASSERT_TRUE(server.Takes(peer)) << c.name;
    EXPECT_EQ(server.Accepted.back().address, c.name);
    EXPECT_EQ(server.Accepted.back().port, LocalPortOf(peer)) << c.name;
    EXPECT_EQ(server.Named.back(), c.name);
  }
  for (const int peer : peers) ::close(peer);
}

struct TRefusalCase {
  const char* name;
  TSocketCall call;
  int error;
  const char* reason;  // IPv4OnlyReason, "" for none
};

class IPv6RefusedTest : public testing::TestWithParam<TRefusalCase> {};

// The IPv6 side refused: IPv4 peers are served all the same; a host
// without IPv6 needs no word, any other refusal is told.
TEST_P(IPv6RefusedTest, KeepsTheIPv4Side) {
  SKIP_WITHOUT_IPV6_LOOPBACK();
  const TRefusalCase& c = GetParam();
  // Takes what the layer holds once for all sockets before the count.
  TWSocket other;
  other.SetAddr("127.0.0.1");
  other.SetPort("0");
  other.Listen();
  TAnyAddressServer server;
  const int descriptors = OpenDescriptorCount();
  {
    TSocketFault refused(c.call, TFault{1, 1, c.error});
    server.listener.Listen();
  }
  EXPECT_EQ(server.listener.State(), wsListening);
  EXPECT_EQ(BoundFamily(server.listener.Handle()), AF_INET);
  EXPECT_EQ(server.listener.IPv4OnlyReason(), c.reason);
  // The listener's own handle, and nothing left of the refused attempt.
  EXPECT_EQ(OpenDescriptorCount(), descriptors + 1);
  const int peer = ConnectLoopback(server.listener.LocalPortNumber());
  ASSERT_TRUE(server.Takes(peer));
  EXPECT_EQ(server.Accepted.back().address, "127.0.0.1");
  ::close(peer);
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, IPv6RefusedTest,
    testing::Values(TRefusalCase{"NoIPv6Family", TSocketCall::Socket, EAFNOSUPPORT, ""},
                    TRefusalCase{"NoIPv6Address", TSocketCall::Bind, EADDRNOTAVAIL, ""},
                    TRefusalCase{"OutOfDescriptors", TSocketCall::Socket, EMFILE,
                                 "Error 10024 in function socket (Too many open files)"},
                    TRefusalCase{
                        "DualStackRefused", TSocketCall::SetSockOpt, ENOPROTOOPT,
                        "Error 10042 in function setsockopt(IPV6_V6ONLY) (Protocol not available)"},
                    TRefusalCase{"BindRefused", TSocketCall::Bind, EACCES,
                                 "Error 10013 in function Bind (Permission denied)"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
