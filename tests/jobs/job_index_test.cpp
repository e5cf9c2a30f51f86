#include "jobs/job_index.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <set>

#include "capture/ini_file.h"
#include "support/fault_injection.h"
#include "support/file_contents.h"
#include "support/ipv6_loopback.h"
#include "support/log_lines.h"
#include "support/loopback.h"
#include "support/monitor_fixture.h"
#include "support/temp_folder.h"
#include "support/wait.h"

namespace {

// RFC 4180 fields of one CR LF line; quotes are undone.
std::vector<std::string> CsvFields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
      fields.back() += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

// Start to queries answered, then the five labels of an LPD job.
constexpr std::size_t kIndexColumns = 14;

// The index's lines without their CR LF; a last line without one shows as
// "<unfinished>" so that a torn write fails the comparison.
std::vector<std::string> IndexLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back("<unfinished>" + text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

const std::regex kIsoTime(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)");

uint16_t LocalPortOf(int fd) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  return address.ss_family == AF_INET6
             ? ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port)
             : ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

class JobIndexTest : public MonitorFixture {
 protected:
  std::string IndexPath() const { return CaptureFolder() + "/jobs.csv"; }

  void StartWithIndex(bool index, bool deleteIfEmpty = false) {
    WriteCapturePort();
    TIniFile settings(IniPath());
    settings.WriteFlag("File", "DeleteIfEmpty", deleteIfEmpty);
    if (index) settings.WriteFlag("Jobs", "JobIndex", true);
    StartMonitor();
  }

