#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "capture/ini_file.h"
#include "capture/job_settings.h"
#include "support/file_contents.h"
#include "support/loopback.h"
#include "support/monitor_fixture.h"
#include "support/wait.h"

namespace {

const std::string kPrinterStatus("\x10\x04\x01", 3);

// Every byte a peer has been sent so far, and whether its side has ended.
struct TWire {
  std::string bytes;
  bool ended = false;
};

void Drain(int peer, TWire& wire) {
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::recv(peer, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got > 0) {
      wire.bytes.append(buffer, static_cast<std::size_t>(got));
      continue;
    }
    if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) wire.ended = true;
    return;
  }
}

class StatusReplyWireTest : public MonitorFixture {
 protected:
  void StartWith(const std::string& portSection) {
    WriteCapturePort();
    TIniFile settings(IniPath());
    settings.WriteFlag("Jobs", "JobIndex", true);
    if (!portSection.empty())
      settings.WriteText(PortSectionName(PortText()), "Replies", portSection);
    StartMonitor();
  }
  // What the peer got until count bytes are in or its side has ended.
  static TWire Await(int peer, std::size_t count) {
    TWire wire;
    EXPECT_TRUE(WaitUntil([&] {
      Drain(peer, wire);
      return wire.bytes.size() >= count || wire.ended;
    }));
    return wire;
  }
  static std::string WaitForBytes(int peer, std::size_t count) { return Await(peer, count).bytes; }
  // Everything the peer got until its connection ended.
  static std::string BytesUntilTheEnd(int peer) { return Await(peer, SIZE_MAX).bytes; }
};

// The plain program never writes to a peer: not an answer, not a byte,
// whatever the peer sends, until its connection is gone.
TEST_F(StatusReplyWireTest, WithoutRepliesNoByteReachesThePeer) {
  StartWith("");
  const int peer = Connect();
  SendStored(peer, kPrinterStatus + "~HS@PJL INFO STATUS\r\n" + std::string("\x1Dr\x01", 3));
  Finish(peer);
  EXPECT_EQ(BytesUntilTheEnd(peer), "");
  const std::string index = ReadWholeFile(CaptureFolder() + "/jobs.csv");
  EXPECT_NE(index.find(",closed,0,,,,,\r\n"), std::string::npos) << index;
}

// A query split across two reads is answered once its last byte is in, and
// again in a new state the operator sets while the client stays connected;
// the capture holds every byte the client sent.
TEST_F(StatusReplyWireTest, SplitQueryAnsweredInTheStateOfTheMoment) {
  StartWith("escpos");
  const int peer = Connect();
  SendStored(peer, kPrinterStatus.substr(0, 2));
  SendStored(peer, kPrinterStatus.substr(2));
  EXPECT_EQ(WaitForBytes(peer, 1), "\x12");
  TIniFile(IniPath()).WriteText(PortSectionName(PortText()), "PrinterState", "offline");
  SendStored(peer, kPrinterStatus);
  EXPECT_EQ(WaitForBytes(peer, 1), "\x1A");
  const std::size_t first = window_.MessageLines.size();
  Finish(peer);
  EXPECT_EQ(ReadWholeFile(CapturePath()), kPrinterStatus + kPrinterStatus);
  const auto lines = LinesFrom(first);
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(lines[0].ends_with(" - 2 status queries answered")) << lines[0];
  const std::string index = ReadWholeFile(CaptureFolder() + "/jobs.csv");
  EXPECT_NE(index.find(",closed,2,,,,,\r\n"), std::string::npos) << index;
}

// A client that half-closes after its queries and then waits gets every
// answer before the orderly end, none lost to a reset.
TEST_F(StatusReplyWireTest, HalfClosedPeerGetsItsAnswersBeforeTheEnd) {
  StartWith("escpos");
  const int peer = Connect();
  std::string queries;
  for (int i = 0; i < 1000; ++i) queries += kPrinterStatus;
  ASSERT_TRUE(SendAll(peer, queries));
  ::shutdown(peer, SHUT_WR);
  EXPECT_EQ(BytesUntilTheEnd(peer), std::string(1000, '\x12'));
  ASSERT_TRUE(WaitUntil([&] { return monitor_->SessionCount() == 0; }));
}

// A client that closes without reading the answers it asked for is told of
// them by a reset from its own side; its job still ends in order.
TEST_F(StatusReplyWireTest, PeerGoneBeforeItsAnswerStillDisconnectsInOrder) {
  StartWith("escpos");
  const int peer = Connect();
  const std::size_t first = window_.MessageLines.size();
  ASSERT_TRUE(SendAll(peer, kPrinterStatus));
  ::close(peer);
  peers_.erase(std::find(peers_.begin(), peers_.end(), peer));
  ASSERT_TRUE(WaitUntil([&] { return monitor_->SessionCount() == 0; }));
  const auto lines = LinesFrom(first);
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(lines.back().ends_with(" - 127.0.0.1 disconnected.")) << lines.back();
  EXPECT_EQ(window_.Errors, 0);
}

// A value the port's section spells wrongly says so and answers nothing.
TEST_F(StatusReplyWireTest, UnknownLanguageAnswersNothing) {
  StartWith("epson");
  const int peer = Connect();
  SendStored(peer, kPrinterStatus);
  Finish(peer);
  EXPECT_EQ(BytesUntilTheEnd(peer), "");
  EXPECT_NE(std::find_if(window_.MessageLines.begin(), window_.MessageLines.end(),
                         [&](const std::string& line) {
                           return line.ends_with("ERROR: Port " + PortText() +
                                                 ": Replies=epson is no reply language (none, "
                                                 "escpos, zpl, pjl); nothing is answered");
                         }),
            window_.MessageLines.end());
}

}  // namespace
