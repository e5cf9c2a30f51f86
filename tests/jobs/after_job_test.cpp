#include "jobs/after_job.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "capture/ini_file.h"
#include "support/file_contents.h"
#include "support/monitor_fixture.h"
#include "support/temp_folder.h"
#include "support/wait.h"

namespace {

constexpr int kCommandWaitMs = 20000;

std::string Replaced(std::string text, const std::string& mark, const std::string& by) {
  for (std::size_t at = text.find(mark); at != std::string::npos;
       at = text.find(mark, at + by.size()))
    text.replace(at, mark.size(), by);
  return text;
}

class AfterJobTest : public TempFolderTest {
 protected:
  std::string Folder() const { return root_ + "/cap/"; }

  TJob Job(const std::string& name, int peerPort = 50000) const {
    TJob record;
    record.Start = std::chrono::system_clock::time_point(std::chrono::milliseconds(1796725805123));
    record.End = record.Start + std::chrono::seconds(2);
    record.Port = "9100";
    record.PeerAddress = "10.0.0.5";
    record.PeerPort = static_cast<uint16_t>(peerPort);
    record.FileSize = 1234;
    record.Folder = Folder();
    record.FileName = Folder() + name;
    return record;
  }

  // Writes the command's marks into the root, with %R standing for it.
  std::string Command(const std::string& text) const { return Replaced(text, "%R", root_); }

  bool AllDone() {
    return WaitUntil([&] { return runner_.Running() == 0 && runner_.Waiting() == 0; },
                     kCommandWaitMs);
  }

  void SetUp() override { std::filesystem::create_directory(Folder()); }

  std::vector<std::string> reports_;
  TAfterJobRunner runner_{[this](const std::string& text) { reports_.push_back(text); }};
};

struct TRunCase {
  const char* name;
  const char* fileName;
  TJob::TOutcome outcome;
  bool folderMissing;
  const char* command;  // %R: the test's folder
  int seconds;
  const char* seen;    // what the command wrote to %R/seen; %F the job's file, %C its folder
  const char* report;  // the failure line; %F the job's file
};

class AfterJobRunTest : public AfterJobTest, public testing::WithParamInterface<TRunCase> {};

TEST_P(AfterJobRunTest, FactsOnlyInTheEnvironmentAndEachFailureReported) {
  const TRunCase& c = GetParam();
  TJob job = Job(c.fileName);
  job.Outcome = c.outcome;
  if (c.folderMissing) job.Folder = job.FileName = root_ + "/gone/";
  runner_.Run(job, Command(c.command), 4, c.seconds);
  ASSERT_TRUE(AllDone());
  const std::string folder = Folder().substr(0, Folder().size() - 1);
  std::string seen = Replaced(Replaced(c.seen, "%F", job.FileName), "%C", folder);
  seen = Replaced(Replaced(seen, "%S", FormatLocalIsoTime(job.Start)), "%E",
                  FormatLocalIsoTime(job.End));
  EXPECT_EQ(ReadWholeFile(root_ + "/seen"), seen);
  const std::vector<std::string> expected =
      *c.report ? std::vector<std::string>{Replaced(c.report, "%F", job.FileName)}
                : std::vector<std::string>{};
  EXPECT_EQ(reports_, expected);
  // Nothing in a name ever runs.
  EXPECT_FALSE(std::filesystem::exists(Folder() + "x"));
  EXPECT_FALSE(std::filesystem::exists(Folder() + "y"));
}

constexpr const char* kEveryFact =
    "printf '%s|' \"$TARNOCK_FILE\" \"$TARNOCK_PORT\" \"$TARNOCK_PEER\" \"$TARNOCK_PEER_PORT\" "
    "\"$TARNOCK_BYTES\" \"$TARNOCK_STARTED\" \"$TARNOCK_ENDED\" \"$TARNOCK_OUTCOME\" \"$PWD\" "
    "\"$(readlink /proc/$$/fd/0)\" > %R/seen; ls /proc/$$/fd | tr '\\n' ' ' >> %R/seen";

INSTANTIATE_TEST_SUITE_P(
    Rows, AfterJobRunTest,
    testing::Values(TRunCase{"EveryVariable", "job.txt", TJob::TOutcome::Closed, false, kEveryFact,
                             60, "%F|9100|10.0.0.5|50000|1234|%S|%E|closed|%C|/dev/null|0 1 2 ",
                             ""},
                    TRunCase{"ShellSyntaxInTheName", "a $(touch x) `touch y` 'q' \"d\"\n;z&.txt",
                             TJob::TOutcome::Closed, false,
                             "printf '%s' \"$TARNOCK_FILE\" > %R/seen", 60, "%F", ""},
                    TRunCase{"DeletedEmptyJobHasNoFile", "job.txt", TJob::TOutcome::DeletedEmpty,
                             false,
                             "printf '%s|%s' \"$TARNOCK_FILE\" \"$TARNOCK_OUTCOME\" > %R/seen", 60,
                             "|deleted empty", ""},
                    TRunCase{"FailingCommand", "job.txt", TJob::TOutcome::Closed, false,
                             "echo ran > %R/seen; exit 3", 60, "ran\n",
                             "After-job command for %F: exit status 3"},
                    TRunCase{"TooLongIsTerminated", "job.txt", TJob::TOutcome::Closed, false,
                             "echo ran > %R/seen; sleep 60", 1, "ran\n",
                             "After-job command for %F: ran longer than 1 s, killed by signal 15"},
                    TRunCase{"IgnoredTerminationIsKilled", "job.txt", TJob::TOutcome::Closed, false,
                             "trap '' TERM; echo ran > %R/seen; sleep 60", 1, "ran\n",
                             "After-job command for %F: ran longer than 1 s, killed by signal 9"},
                    TRunCase{"MissingFolderCannotStart", "job.txt", TJob::TOutcome::Closed, true,
                             "echo ran > %R/seen", 60, "",
                             "After-job command for %F: cannot start: No such file or directory"}),
    [](const auto& info) { return std::string(info.param.name); });

// Commands that wait until the test lets them go, each leaving a mark when
// it starts.
constexpr const char* kHeldCommand =
    "touch %R/started.$TARNOCK_PEER_PORT; while [ ! -e %R/go ]; do sleep 0.05; done";

std::size_t Started(const std::string& root) {
  std::size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(root))
    count += entry.path().filename().string().rfind("started.", 0) == 0 ? 1u : 0u;
  return count;
}