  // Every index line after the header, split into its fields.
  std::vector<std::vector<std::string>> IndexRows() const {
    const auto lines = IndexLines(ReadWholeFile(IndexPath()));
    EXPECT_FALSE(lines.empty());
    if (lines.empty()) return {};
    EXPECT_EQ(lines[0] + "\r\n", kJobIndexHeader);
    std::vector<std::vector<std::string>> rows;
    for (std::size_t i = 1; i < lines.size(); ++i) rows.push_back(CsvFields(lines[i]));
    return rows;
  }
};

struct TOutcomeCase {
  const char* name;
  const char* sent;
  bool removeFileFirst;
  bool reset;
  bool deleteIfEmpty;
  const char* bytes;
  const char* outcome;
};

class JobOutcomeTest : public JobIndexTest, public testing::WithParamInterface<TOutcomeCase> {};

TEST_P(JobOutcomeTest, OneLinePerJobWrittenOnceTheCaptureIsFinal) {
  const TOutcomeCase& c = GetParam();
  StartWithIndex(true, c.deleteIfEmpty);
  const int peer = Connect();
  const uint16_t peerPort = LocalPortOf(peer);
  if (c.removeFileFirst) std::filesystem::remove(CapturePath());
  if (*c.sent != '\0') {
    const std::size_t lines = window_.MessageLines.size();
    ASSERT_TRUE(SendAll(peer, c.sent));
    ASSERT_TRUE(WaitUntil([&] {
      return window_.MessageLines.size() > lines ||
             ReadWholeFile(CapturePath()).size() == std::string(c.sent).size();
    }));
  }
  if (c.reset) {
    ResetConnection(peer);
    peers_.erase(std::find(peers_.begin(), peers_.end(), peer));
    ASSERT_TRUE(WaitUntil([&] { return monitor_->SessionCount() == 0; }));
  } else {
    Finish(peer);
  }
  const auto rows = IndexRows();
  ASSERT_EQ(rows.size(), 1u);
  const auto& row = rows[0];
  ASSERT_EQ(row.size(), kIndexColumns) << testing::PrintToString(row);
  EXPECT_TRUE(std::regex_match(row[0], kIsoTime)) << row[0];
  EXPECT_TRUE(std::regex_match(row[1], kIsoTime)) << row[1];
  EXPECT_LE(row[0], row[1]);
  EXPECT_EQ(row[2], PortText());
  EXPECT_EQ(row[3], "127.0.0.1");
  EXPECT_EQ(row[4], std::to_string(peerPort));
  EXPECT_EQ(row[5], c.bytes);
  EXPECT_EQ(row[6], "job.txt");
  EXPECT_EQ(row[7], c.outcome);
  EXPECT_EQ(row[8], "0");  // queries answered: the port answers nothing
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, JobOutcomeTest,
    testing::Values(TOutcomeCase{"Closed", "hello", false, false, false, "5", "closed"},
                    TOutcomeCase{"Reset", "hello", false, true, false, "5", "reset"},
                    TOutcomeCase{"EmptyKept", "", false, false, false, "0", "closed"},
                    TOutcomeCase{"DeletedEmpty", "", false, false, true, "0", "deleted empty"},
                    TOutcomeCase{"LostChunk", "lost", true, false, false, "",
                                 "error: File not found"}),
    [](const auto& info) { return std::string(info.param.name); });

struct TFamilyCase {
  const char* name;
  bool ipv6;
  const char* senders;  // AllowedSenders
  bool admitted;
};

class PeerFamilyTest : public JobIndexTest, public testing::WithParamInterface<TFamilyCase> {};

// A peer of either family reaches the port on any address and is named as
// its family writes it, in the message log, the index and the after-job
// command's environment alike; the allow-list sorts both families.
TEST_P(PeerFamilyTest, NamesThePeerAsItsFamilyWritesIt) {
  const TFamilyCase& c = GetParam();
  if (c.ipv6 && !HasIPv6Loopback()) GTEST_SKIP() << "This machine has no ::1";
  WriteCapturePort();
  TIniFile settings(IniPath());
  settings.WriteFlag("Jobs", "JobIndex", true);
  settings.WriteText("Jobs", "AllowedSenders", c.senders);
  settings.WriteText(
      "Jobs", "AfterJob",
      "printf '%s' \"$TARNOCK_PEER\" > " + Root() + "/peer; touch " + Root() + "/done");
  StartMonitor();
  const std::string name = c.ipv6 ? "::1" : "127.0.0.1";
  const int peer = c.ipv6 ? ConnectIPv6Loopback(port_) : ConnectLoopback(port_);
  ASSERT_GE(peer, 0);
  peers_.push_back(peer);
  if (!c.admitted) {
    ASSERT_TRUE(WaitUntil([&] { return window_.PortLines.size() == 2; }));
    EXPECT_TRUE(HasPrefixThen(window_.PortLines[1], "Refused " + name + " on port " + PortText()))
        << window_.PortLines[1];
    EXPECT_TRUE(WaitUntil([&] { return PeerClosed(peer); }));
    EXPECT_FALSE(std::filesystem::exists(CaptureFolder()));
    return;
  }
  ASSERT_TRUE(SendAll(peer, "hello"));
  ::shutdown(peer, SHUT_WR);
  ASSERT_TRUE(WaitUntil([&] { return window_.MessageLines.size() == 3; }));
  EXPECT_EQ(window_.PortLines, std::vector<std::string>{"Listening on port " + PortText()});
  EXPECT_TRUE(
      HasPrefixThen(window_.MessageLines[0], "Connected to: " + name + " on port " + PortText()))
      << window_.MessageLines[0];
  EXPECT_TRUE(HasPrefixThen(window_.MessageLines[1], "5 bytes written to " + CapturePath()));
  EXPECT_TRUE(HasPrefixThen(window_.MessageLines[2], name + " disconnected."))
      << window_.MessageLines[2];
  const auto rows = IndexRows();
  ASSERT_EQ(rows.size(), 1u);
  ASSERT_EQ(rows[0].size(), kIndexColumns) << testing::PrintToString(rows[0]);
  EXPECT_EQ(rows[0][3], name);
  EXPECT_EQ(rows[0][4], std::to_string(LocalPortOf(peer)));
  ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(Root() + "/done"); }, 20000));
  EXPECT_EQ(ReadWholeFile(Root() + "/peer"), name);
}

