#include <gtest/gtest.h>

#include <filesystem>

#include "capture/ini_file.h"
#include "capture/monitor.h"
#include "jobs/sender_filter.h"
#include "support/file_contents.h"
#include "support/log_lines.h"
#include "support/loopback.h"
#include "support/monitor_fixture.h"
#include "support/wait.h"

namespace {

// ---------------------------------------------------------------------------
// Who may send

struct TSenderCase {
  const char* list;
  const char* peer;
  bool allowed;
};

class SenderFilterTest : public testing::TestWithParam<TSenderCase> {};

TEST_P(SenderFilterTest, AllowsExactlyTheListedAddresses) {
  const TSenderCase& c = GetParam();
  EXPECT_EQ(TSenderFilter(c.list).Allows(c.peer), c.allowed) << c.list << " / " << c.peer;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SenderFilterTest,
    testing::Values(
        TSenderCase{"", "203.0.113.9", true}, TSenderCase{" , ", "203.0.113.9", true},
        TSenderCase{"10.0.0.7", "10.0.0.7", true}, TSenderCase{"10.0.0.7", "10.0.0.8", false},
        TSenderCase{"192.168.1.0/24, 10.0.0.7", "192.168.1.255", true},
        TSenderCase{"192.168.1.0/24, 10.0.0.7", "192.168.2.0", false},
        TSenderCase{"192.168.1.77/24", "192.168.1.3", true},
        TSenderCase{"0.0.0.0/0", "255.255.255.255", true},
        TSenderCase{"10.0.0.7/32", "10.0.0.7", true}, TSenderCase{"10.0.0.7/32", "10.0.0.6", false},
        TSenderCase{"10.0.0.0/31", "10.0.0.1", true}, TSenderCase{"10.0.0.0/31", "10.0.0.2", false},
        // A list of typos allows nobody, and a typo beside a
        // good entry takes nothing from it.
        TSenderCase{"10.0.0", "10.0.0.0", false},
        TSenderCase{"10.0.0.300, 127.0.0.1", "127.0.0.1", true},
        TSenderCase{"127.0.0.1", "not an address", false},
        // Groups are decimal, a leading zero too; the peer's text is taken
        // as it comes.
        TSenderCase{"010.0.0.7", "10.0.0.7", true}, TSenderCase{"010.0.0.7", "8.0.0.7", false},
        TSenderCase{"10.0.0.7", " 10.0.0.7", false},
        // IPv6 addresses and blocks, any spelling of the same address, a
        // prefix that cuts a byte.
        TSenderCase{"::1", "::1", true}, TSenderCase{"::1", "::2", false},
        TSenderCase{"fd00::/8", "fd12:3456::7", true}, TSenderCase{"fd00::/8", "fe80::1", false},
        TSenderCase{"2001:db8::1/128", "2001:db8::1", true},
        TSenderCase{"2001:db8::1/128", "2001:db8::2", false},
        TSenderCase{"2001:DB8:0:0::0001", "2001:db8::1", true},
        TSenderCase{"2001:db8::/33", "2001:db8:7fff::1", true},
        TSenderCase{"2001:db8::/33", "2001:db8:8000::1", false},
        // An IPv4 peer is the same peer mapped or dotted; the families stay
        // apart otherwise.
        TSenderCase{"10.0.0.0/8", "::ffff:10.1.2.3", true},
        TSenderCase{"10.0.0.0/8", "::ffff:11.1.2.3", false},
        TSenderCase{"::ffff:10.0.0.0/104", "10.1.2.3", true},
        TSenderCase{"fd00::/8, 192.168.1.0/24", "192.168.1.9", true},
        TSenderCase{"::/0", "10.0.0.7", false}, TSenderCase{"::/0", "2001:db8::1", true},
        TSenderCase{"0.0.0.0/0", "::1", false}));

TEST(SenderFilterMalformedTest, NamesEveryEntryThatIsNoAddressOrBlock) {
  const TSenderFilter filter(
      "10.0.0.1, 10.0.0, 1.2.3.4.5, 256.0.0.1, 10.0.0.0/33, 10.0.0.0/, /8, 1.2.3.4/-1, "
      "0001.2.3.4, host.example, 10.0.0.0/24, 10.0.0.0/8x, 1.2.3.08x, 1.2.3.4 5, 10.0.0.0/024, "
      "fd00::/8, fd00::/129, fd00::/0064, ::1/, fe80::1%eth0, 1:2:3:4:5:6:7:8:9, :::1, [::1], "
      "12345::1, ::1 /128");
  EXPECT_EQ(filter.Malformed(),
            (std::vector<std::string>{
                "10.0.0",    "1.2.3.4.5",    "256.0.0.1",         "10.0.0.0/33",  "10.0.0.0/",
                "/8",        "1.2.3.4/-1",   "0001.2.3.4",        "host.example", "10.0.0.0/8x",
                "1.2.3.08x", "1.2.3.4 5",    "10.0.0.0/024",      "fd00::/129",   "fd00::/0064",
                "::1/",      "fe80::1%eth0", "1:2:3:4:5:6:7:8:9", ":::1",         "[::1]",
                "12345::1",  "::1 /128"}));
}

class JobLimitsTest : public MonitorFixture {
 protected:
  void WriteJobs(const char* key, const std::string& value) {
    TIniFile(IniPath()).WriteText("Jobs", key, value);
  }
  std::size_t PortLinesHolding(const std::string& text) const {
    return static_cast<std::size_t>(
        std::count_if(window_.PortLines.begin(), window_.PortLines.end(),
                      [&](const std::string& line) { return line.find(text) != line.npos; }));
  }
};

TEST_F(JobLimitsTest, SenderOutsideTheListIsResetBeforeAnythingIsMade) {
  WriteCapturePort();
  WriteJobs("AllowedSenders", "10.0.0.0/8");
  StartMonitor();
  const int peer = ConnectLoopback(port_);
  ASSERT_GE(peer, 0);
  peers_.push_back(peer);
  ASSERT_TRUE(WaitUntil([&] { return window_.PortLines.size() == 2; }));
  EXPECT_TRUE(HasPrefixThen(window_.PortLines[1], "Refused 127.0.0.1 on port " + PortText()));
  char byte = 0;
  ssize_t received = -1;
  int failure = 0;
  ASSERT_TRUE(WaitUntil([&] {
    received = ::recv(peer, &byte, 1, MSG_DONTWAIT);
    failure = errno;
    return received >= 0 || failure != EAGAIN;
  }));
  EXPECT_EQ(received, -1);
  EXPECT_EQ(failure, ECONNRESET);
  EXPECT_EQ(monitor_->SessionCount(), 0);
  EXPECT_TRUE(window_.MessageLines.empty());
  EXPECT_TRUE(window_.Captions.empty());
  EXPECT_FALSE(std::filesystem::exists(CaptureFolder()));
}

TEST_F(JobLimitsTest, SenderInsideTheListIsCapturedAsWithoutOne) {
  WriteCapturePort();
  WriteJobs("AllowedSenders", "10.0.0.7, 127.0.0.0/8");
  StartMonitor();
  const int peer = Connect();
  SendStored(peer, "hello");
  Finish(peer);
  ExpectCloseReport(LinesFrom(1), 5, CapturePath());
  EXPECT_EQ(window_.PortLines.size(), 1u);
}

TEST_F(JobLimitsTest, AFloodOfRefusedPeersGivesFewLines) {
  WriteCapturePort();
  WriteJobs("AllowedSenders", "10.0.0.7");
  StartMonitor();
  constexpr int kPeers = 200;
  for (int i = 0; i < kPeers; ++i) {
    const int peer = ConnectLoopback(port_);
    ASSERT_GE(peer, 0);
    peers_.push_back(peer);
    ASSERT_TRUE(WaitUntil([&] { return PeerClosed(peer); }));
  }
  const std::size_t refused = PortLinesHolding("Refused 127.0.0.1 on port " + PortText());
  EXPECT_GE(refused, 1u);
  // One line a second: the flood takes far less than a second per ten peers.
  EXPECT_LT(refused, static_cast<std::size_t>(kPeers / 10));
  EXPECT_EQ(monitor_->SessionCount(), 0);
}

// ---------------------------------------------------------------------------
// How much

struct TCutCase {
  int64_t limit;
  std::size_t sent;  // in one send
};

class SizeLimitTest : public JobLimitsTest, public testing::WithParamInterface<TCutCase> {};

TEST_P(SizeLimitTest, KeepsExactlyTheLimitAndClosesTheConnection) {
  const TCutCase& c = GetParam();
  WriteCapturePort();
  WriteJobs("MaxJobBytes", std::to_string(c.limit));
  TIniFile(IniPath()).WriteFlag("Jobs", "JobIndex", true);
  StartMonitor();
  const int peer = Connect();
  const std::string bytes = Pattern(c.sent);
  // The peer may see the reset before it has sent everything.
  SendAll(peer, bytes);
  ASSERT_TRUE(WaitUntil([&] { return monitor_->SessionCount() == 0; }));
  const auto size = static_cast<std::size_t>(c.limit);
  EXPECT_EQ(ReadWholeFile(CapturePath()), bytes.substr(0, size));
  const auto lines = LinesFrom(1);
  ASSERT_EQ(lines.size(), 3u) << testing::PrintToString(lines);
  EXPECT_TRUE(
      HasPrefixThen(lines[0], CapturePath() + " cut at " + std::to_string(c.limit) + " bytes"))
      << lines[0];
  ExpectCloseReport({lines[1], lines[2]}, size, CapturePath());
  const std::string index = ReadWholeFile(CaptureFolder() + "/jobs.csv");
  EXPECT_NE(index.find("," + std::to_string(c.limit) + ",job.txt,cut"), std::string::npos) << index;
  EXPECT_TRUE(WaitUntil([&] { return PeerClosed(peer); }));
}

INSTANTIATE_TEST_SUITE_P(Table, SizeLimitTest,
                         testing::Values(TCutCase{10, 100},         // inside one receive
                                         TCutCase{1, 2},            // one byte beyond
                                         TCutCase{70000, 300000},   // past one receive
                                         TCutCase{65536, 65537}));  // at a receive's size

// Only a byte beyond the limit cuts a job: one of exactly the limit is whole.
class UncutJobTest : public JobLimitsTest, public testing::WithParamInterface<const char*> {};

TEST_P(UncutJobTest, EndsAsThePeerClosesIt) {
  WriteCapturePort();
  WriteJobs("MaxJobBytes", "5");
  TIniFile(IniPath()).WriteFlag("Jobs", "JobIndex", true);
  StartMonitor();
  const int peer = Connect();
  const std::string bytes = GetParam();
  SendStored(peer, bytes);
  Finish(peer);
  ExpectCloseReport(LinesFrom(1), bytes.size(), CapturePath());
  const std::string index = ReadWholeFile(CaptureFolder() + "/jobs.csv");
  EXPECT_NE(index.find(",job.txt,closed"), std::string::npos) << index;
}

INSTANTIATE_TEST_SUITE_P(BelowAndAt, UncutJobTest, testing::Values("hell", "hello"));

// ---------------------------------------------------------------------------
// How long

TEST_F(JobLimitsTest, SilentConnectionIsClosedLikeAPeerClose) {
  WriteCapturePort();
  WriteJobs("IdleSeconds", "1");
  StartMonitor();
  monitor_->SetIdleSecond(std::chrono::milliseconds(50));
  const int quiet = Connect();
  SendStored(quiet, "abc");
  ASSERT_TRUE(WaitUntil([&] { return monitor_->SessionCount() == 0; }));
  const auto lines = LinesFrom(1);
  ASSERT_EQ(lines.size(), 3u) << testing::PrintToString(lines);
  EXPECT_TRUE(
      HasPrefixThen(lines[0], "127.0.0.1 on port " + PortText() + " sent nothing for 1 second"))
      << lines[0];
  ExpectCloseReport({lines[1], lines[2]}, 3, CapturePath());
  EXPECT_TRUE(WaitUntil([&] { return PeerClosed(quiet); }));
  EXPECT_EQ(window_.Caption(), "Tarnock - Listening");
}

}  // namespace
