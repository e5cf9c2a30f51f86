#include "capture/monitor.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <set>

#include "capture/ini_file.h"
#include "capture/log_lines.h"
#include "jobs/job_feature_set.h"
#include "net/port_holder.h"
#include "net/socket_calls.h"
#include "net/socket_errors.h"
#include "support/fault_injection.h"
#include "support/file_contents.h"
#include "support/log_lines.h"
#include "support/loopback.h"
#include "support/monitor_fixture.h"
#include "support/wait.h"

namespace {

// Sends every byte while the event loop runs, so that a stream larger than
// the socket buffers reaches the monitor living on this same thread.
bool SendPumping(int fd, const std::string& bytes) {
  size_t done = 0;
  bool failed = false;
  const bool finished = WaitUntil(
      [&] {
        while (done < bytes.size() && !failed) {
          const ssize_t n =
              ::send(fd, bytes.data() + done, bytes.size() - done, MSG_DONTWAIT | MSG_NOSIGNAL);
          if (n > 0) {
            done += static_cast<size_t>(n);
          } else if (errno == EAGAIN || errno == EINTR) {
            return false;
          } else {
            failed = true;
          }
        }
        return true;
      },
      60000);
  return finished && !failed;
}

// A socket that holds the port on all addresses, so that a listener of the
// monitor cannot get it.
int OccupyPort(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 1) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// The monitor fixture whose settings file gets its Delete if Empty flag at
// the start, beside whatever [Ports] lines the test wrote.
class MonitorTest : public MonitorFixture {
 protected:
  TCaptureMonitor& Start(bool deleteIfEmpty = true) {
    TIniFile(IniPath()).WriteFlag("File", "DeleteIfEmpty", deleteIfEmpty);
    StartMonitor();
    return *monitor_;
  }
};

TEST_F(MonitorTest, NoPortsOpensNothingAndLeavesTheCaption) {
  Start();
  EXPECT_TRUE(window_.PortLines.empty());
  EXPECT_EQ(monitor_->ListenerCount(), 0);
  EXPECT_TRUE(window_.Captions.empty());
}

TEST_F(MonitorTest, StartReadsPlacementAndDeleteIfEmpty) {
  WriteWholeFile(IniPath(), "[Window]\nTop=0x20\nLeft=-5\n[File]\nDeleteIfEmpty=0\n");
  window_.HeightValue = 151;
  monitor_ = std::make_unique<TCaptureMonitor>(window_, IniPath(), MakeJobFeatures);
  window_.DeleteIfEmptyMark = true;
  monitor_->FormCreate();
  EXPECT_EQ(window_.TopValue, 32);
  EXPECT_EQ(window_.LeftValue, -5);
  EXPECT_EQ(window_.HeightValue, 151);
  EXPECT_FALSE(window_.DeleteIfEmptyMark);
}

TEST_F(MonitorTest, BusyPortIsReportedAndTheOthersListen) {
  const uint16_t busy = FreeLoopbackPort();
  const int occupier = OccupyPort(busy);
  ASSERT_GE(occupier, 0);
  const std::string value = "=" + Root() + "/cap,'job',F,0,";
  WritePorts({std::to_string(busy) + value, PortText() + value, "0" + PortText() + value});
  Start();
  ::close(occupier);
  // This process holds both busy ports, and each busy line is followed by
  // the line that names it.
  const std::string holder = " is " + PortHolderNote(PortText());
  ASSERT_EQ(window_.PortLines.size(), 5u);
  EXPECT_TRUE(
      HasPrefixThen(window_.PortLines[0], "ERROR: Port " + std::to_string(busy) + " is busy"))
      << window_.PortLines[0];
  EXPECT_EQ(window_.PortLines[1], "Port " + std::to_string(busy) + holder);
  EXPECT_EQ(window_.PortLines[2], "Listening on port " + PortText());
  // The same port written with a leading zero is a second listener on it.
  EXPECT_TRUE(HasPrefixThen(window_.PortLines[3], "ERROR: Port 0" + PortText() + " is busy"))
      << window_.PortLines[3];
  EXPECT_EQ(window_.PortLines[4], "Port 0" + PortText() + holder);
  EXPECT_NE(holder, " is ");
  EXPECT_EQ(monitor_->ListenerCount(), 3);
  Connect();
  EXPECT_TRUE(
      HasPrefixThen(window_.MessageLines[0], "Connected to: 127.0.0.1 on port " + PortText()));
}

TEST_F(MonitorTest, OneJobWritesThreeLinesAndTheCaptionFollows) {
  WriteCapturePort();
  Start();
  const int peer = Connect();
  EXPECT_EQ(window_.Caption(), "Tarnock - Connections: 1");
  ASSERT_TRUE(SendAll(peer, "hello"));
  Finish(peer);
  ASSERT_EQ(window_.MessageLines.size(), 3u);
  EXPECT_TRUE(
      HasPrefixThen(window_.MessageLines[0], "Connected to: 127.0.0.1 on port " + PortText()));
  EXPECT_TRUE(HasPrefixThen(window_.MessageLines[1], "5 bytes written to " + CapturePath()));
  EXPECT_TRUE(HasPrefixThen(window_.MessageLines[2], "127.0.0.1 disconnected."));
  EXPECT_EQ(window_.Captions,
            (std::vector<std::string>{"Tarnock - Connections: 1", "Tarnock - Listening"}));
  EXPECT_EQ(ReadWholeFile(CapturePath()), "hello");
  EXPECT_TRUE(PeerClosed(peer));
}

struct TEmptyJobCase {
  bool deleteIfEmpty;
  bool fileStays;
};

class EmptyJobTest : public MonitorTest, public testing::WithParamInterface<TEmptyJobCase> {};

TEST_P(EmptyJobTest, DeletesTheEmptyFileOnlyWhenAsked) {
  WriteCapturePort();
  Start(GetParam().deleteIfEmpty);
  Finish(Connect());
  std::vector<std::string> expected = {"0 bytes written to " + CapturePath()};
  if (!GetParam().fileStays) expected.push_back(CapturePath() + " deleted");
  expected.push_back("127.0.0.1 disconnected.");
  const auto lines = LinesFrom(1);
  ASSERT_EQ(lines.size(), expected.size());
  for (size_t i = 0; i < lines.size(); ++i)
    EXPECT_TRUE(HasPrefixThen(lines[i], expected[i])) << lines[i];
  EXPECT_EQ(std::filesystem::exists(CapturePath()), GetParam().fileStays);
}

INSTANTIATE_TEST_SUITE_P(Flag, EmptyJobTest,
                         testing::Values(TEmptyJobCase{true, false}, TEmptyJobCase{false, true}));

TEST_F(MonitorTest, TwoOpenOneClosesLeavesOneCounted) {
  WriteCapturePort();
  Start();
  const int first = Connect();
  Connect();
  EXPECT_EQ(window_.Caption(), "Tarnock - Connections: 2");
  Finish(first);
  EXPECT_EQ(window_.Caption(), "Tarnock - Connections: 1");
}

class MessageLogCutTest : public MonitorTest, public testing::WithParamInterface<int> {};

TEST_P(MessageLogCutTest, ASessionCloseCutsTheLogToFiveHundredLines) {
  WriteCapturePort();
  Start(false);
  for (int i = 0; i < GetParam(); ++i) window_.AppendMessageLine("old " + std::to_string(i));
  const int peer = Connect();
  ASSERT_TRUE(SendAll(peer, "x"));
  Finish(peer);
  const int total = GetParam() + 3;
  ASSERT_EQ(window_.MessageLineCount(), std::min(total, 500));
  if (total > 500) {
    EXPECT_EQ(window_.MessageLines.front(), "old " + std::to_string(total - 500));
  }
  EXPECT_TRUE(HasPrefixThen(window_.MessageLines.back(), "127.0.0.1 disconnected."));
}

INSTANTIATE_TEST_SUITE_P(Sizes, MessageLogCutTest, testing::Values(10, 497, 498, 500, 650));

struct TRefusedCase {
  const char* value;  // "@" is the temporary folder
  const char* error;
};

class RefusedConnectionTest : public MonitorTest,
                              public testing::WithParamInterface<TRefusedCase> {};

TEST_P(RefusedConnectionTest, IsReportedInThePortLogAndCutAtOnce) {
  std::string value = GetParam().value;
  if (auto at = value.find('@'); at != std::string::npos) value.replace(at, 1, Root());
  WritePortValue(value);
  Start();
  int peer = ConnectLoopback(port_);
  ASSERT_GE(peer, 0);
  peers_.push_back(peer);
  ASSERT_TRUE(WaitUntil([&] { return window_.PortLines.size() == 2; }));
  EXPECT_TRUE(HasPrefixThen(window_.PortLines[1], std::string("ERROR: ") + GetParam().error))
      << window_.PortLines[1];
  EXPECT_TRUE(WaitUntil([&] { return PeerClosed(peer); }));
  EXPECT_TRUE(window_.MessageLines.empty());
  EXPECT_TRUE(window_.Captions.empty());
  EXPECT_EQ(monitor_->SessionCount(), 0);
  EXPECT_FALSE(std::filesystem::exists(Root() + "/cap"));

  // The refused session does not count in the next caption.
  WriteCapturePort();
  Connect();
  EXPECT_EQ(window_.Caption(), "Tarnock - Connections: 1");
}

INSTANTIATE_TEST_SUITE_P(
    Definitions, RefusedConnectionTest,
    testing::Values(TRefusedCase{"@/cap,'job',F,x,", "'x' is not a valid integer value"},
                    TRefusedCase{"@/cap,'job',F,,", "'' is not a valid integer value"},
                    TRefusedCase{",'job',F,0,", "Unable to create directory"}));

struct TAdoptionFault {
  const char* name;
  TSocketCall call;
  int error;
  const char* function;
};

class FailedAdoptionTest : public MonitorTest,
                           public testing::WithParamInterface<TAdoptionFault> {};

// Accepted handles still open, and closes of an accepted handle that was
// already closed: a second close could hit a descriptor that another part
// of the process has just been given.
std::set<int> gAcceptedOpen;
std::set<int> gAcceptedEver;
int gRepeatedCloses = 0;

int AcceptRecorded(int fd, sockaddr* address, socklen_t* length) {
  const int accepted = RealSocketCalls().Accept(fd, address, length);
  if (accepted >= 0) gAcceptedOpen.insert(accepted), gAcceptedEver.insert(accepted);
  return accepted;
}

int CloseRecorded(int fd) {
  if (gAcceptedEver.count(fd) != 0 && gAcceptedOpen.erase(fd) == 0) ++gRepeatedCloses;
  return RealSocketCalls().Close(fd);
}

// Adopting the connection fails after the session has taken the handle:
// setting its linger option, or registering it for notifications.
TEST_P(FailedAdoptionTest, CutsTheConnectionAndDropsTheSession) {
  const TAdoptionFault& fault = GetParam();
  WriteCapturePort();
  Start();
  TSocketCallsOverride recorded;
  recorded.Calls().Accept = AcceptRecorded;
  recorded.Calls().Close = CloseRecorded;
  gRepeatedCloses = 0;
  std::optional<TSocketFault> injected(std::in_place, fault.call, TFault{1, 1, fault.error});
  const int peer = ConnectLoopback(port_);
  ASSERT_GE(peer, 0);
  peers_.push_back(peer);
  const bool reported = WaitUntil([&] { return window_.PortLines.size() == 2; });
  injected.reset();
  ASSERT_TRUE(reported);
  const std::string message =
      SocketErrorMessage(WSocketErrorFromErrno(fault.error), fault.function);
  EXPECT_TRUE(HasPrefixThen(window_.PortLines[1], "ERROR: " + message)) << window_.PortLines[1];
  EXPECT_TRUE(WaitUntil([&] { return PeerClosed(peer); }));
  EXPECT_EQ(monitor_->SessionCount(), 0);
  EXPECT_EQ(gRepeatedCloses, 0);
  EXPECT_TRUE(window_.Captions.empty());
  Connect();
  EXPECT_EQ(window_.Caption(), "Tarnock - Connections: 1");
}

INSTANTIATE_TEST_SUITE_P(Faults, FailedAdoptionTest,
                         testing::Values(TAdoptionFault{"Linger", TSocketCall::SetSockOpt, ENOBUFS,
                                                        "setsockopt(SO_LINGER)"},
                                         TAdoptionFault{"Registration", TSocketCall::EpollCtl,
                                                        ENOMEM, "WSAAsyncSelect"},
                                         // A peer gone before adoption: the report itself
                                         // closes the handle.
                                         TAdoptionFault{"PeerGone", TSocketCall::SetNonBlocking,
                                                        ENOTCONN, "WSAAsyncSelect"}),
                         [](const auto& info) { return std::string(info.param.name); });

struct TIPv6SideCase {
  const char* name;
  TSocketCall call;
  int error;
  const char* note;  // the port log's second line, "" for none
};

class IPv6SideTest : public MonitorTest, public testing::WithParamInterface<TIPv6SideCase> {};

// A port that cannot have its IPv6 side keeps its IPv4 side: a host without
// IPv6 says nothing more than it always did, any other refusal is one line.
TEST_P(IPv6SideTest, AMissingIPv6SideKeepsIPv4) {
  const TIPv6SideCase& c = GetParam();
  WriteCapturePort();
  {
    TSocketFault refused(c.call, TFault{1, 1, c.error});
    Start();
  }
  std::vector<std::string> expected{"Listening on port " + PortText()};
  if (*c.note != '\0')
    expected.push_back("Port " + PortText() + " listens on IPv4 only: " + c.note);
  EXPECT_EQ(window_.PortLines, expected);
  const int peer = Connect();
  ASSERT_TRUE(SendAll(peer, "hello"));
  Finish(peer);
  ExpectCloseReport(LinesFrom(1), 5, CapturePath());
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, IPv6SideTest,
    testing::Values(TIPv6SideCase{"NoIPv6", TSocketCall::Socket, EAFNOSUPPORT, ""},
                    TIPv6SideCase{"DualStackRefused", TSocketCall::SetSockOpt, ENOPROTOOPT,
                                  "Error 10042 in function setsockopt(IPV6_V6ONLY) (Protocol "
                                  "not available)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MonitorTest, RestartWithoutConnectionsRefillsThePortLogOnly) {
  WriteCapturePort();
  Start();
  window_.AppendMessageLine("kept");
  window_.PortLines.push_back("stale");
  monitor_->Restart();
  EXPECT_EQ(window_.PortLines, std::vector<std::string>{"Listening on port " + PortText()});
  EXPECT_EQ(window_.MessageLines, std::vector<std::string>{"kept"});
  EXPECT_TRUE(window_.Captions.empty());
  Connect();
}

TEST_F(MonitorTest, RestartReportsOpenSessionsAndKeepsTheirPendingBytes) {
  WriteCapturePort();
  Start();
  const int peer = Connect();
  ASSERT_TRUE(SendAll(peer, "abc"));
  ASSERT_TRUE(WaitUntil([&] { return ReadWholeFile(CapturePath()) == "abc"; }));
  // Loopback delivery is complete when send returns: these bytes wait in
  // the monitor's socket, not yet received, when the restart begins.
  const std::string late = Pattern(5000);
  ASSERT_TRUE(SendAll(peer, late));
  monitor_->Restart();
  const auto lines = LinesFrom(1);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(HasPrefixThen(lines[0], "5003 bytes written to " + CapturePath())) << lines[0];
  EXPECT_TRUE(HasPrefixThen(lines[1], "error disconnected."));
  EXPECT_EQ(window_.Caption(), "Tarnock - Listening");
  EXPECT_EQ(ReadWholeFile(CapturePath()), "abc" + late);
  EXPECT_EQ(monitor_->SessionCount(), 0);
  EXPECT_TRUE(WaitUntil([&] { return PeerClosed(peer); }));
  EXPECT_EQ(window_.PortLines, std::vector<std::string>{"Listening on port " + PortText()});
  Connect();
}

class ProgramEndTest : public MonitorTest, public testing::WithParamInterface<std::string> {};

TEST_P(ProgramEndTest, ClosesSilentlyAndKeepsTheFile) {
  WriteCapturePort();
  Start(true);
  const int peer = Connect();
  ASSERT_TRUE(SendAll(peer, GetParam()));
  const size_t linesBefore = window_.MessageLines.size();
  const auto captionsBefore = window_.Captions;
  monitor_->MarkDestroying();
  monitor_->FormDestroy();
  EXPECT_EQ(window_.MessageLines.size(), linesBefore);
  EXPECT_EQ(window_.Captions, captionsBefore);
  EXPECT_EQ(monitor_->SessionCount(), 0);
  EXPECT_TRUE(std::filesystem::exists(CapturePath()));
  EXPECT_EQ(ReadWholeFile(CapturePath()), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Pending, ProgramEndTest, testing::Values("", "late bytes"));

struct TExistingFileCase {
  const char* overwrite;
  const char* afterConnect;
  const char* afterJob;
};

class ExistingFileTest : public MonitorTest,
                         public testing::WithParamInterface<TExistingFileCase> {};

TEST_P(ExistingFileTest, AppendsOrOverwrites) {
  WriteCapturePort(GetParam().overwrite);
  std::filesystem::create_directory(Root() + "/cap");
  WriteWholeFile(CapturePath(), "abc");
  Start();
  const int peer = Connect();
  EXPECT_EQ(ReadWholeFile(CapturePath()), GetParam().afterConnect);
  ASSERT_TRUE(SendAll(peer, "de"));
  Finish(peer);
  EXPECT_EQ(ReadWholeFile(CapturePath()), GetParam().afterJob);
}

INSTANTIATE_TEST_SUITE_P(Marks, ExistingFileTest,
                         testing::Values(TExistingFileCase{"F", "abc", "abcde"},
                                         TExistingFileCase{"T", "", "de"}));

class DirectoryTest : public MonitorTest, public testing::WithParamInterface<const char*> {};

TEST_P(DirectoryTest, NamesOneFileWithOneSeparator) {
  WritePortValue(Root() + GetParam() + ",  'job'  ,F,0,");
  Start();
  const int peer = Connect();
  ASSERT_TRUE(SendAll(peer, "x"));
  Finish(peer);
  EXPECT_TRUE(HasPrefixThen(window_.MessageLines[1], "1 bytes written to " + CapturePath()))
      << window_.MessageLines[1];
  EXPECT_EQ(ReadWholeFile(CapturePath()), "x");
}

INSTANTIATE_TEST_SUITE_P(Forms, DirectoryTest, testing::Values("/cap", "/cap/"));

TEST_F(MonitorTest, NestedMissingDirectoriesAreCreated) {
  WritePortValue(Root() + "/cap/2026/12,'job',F,0,");
  Start();
  Finish(Connect());
  EXPECT_TRUE(std::filesystem::is_directory(Root() + "/cap/2026/12"));
}

struct TContentCase {
  const char* name;
  std::string bytes;
};

class ContentTest : public MonitorTest, public testing::WithParamInterface<TContentCase> {};

TEST_P(ContentTest, EveryByteIsStoredInOrder) {
  WriteCapturePort();
  Start(false);
  const int peer = Connect();
  ASSERT_TRUE(SendPumping(peer, GetParam().bytes));
  Finish(peer);
  EXPECT_TRUE(HasPrefixThen(window_.MessageLines[1], std::to_string(GetParam().bytes.size()) +
                                                         " bytes written to " + CapturePath()));
  EXPECT_TRUE(ReadWholeFile(CapturePath()) == GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(Streams, ContentTest,
                         testing::Values(TContentCase{"ZeroByteInside", std::string("AB\0CD", 5)},
                                         TContentCase{"LeadingZeroByte", std::string("\0\0x", 3)},
                                         TContentCase{"OneBuffer", std::string(1024, 'q')},
                                         TContentCase{"ThreeThousand", Pattern(3000)},
                                         TContentCase{"FourMegabytes", Pattern(4 << 20)}),
                         [](const auto& info) { return info.param.name; });

TEST_F(MonitorTest, SizesBeyondThirtyTwoBitsAreReported) {
  WriteCapturePort();
  Start(true);
  const int peer = Connect();
  // Another program grows the file to exactly 4 GiB (sparse) meanwhile.
  std::filesystem::resize_file(CapturePath(), int64_t{1} << 32);
  Finish(peer);
  EXPECT_TRUE(
      HasPrefixThen(window_.MessageLines[1], "4294967296 bytes written to " + CapturePath()));
  EXPECT_TRUE(std::filesystem::exists(CapturePath()));
  std::filesystem::remove(CapturePath());
}

TEST_F(MonitorTest, SettingsAreReadAfreshAtEveryConnection) {
  WriteCapturePort();
  Start();
  Finish(Connect());
  WritePortValue(Root() + "/other,'next',T,0,");
  const int peer = Connect();
  ASSERT_TRUE(SendAll(peer, "z"));
  Finish(peer);
  EXPECT_EQ(ReadWholeFile(Root() + "/other/next.txt"), "z");
}

TEST_F(MonitorTest, ChunkToAVanishedFileIsLostAndTheNextOneTriesAgain) {
  WriteCapturePort();
  Start();
  const int peer = Connect();
  std::filesystem::remove(CapturePath());
  ASSERT_TRUE(SendAll(peer, "lost"));
  ASSERT_TRUE(WaitUntil([&] { return window_.MessageLines.size() == 2; }));
  EXPECT_EQ(window_.MessageLines[1], "ERROR: File not found");
  EXPECT_EQ(monitor_->SessionCount(), 1);
  WriteWholeFile(CapturePath(), "");
  ASSERT_TRUE(SendAll(peer, "kept"));
  ASSERT_TRUE(WaitUntil([&] { return ReadWholeFile(CapturePath()) == "kept"; }));
  Finish(peer);
}

}  // namespace

namespace {

// Two jobs whose names render alike (as two jobs within one minute of
// yyyymmdd-hhnn do), the second arriving while the first still sends, over
// a file an earlier minute left. Overwrite never empties the open job's file,
// and one file per job gives each job its own.
struct TSharedNameCase {
  const char* name;
  const char* overwrite;
  bool oneFilePerJob;
  std::vector<std::pair<std::string, std::string>> files;  // name, content
};

class SharedNameTest : public MonitorTest, public testing::WithParamInterface<TSharedNameCase> {};

TEST_P(SharedNameTest, NoByteOfAnOpenJobIsLost) {
  const TSharedNameCase& c = GetParam();
  WriteCapturePort(c.overwrite);
  if (c.oneFilePerJob) TIniFile(IniPath()).WriteFlag("Jobs", "OneFilePerJob", true);
  std::filesystem::create_directory(CaptureFolder());
  WriteWholeFile(CapturePath(), "old;");
  Start(false);
  const int first = Connect();
  ASSERT_TRUE(SendAll(first, "first-a;"));
  ASSERT_TRUE(
      WaitUntil([&] { return window_.MessageLines.size() == 1 && monitor_->SessionCount() == 1; }));
  const auto stored = [&] {
    std::size_t bytes = 0;
    for (const auto& entry : std::filesystem::directory_iterator(CaptureFolder()))
      bytes += ReadWholeFile(entry.path().string()).size();
    return bytes;
  };
  const std::size_t before = c.overwrite[0] == 'T' && !c.oneFilePerJob ? 8 : 12;
  ASSERT_TRUE(WaitUntil([&] { return stored() == before; }));
  const int second = Connect();
  ASSERT_TRUE(SendAll(second, "second;"));
  ASSERT_TRUE(WaitUntil([&] { return stored() == before + 7; }));
  ASSERT_TRUE(SendAll(first, "first-b;"));
  ASSERT_TRUE(WaitUntil([&] { return stored() == before + 15; }));
  Finish(first);
  Finish(second);
  std::vector<std::pair<std::string, std::string>> found;
  for (const auto& entry : std::filesystem::directory_iterator(CaptureFolder()))
    found.emplace_back(entry.path().filename().string(), ReadWholeFile(entry.path().string()));
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, c.files);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, SharedNameTest,
    testing::Values(
        TSharedNameCase{"Append", "F", false, {{"job.txt", "old;first-a;second;first-b;"}}},
        TSharedNameCase{"Overwrite", "T", false, {{"job.txt", "first-a;second;first-b;"}}},
        TSharedNameCase{
            "AppendOneFilePerJob",
            "F",
            true,
            {{"job-2.txt", "first-a;first-b;"}, {"job-3.txt", "second;"}, {"job.txt", "old;"}}},
        TSharedNameCase{
            "OverwriteOneFilePerJob",
            "T",
            true,
            {{"job-2.txt", "first-a;first-b;"}, {"job-3.txt", "second;"}, {"job.txt", "old;"}}}),
    [](const auto& info) { return std::string(info.param.name); });

// The same file reached through another spelling of its folder: a job that
// overwrites appends to it while the other job is open, and an empty close
// does not delete it under the other job.
class OtherSpellingTest : public MonitorTest, public testing::WithParamInterface<const char*> {
 protected:
  std::string Spelling() const {
    if (std::string(GetParam()) == "link") return Root() + "/link";
    return CaptureFolder() + GetParam();
  }
};

TEST_P(OtherSpellingTest, CountsAsTheSameFile) {
  WriteCapturePort();
  std::filesystem::create_directory(CaptureFolder());
  std::filesystem::create_directory_symlink(CaptureFolder(), Root() + "/link");
  Start(true);
  const int first = Connect();
  SendStored(first, "abc");
  WritePortValue(Spelling() + ",'job',T,0,");
  const int second = Connect();
  EXPECT_EQ(ReadWholeFile(CapturePath()), "abc");
  const int third = Connect();
  SendStored(second, "de");
  Finish(second);
  Finish(third);
  const auto lines = LinesFrom(3);
  ASSERT_EQ(lines.size(), 4u) << testing::PrintToString(lines);
  EXPECT_TRUE(HasPrefixThen(lines[2], "5 bytes written to " + Spelling() + "/job.txt")) << lines[2];
  EXPECT_EQ(ReadWholeFile(CapturePath()), "abcde");
  Finish(first);
  EXPECT_EQ(ReadWholeFile(CapturePath()), "abcde");
}

INSTANTIATE_TEST_SUITE_P(Spellings, OtherSpellingTest, testing::Values("/.", "/../cap", "link"));

TEST_F(MonitorTest, AnEmptyCloseKeepsAFileOpenUnderAnotherSpelling) {
  WriteCapturePort();
  Start(true);
  const int first = Connect();
  WritePortValue(CaptureFolder() + "/.,'job',F,0,");
  Finish(Connect());
  EXPECT_TRUE(std::filesystem::exists(CapturePath()));
  const auto lines = LinesFrom(2);
  ASSERT_EQ(lines.size(), 2u) << testing::PrintToString(lines);
  EXPECT_TRUE(HasPrefixThen(lines[0], "0 bytes written to " + CaptureFolder() + "/./job.txt"));
  Finish(first);
  EXPECT_FALSE(std::filesystem::exists(CapturePath()));
}

struct TNamedFileCase {
  const char* line;
  const char* file;  // "" when the line names none
};

class CaptureFileNamedInTest : public testing::TestWithParam<TNamedFileCase> {};

TEST_P(CaptureFileNamedInTest, FindsTheFileOfASizeLine) {
  EXPECT_EQ(CaptureFileNamedIn(GetParam().line).value_or(""), GetParam().file);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, CaptureFileNamedInTest,
    testing::Values(
        TNamedFileCase{"08/12/26 14:30 - 5 bytes written to /tmp/c/a.txt", "/tmp/c/a.txt"},
        TNamedFileCase{"08/12/26 14:30 - 0 bytes written to /x bytes written to y.txt",
                       "/x bytes written to y.txt"},
        TNamedFileCase{"08/12/26 14:30 - 4294967296 bytes written to /a b.txt", "/a b.txt"},
        TNamedFileCase{"08/12/26 14:30 - Connected to: 127.0.0.1 on port 9100", ""},
        TNamedFileCase{"08/12/26 14:30 - 5 bytes written to ", ""},
        TNamedFileCase{"08/12/26 14:30 - x bytes written to /a.txt", ""},
        TNamedFileCase{"08/12/26 14:30 - /a.txt deleted", ""},
        TNamedFileCase{"08/12/26 14:30 - queue lp, user bob - 5 bytes written to /c/a.txt",
                       "/c/a.txt"},
        // A sender's job name can never make a line name a file of its own.
        TNamedFileCase{"08/12/26 14:30 - queue lp, job \"x - 9 bytes written to /etc/passwd\" - 5 "
                       "bytes written to /c/a.txt",
                       "/c/a.txt"}));

}  // namespace