INSTANTIATE_TEST_SUITE_P(
    Families, PeerFamilyTest,
    testing::Values(TFamilyCase{"IPv4", false, "", true}, TFamilyCase{"IPv6", true, "", true},
                    TFamilyCase{"IPv6Listed", true, "fd00::/8, ::1", true},
                    TFamilyCase{"IPv4ListedArrivesMapped", false, "::1, 127.0.0.0/8", true},
                    TFamilyCase{"IPv6NotListed", true, "127.0.0.0/8, ::2", false},
                    TFamilyCase{"IPv4NotListed", false, "::1, ::ffff:10.0.0.0/104", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(JobIndexTest, ConcurrentJobsLeaveOneWholeLineEach) {
  StartWithIndex(true);
  constexpr int kJobs = 40;
  std::vector<int> peers;
  for (int i = 0; i < kJobs; ++i) peers.push_back(Connect());
  for (int i = 0; i < kJobs; ++i) ASSERT_TRUE(SendAll(peers[i], std::string(i + 1, 'x')));
  for (int peer : peers) ::shutdown(peer, SHUT_WR);
  ASSERT_TRUE(WaitUntil([&] { return monitor_->SessionCount() == 0; }));
  const auto rows = IndexRows();
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(kJobs));
  std::set<std::string> peerPorts;
  for (const auto& row : rows) {
    ASSERT_EQ(row.size(), kIndexColumns) << testing::PrintToString(row);
    EXPECT_EQ(row[7], "closed");
    peerPorts.insert(row[4]);
  }
  EXPECT_EQ(peerPorts.size(), static_cast<std::size_t>(kJobs));
}

TEST_F(JobIndexTest, OffWritesNoIndex) {
  StartWithIndex(false);
  const int peer = Connect();
  ASSERT_TRUE(SendAll(peer, "hello"));
  Finish(peer);
  EXPECT_EQ(ReadWholeFile(CapturePath()), "hello");
  EXPECT_FALSE(std::filesystem::exists(IndexPath()));
}

// What stands in the index's place: each is refused, named in one line,
// and never written into; the capture is untouched.
enum class TInTheWay { Link, Fifo, FifoWithAReader, Folder };

struct TInTheWayCase {
  const char* name;
  TInTheWay planted;
  const char* failure;
};

class JobIndexInTheWayTest : public JobIndexTest,
                             public testing::WithParamInterface<TInTheWayCase> {
 protected:
  // Answers a descriptor that reads what a FIFO got, or -1.
  int Plant(TInTheWay planted) {
    const std::string index = IndexPath();
    if (planted == TInTheWay::Link)
      std::filesystem::create_symlink(Root() + "/elsewhere.csv", index);
    if (planted == TInTheWay::Folder) std::filesystem::create_directory(index);
    if (planted != TInTheWay::Fifo && planted != TInTheWay::FifoWithAReader) return -1;
    EXPECT_EQ(::mkfifo(index.c_str(), 0600), 0);
    if (planted == TInTheWay::Fifo) return -1;
    return ::open(index.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  }
};

TEST_P(JobIndexInTheWayTest, IsOneErrorLineAndLeavesTheCapture) {
  StartWithIndex(true);
  std::filesystem::create_directories(CaptureFolder());
  const int reader = Plant(GetParam().planted);
  const int peer = Connect();
  ASSERT_TRUE(SendAll(peer, "hello"));
  Finish(peer);
  const auto lines = LinesFrom(1);
  ASSERT_EQ(lines.size(), 3u) << testing::PrintToString(lines);
  EXPECT_TRUE(HasPrefixThen(lines[0], "5 bytes written to " + CapturePath())) << lines[0];
  EXPECT_TRUE(
      HasPrefixThen(lines[1], "ERROR: Job index " + IndexPath() + ": " + GetParam().failure))
      << lines[1];
  EXPECT_TRUE(HasPrefixThen(lines[2], "127.0.0.1 disconnected.")) << lines[2];
  EXPECT_EQ(ReadWholeFile(CapturePath()), "hello");
  EXPECT_FALSE(std::filesystem::exists(Root() + "/elsewhere.csv"));
  if (reader < 0) return;
  char byte;
  EXPECT_LE(::read(reader, &byte, 1), 0);
  ::close(reader);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, JobIndexInTheWayTest,
    testing::Values(TInTheWayCase{"Link", TInTheWay::Link, "File access denied"},
                    TInTheWayCase{"Fifo", TInTheWay::Fifo, "Not a regular file"},
                    TInTheWayCase{"FifoWithAReader", TInTheWay::FifoWithAReader,
                                  "Not a regular file"},
                    TInTheWayCase{"Folder", TInTheWay::Folder, "Not a regular file"}),
    [](const auto& info) { return std::string(info.param.name); });

// Two writers find no index; the second acts at the worst moment, while the
// first is writing the header (a TFileCallHook on the first write). The
// index still starts with its header, and holds both lines.
TEST(JobIndexCreationTest, ASecondWriterNeverGetsInBeforeTheHeader) {
  TTempFolder folder;
  struct TWriters {
    TJob first, second;
  } writers;
  for (TJob* record : {&writers.first, &writers.second}) {
    record->Port = record == &writers.first ? "1" : "2";
    record->Folder = folder.Path() + "/";
    record->FileName = record->Folder + "job.txt";
  }
  {
    TFileCallHook racing(
        TFileCall::Write,
        [](void* context) { AppendToJobIndex(static_cast<TWriters*>(context)->second); }, &writers);
    AppendToJobIndex(writers.first);
    ASSERT_TRUE(racing.Ran());
  }
  const auto lines = IndexLines(ReadWholeFile(folder.Path() + "/jobs.csv"));
  ASSERT_EQ(lines.size(), 3u) << testing::PrintToString(lines);
  EXPECT_EQ(lines[0] + "\r\n", kJobIndexHeader);
  EXPECT_EQ(lines[1] + "\r\n", JobIndexLine(writers.second));
  EXPECT_EQ(lines[2] + "\r\n", JobIndexLine(writers.first));
  // Nothing is left beside the index.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), {}), 1);
}

// A file system without hard links refuses the link (EPERM): the index is
// made by an exclusive create instead, and no temporary file is left.
TEST(JobIndexCreationTest, WithoutHardLinksTheIndexIsStillMade) {
  TTempFolder folder;
  TJob record;
  record.Folder = folder.Path() + "/";
  {
    TFileFault noLinks(TFileCall::Link, TFault{1, 0, EPERM});
    AppendToJobIndex(record);
    AppendToJobIndex(record);
    EXPECT_EQ(noLinks.Calls(), 1);
  }
  EXPECT_EQ(ReadWholeFile(folder.Path() + "/jobs.csv"),
            kJobIndexHeader + JobIndexLine(record) + JobIndexLine(record));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), {}), 1);
}