TEST_F(AfterJobTest, AtMostTheParallelLimitRunsTheRestWaits) {
  for (int i = 0; i < 5; ++i) runner_.Run(Job("job.txt", 50000 + i), Command(kHeldCommand), 2, 60);
  ASSERT_TRUE(WaitUntil([&] { return Started(root_) == 2; }));
  EXPECT_EQ(runner_.Running(), 2u);
  EXPECT_EQ(runner_.Waiting(), 3u);
  WriteWholeFile(root_ + "/go", "");
  ASSERT_TRUE(AllDone());
  EXPECT_EQ(Started(root_), 5u);
  EXPECT_TRUE(reports_.empty());
}

TEST_F(AfterJobTest, AJobThatFindsTheQueueFullGetsOneLine) {
  TAfterJobRunner small([this](const std::string& text) { reports_.push_back(text); }, 2);
  for (int i = 0; i < 4; ++i)
    small.Run(Job("job" + std::to_string(i)), Command(kHeldCommand), 1, 60);
  EXPECT_EQ(reports_,
            std::vector<std::string>{"After-job queue full (2 jobs waiting), not run for " +
                                     Folder() + "job3"});
  EXPECT_EQ(small.Waiting(), 2u);
  WriteWholeFile(root_ + "/go", "");
  ASSERT_TRUE(
      WaitUntil([&] { return small.Running() == 0 && small.Waiting() == 0; }, kCommandWaitMs));
  EXPECT_EQ(reports_.size(), 1u);
}

// The monitor's part: the command comes after the index line, also for a
// deleted empty job, and not at all without the option.
struct TMonitorCase {
  const char* name;
  std::string jobs;  // the [Jobs] lines; %R the test's folder
  const char* sent;
  const char* seen;  // "<none>": the command must not have run
};

class AfterJobMonitorTest : public MonitorFixture,
                            public testing::WithParamInterface<TMonitorCase> {};

TEST_P(AfterJobMonitorTest, RunsOnceTheCloseIsHandled) {
  const TMonitorCase& c = GetParam();
  WriteCapturePort();
  TIniFile(IniPath()).WriteFlag("File", "DeleteIfEmpty", true);
  WriteWholeFile(IniPath(), ReadWholeFile(IniPath()) + Replaced(c.jobs, "%R", Root()));
  StartMonitor();
  window_.DeleteIfEmptyMark = true;
  const int peer = Connect();
  if (*c.sent) SendStored(peer, c.sent);
  Finish(peer);
  const std::string seenPath = Root() + "/seen";
  if (std::string(c.seen) == "<none>") {
    EXPECT_FALSE(std::filesystem::exists(seenPath));
  } else {
    ASSERT_TRUE(
        WaitUntil([&] { return std::filesystem::exists(Root() + "/done"); }, kCommandWaitMs));
    EXPECT_EQ(ReadWholeFile(seenPath), Replaced(c.seen, "%F", CapturePath()));
  }
  for (const std::string& line : window_.MessageLines)
    EXPECT_EQ(line.find("ERROR"), std::string::npos);
}

constexpr const char* kSeeIndex =
    "AfterJob=printf '%s|%s|' \"$TARNOCK_FILE\" \"$TARNOCK_BYTES\" > %R/seen; "
    "wc -l < jobs.csv >> %R/seen; touch %R/done\n";

INSTANTIATE_TEST_SUITE_P(
    Rows, AfterJobMonitorTest,
    testing::Values(TMonitorCase{"Off", "[Jobs]\nJobIndex=1\nAfterJob=\n", "abc", "<none>"},
                    TMonitorCase{"AfterTheIndexLine",
                                 std::string("[Jobs]\nJobIndex=1\n") + kSeeIndex, "abc",
                                 "%F|3|2\n"},
                    TMonitorCase{"DeletedEmptyJob", std::string("[Jobs]\nJobIndex=1\n") + kSeeIndex,
                                 "", "|0|2\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
