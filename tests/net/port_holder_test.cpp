#include "net/port_holder.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "base/text.h"
#include "base/whole_file.h"
#include "support/fault_injection.h"

namespace {

constexpr const char* kHeader =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout "
    "inode\n";

TEST(PortHolderTest, ListeningInodesComeOnlyFromListenersOnThePort) {
  struct Case {
    const char* name;
    std::string line;
    std::vector<uint64_t> inodes;
  };
  const std::vector<Case> cases = {
      {"any address",
       "   0: 00000000:238C 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000 0 4711 1",
       {4711}},
      {"one address",
       "   1: 0100007F:238C 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000 0 12 1",
       {12}},
      {"IPv6",
       "   0: 00000000000000000000000000000000:238C 00000000000000000000000000000000:0000 0A "
       "00000000:00000000 00:00000000 00000000  1000 0 99 1",
       {99}},
      {"connected, not listening",
       "   2: 0100007F:238C 0100007F:D431 01 00000000:00000000 00:00000000 00000000  1000 0 13 1",
       {}},
      {"another port",
       "   3: 00000000:238D 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000 0 14 1",
       {}},
      {"cut short", "   4: 00000000:238C 00000000:0000 0A", {}},
      {"inode not a number",
       "   5: 00000000:238C 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000 0 x1 1",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ListeningSocketInodes(kHeader + c.line + "\n", 9100), c.inodes);
  }
}

// A listener of this very process: the holder found must be this process.
class PortHolderListenerTest : public testing::Test {
 protected:
  void SetUp() override {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener_, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener_, 1), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length), 0);
    port_ = ntohs(address.sin_port);
  }
  void TearDown() override {
    if (listener_ >= 0) ::close(listener_);
  }

  static std::string OwnName() {
    return TrimBlanks(LoadWholeFile("/proc/self/comm", 4096).content);
  }

  int listener_ = -1;
  uint16_t port_ = 0;
};

TEST_F(PortHolderListenerTest, NamesTheProcessThatListens) {
  const std::optional<TPortHolder> holder = FindPortHolder(port_);
  ASSERT_TRUE(holder.has_value());
  EXPECT_EQ(holder->Pid, ::getpid());
  EXPECT_EQ(holder->Name, OwnName());
}

TEST_F(PortHolderListenerTest, NoteNamesTheHolderOfADecimalPortOnly) {
  const std::string own = "held by " + OwnName() + " (pid " + std::to_string(::getpid()) + ")";
  struct Case {
    std::string portText;
    std::string note;
  };
  const std::vector<Case> cases = {
      {std::to_string(port_), own},
      {"0" + std::to_string(port_), own},
      {"ipp", ""},
      {"99999", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.portText);
    EXPECT_EQ(PortHolderNote(c.portText), c.note);
  }
  ::close(listener_);
  listener_ = -1;
  EXPECT_EQ(PortHolderNote(std::to_string(port_)), "");
}

// Another user's descriptors can't be read: no holder, and no failure.
TEST_F(PortHolderListenerTest, UnreadableDescriptorsLeaveTheHolderUnknown) {
  TFileFault denied(TFileCall::ReadLink, TFault{1, 0, EACCES});
  EXPECT_FALSE(FindPortHolder(port_).has_value());
  EXPECT_GT(denied.Injected(), 0);
}

}  // namespace