struct TQuotingCase {
  const char* file;
  const char* field;
};

class JobIndexQuotingTest : public testing::TestWithParam<TQuotingCase> {};

TEST_P(JobIndexQuotingTest, QuotesAsRfc4180) {
  TJob record;
  record.Port = "9100";
  record.PeerAddress = "192.0.2.5";
  record.PeerPort = 40000;
  record.FileSize = 12;
  record.QueriesAnswered = 3;
  record.Folder = "/srv/cap/";
  record.FileName = std::string("/srv/cap/") + GetParam().file;
  const std::string line = JobIndexLine(record);
  const std::string tail =
      std::string(",9100,192.0.2.5,40000,12,") + GetParam().field + ",closed,3,,,,,\r\n";
  ASSERT_GE(line.size(), tail.size());
  EXPECT_EQ(line.substr(line.size() - tail.size()), tail);
}

INSTANTIATE_TEST_SUITE_P(Names, JobIndexQuotingTest,
                         testing::Values(TQuotingCase{"plain.txt", "plain.txt"},
                                         TQuotingCase{"a,b.txt", "\"a,b.txt\""},
                                         TQuotingCase{"say \"hi\".txt", "\"say \"\"hi\"\".txt\""},
                                         TQuotingCase{"two\nlines.txt", "\"two\nlines.txt\""},
                                         TQuotingCase{"sub/job.txt", "sub/job.txt"}));

}  // namespace
