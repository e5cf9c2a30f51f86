#include "jobs/after_job.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "capture/ini_file.h"
#include "support/fault_injection.h"
#include "support/file_contents.h"
#include "support/monitor_fixture.h"
#include "support/temp_folder.h"
#include "support/wait.h"

namespace {

constexpr int kCommandWaitMs = 20000;
// A command that runs to its end here is given this time limit.
constexpr int kAmpleMs = 60000;

// In these tests a job's AfterJobSeconds is read as milliseconds, and the
// grace before SIGKILL and the pace of taking output past the bound are
// short, so that no test waits long for a timer.
TAfterJobLimits TestLimits(int milliseconds) {
  TAfterJobLimits limits;
  limits.TimeLimit = std::chrono::milliseconds(milliseconds);
  limits.KillGrace = std::chrono::milliseconds(20);
  limits.DrainInterval = std::chrono::milliseconds(1);
  return limits;
}

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
    record.Bytes = 234;
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

  TAfterJobRunner::TReport Report() {
    return [this](const std::string& text, const std::string&) { reports_.push_back(text); };
  }

  std::vector<std::string> reports_;
  TAfterJobRunner runner_{Report(), TAfterJobRunner::kQueueBound, StandardErrorLog(), TestLimits};
};

struct TRunCase {
  const char* name;
  const char* fileName;
  TJob::TOutcome outcome;
  bool folderMissing;
  const char* command;  // %R: the test's folder
  int timeLimitMs;
  const char* seen;    // what the command wrote to %R/seen; %F the job's file, %C its folder
  const char* report;  // the failure line; %F the job's file
  std::optional<TFileCall> failingCall = std::nullopt;
  int error = 0;
};

class AfterJobRunTest : public AfterJobTest, public testing::WithParamInterface<TRunCase> {};

TEST_P(AfterJobRunTest, FactsOnlyInTheEnvironmentAndEachFailureReported) {
  const TRunCase& c = GetParam();
  TJob job = Job(c.fileName);
  job.Outcome = c.outcome;
  if (c.folderMissing) job.Folder = job.FileName = root_ + "/gone/";
  {
    std::optional<TFileFault> fault;
    if (c.failingCall) fault.emplace(*c.failingCall, TFault{1, 1, c.error});
    runner_.Run(job, Command(c.command), 4, c.timeLimitMs);
    ASSERT_TRUE(AllDone());
  }
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

// The open descriptors are listed by the shell itself, before anything it
// runs: a pipeline or a redirection would add the shell's own for a moment.
constexpr const char* kEveryFact =
    "fds=; n=0; while [ $n -lt 1024 ]; do [ -L /proc/$$/fd/$n ] && fds=\"$fds$n \"; "
    "n=$((n + 1)); done; "
    "printf '%s|' \"$TARNOCK_FILE\" \"$TARNOCK_PORT\" \"$TARNOCK_PEER\" \"$TARNOCK_PEER_PORT\" "
    "\"$TARNOCK_BYTES\" \"$TARNOCK_JOB_BYTES\" \"$TARNOCK_STARTED\" \"$TARNOCK_ENDED\" "
    "\"$TARNOCK_OUTCOME\" \"$PWD\" "
    "\"$(readlink /proc/$$/fd/0)\" > %R/seen; printf '%s' \"$fds\" >> %R/seen";
constexpr TJob::TOutcome kClosed = TJob::TOutcome::Closed;

INSTANTIATE_TEST_SUITE_P(
    Rows, AfterJobRunTest,
    testing::Values(
        TRunCase{"EveryVariable", "job.txt", kClosed, false, kEveryFact, kAmpleMs,
                 "%F|9100|10.0.0.5|50000|1234|234|%S|%E|closed|%C|/dev/null|0 1 2 ", ""},
        TRunCase{"ShellSyntaxInTheName", "a $(touch x) `touch y` 'q' \"d\"\n;z&.txt", kClosed,
                 false, "printf '%s' \"$TARNOCK_FILE\" > %R/seen", kAmpleMs, "%F", ""},
        TRunCase{"DeletedEmptyJobHasNoFile", "job.txt", TJob::TOutcome::DeletedEmpty, false,
                 "printf '%s|%s' \"$TARNOCK_FILE\" \"$TARNOCK_OUTCOME\" > %R/seen", kAmpleMs,
                 "|deleted empty", ""},
        TRunCase{"FailingCommand", "job.txt", kClosed, false, "echo ran > %R/seen; exit 3",
                 kAmpleMs, "ran\n", "After-job command for %F: exit status 3"},
        TRunCase{"TooLongIsTerminated", "job.txt", kClosed, false, "sleep 60", 50, "",
                 "After-job command for %F: ran longer than 50 ms, killed by signal 15"},
        // 24.8 days: more than a timer can wait, so the longest it can.
        TRunCase{"LongerThanATimerCanWait", "job.txt", kClosed, false, "echo ran > %R/seen",
                 INT_MAX, "ran\n", ""},
        TRunCase{"MissingFolderCannotStart", "job.txt", kClosed, true, "echo ran > %R/seen",
                 kAmpleMs, "", "After-job command for %F: cannot start: No such file or directory"},
        TRunCase{"NoPipe", "job.txt", kClosed, false, "echo ran > %R/seen", kAmpleMs, "",
                 "After-job command for %F: cannot start: Too many open files", TFileCall::MakePipe,
                 EMFILE},
        TRunCase{"NoProcess", "job.txt", kClosed, false, "echo ran > %R/seen", kAmpleMs, "",
                 "After-job command for %F: cannot start: Resource temporarily unavailable",
                 TFileCall::Spawn, EAGAIN},
        // An old kernel without a pidfd: the end is looked for on a timer.
        TRunCase{"NoPidHandle", "job.txt", kClosed, false, "echo ran > %R/seen", kAmpleMs, "ran\n",
                 "", TFileCall::OpenPidHandle, ENOSYS},
        TRunCase{"WaitFails", "job.txt", kClosed, false, "echo ran > %R/seen", kAmpleMs, "ran\n",
                 "After-job command for %F: cannot wait: No child processes",
                 TFileCall::WaitForChild, ECHILD}),
    [](const auto& info) { return std::string(info.param.name); });

// AfterJobSeconds as the settings give it, any int: no overflow, and never
// longer than one timer can wait.
TEST(AfterJobLimitsTest, AnySecondsMakeATimeLimitATimerCanWait) {
  using std::chrono::milliseconds;
  const struct {
    int seconds;
    milliseconds limit;
  } rows[] = {{600, milliseconds(600000)},
              {1, milliseconds(1000)},
              {0, milliseconds(1000)},
              {-5, milliseconds(1000)},
              {INT_MIN, milliseconds(1000)},
              {TJobSettings::kMaxTimerSeconds, TAfterJobLimits::kLongest},
              {2147484, TAfterJobLimits::kLongest},
              {4294968, TAfterJobLimits::kLongest},
              {INT_MAX, TAfterJobLimits::kLongest}};
  for (const auto& row : rows)
    EXPECT_EQ(TAfterJobLimits::FromSeconds(row.seconds).TimeLimit, row.limit) << row.seconds;
  EXPECT_LE(TAfterJobLimits::kLongest.count(), INT_MAX);
}

// Whether the process is gone for good: reaped, not left a zombie.
bool Reaped(const std::string& pid) {
  return !std::filesystem::exists("/proc/" + pid.substr(0, pid.find('\n')));
}

struct TStopCase {
  const char* name;
  const char* command;  // writes its $$ to %R/pid once it is ready
  const char* failure;
};

class AfterJobStopTest : public AfterJobTest, public testing::WithParamInterface<TStopCase> {};

TEST_P(AfterJobStopTest, StopEndsTheCommandAndReapsIt) {
  const TStopCase& c = GetParam();
  bool finished = false;
  TAfterJobRun run(
      Job("job.txt"), Command(c.command), TestLimits(kAmpleMs), 1, [](const std::string&) {},
      [&](TAfterJobRun&) { finished = true; });
  ASSERT_TRUE(run.Start());
  std::string pid;
  ASSERT_TRUE(WaitUntil([&] { return (pid = ReadWholeFile(root_ + "/pid")).ends_with('\n'); },
                        kCommandWaitMs));
  run.Stop();
  ASSERT_TRUE(WaitUntil([&] { return finished; }, kCommandWaitMs));
  EXPECT_TRUE(run.Stopped());
  EXPECT_EQ(run.Failure(), c.failure);
  EXPECT_TRUE(Reaped(pid));
  run.Stop();  // once ended, nothing to stop
}

INSTANTIATE_TEST_SUITE_P(Rows, AfterJobStopTest,
                         testing::Values(TStopCase{"Terminated", "echo $$ > %R/pid; exec sleep 60",
                                                   "stopped, killed by signal 15"},
                                         TStopCase{"IgnoredTerminationIsKilled",
                                                   "trap '' TERM; echo $$ > %R/pid; sleep 60",
                                                   "stopped, killed by signal 9"}),
                         [](const auto& info) { return std::string(info.param.name); });

// The log the runner writes the output to, a file here.
class AfterJobOutputTest : public AfterJobTest {
 protected:
  std::vector<std::string> LogLines() {
    EXPECT_TRUE(log_.Drain(std::chrono::seconds(10)));
    std::vector<std::string> lines;
    std::istringstream text(ReadWholeFile(logPath_));
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
  }

  // The lines of one job's output, each as written with its line end.
  static std::vector<std::string> OutputOf(const std::vector<std::string>& lines,
                                           const std::string& file) {
    std::vector<std::string> output;
    for (const std::string& line : lines)
      if (line.starts_with(file + ": ")) output.push_back(line + "\n");
    return output;
  }

  // The bound holds as written, prefix and line ends included, and is used;
  // what is shown and what the closing notice counts are every byte the
  // command wrote.
  static void ExpectBounded(const std::vector<std::string>& output, const std::string& file,
                            int64_t outputBytes) {
    ASSERT_FALSE(output.empty());
    std::size_t written = 0;
    int64_t shown = 0;
    for (const std::string& line : output) {
      written += line.size();
      shown += static_cast<int64_t>(line.size() - file.size() - 2);
    }
    EXPECT_LE(written, TAfterJobRun::kOutputLimit);
    EXPECT_GT(written, TAfterJobRun::kOutputLimit - 2 * (file.size() + 60));
    std::smatch notice;
    const std::regex noticeText("(\\d+) more bytes of output not shown\\)\n");
    const std::string last = output.back().substr(file.size() + 3);
    ASSERT_TRUE(std::regex_match(last, notice, noticeText)) << last;
    shown -= static_cast<int64_t>(output.back().size() - file.size() - 2);
    EXPECT_EQ(shown + std::stoll(notice[1].str()), outputBytes);
  }

  const std::string logPath_ = root_ + "/log";
  const int logHandle_ = ::open(logPath_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  TLogWriter log_{logHandle_};
  std::unique_ptr<TAfterJobRunner> logged_ =
      std::make_unique<TAfterJobRunner>(Report(), TAfterJobRunner::kQueueBound, log_, TestLimits);

  ~AfterJobOutputTest() override {
    logged_.reset();
    log_.Drain(std::chrono::seconds(10));
    ::close(logHandle_);
  }
};

struct TOutputCase {
  const char* name;
  const char* command;
  int timeLimitMs;
  int64_t outputBytes;  // -1: as many as it wrote in its time
  const char* report;   // %F the job's file
};

class AfterJobBoundTest : public AfterJobOutputTest,
                          public testing::WithParamInterface<TOutputCase> {};

TEST_P(AfterJobBoundTest, OutputIsBoundedAsWrittenAndTheRestCounted) {
  const TOutputCase& c = GetParam();
  const TJob job = Job("job.txt");
  logged_->Run(job, c.command, 1, c.timeLimitMs);
  ASSERT_TRUE(WaitUntil([&] { return logged_->Running() == 0 && logged_->Waiting() == 0; },
                        kCommandWaitMs));
  const std::vector<std::string> expected =
      *c.report ? std::vector<std::string>{Replaced(c.report, "%F", job.FileName)}
                : std::vector<std::string>{};
  EXPECT_EQ(reports_, expected);
  if (c.outputBytes != -1) {
    ExpectBounded(OutputOf(LogLines(), job.FileName), job.FileName, c.outputBytes);
    return;
  }
  std::size_t written = 0;
  for (const std::string& line : OutputOf(LogLines(), job.FileName)) written += line.size();
  EXPECT_LE(written, TAfterJobRun::kOutputLimit);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AfterJobBoundTest,
    testing::Values(
        // Each one-byte line costs the file's name as written.
        TOutputCase{"OneCharacterLines", "yes | head -n 100000", kAmpleMs, 200000, ""},
        // Past the bound the output is still taken, so the command ends.
        TOutputCase{"ALotThenItsEnd", "yes | head -c 3000000", kAmpleMs, 3000000, ""},
        TOutputCase{"EndlessOutput", "yes", 50, -1,
                    "After-job command for %F: ran longer than 50 ms, killed by signal 15"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AfterJobOutputTest, LinesAreCutAndALastLineWithoutItsEndIsShown) {
  const TJob job = Job("job.txt");
  logged_->Run(job, "head -c 1500 /dev/zero | tr '\\0' x; printf '\\nlast'", 1, kAmpleMs);
  ASSERT_TRUE(WaitUntil([&] { return logged_->Running() == 0; }, kCommandWaitMs));
  EXPECT_EQ(OutputOf(LogLines(), job.FileName),
            (std::vector<std::string>{job.FileName + ": " + std::string(1000, 'x') + "\n",
                                      job.FileName + ": last\n"}));
}

// At the program's end a running command goes on to its own end, its output
// still passed on within the bound; the jobs still waiting are named one
// line each.
TEST_F(AfterJobOutputTest, ACommandLeftRunningAtTheEndRunsToItsEnd) {
  const TJob running = Job("running.txt");
  logged_->Run(
      running,
      Command(
          "printf part; touch %R/started; while [ ! -e %R/go ] && [ -d %R ]; do sleep 0.01; done; "
          "echo ial; yes | head -n 40000; echo $$ > %R/done"),
      1, kAmpleMs);
  for (int i = 0; i < 3; ++i) logged_->Run(Job("waiting" + std::to_string(i)), "true", 1, kAmpleMs);
  ASSERT_TRUE(
      WaitUntil([&] { return std::filesystem::exists(root_ + "/started"); }, kCommandWaitMs));
  logged_.reset();
  WriteWholeFile(root_ + "/go", "");
  ASSERT_TRUE(WaitUntil(
      [&] {
        return ReadWholeFile(logPath_).find("more bytes of output not shown") != std::string::npos;
      },
      kCommandWaitMs));
  EXPECT_TRUE(ReadWholeFile(root_ + "/done").ends_with('\n'));
  const std::vector<std::string> lines = LogLines();
  const std::vector<std::string> output = OutputOf(lines, running.FileName);
  EXPECT_EQ(output.front(), running.FileName + ": partial\n");
  ExpectBounded(output, running.FileName, 8 + 80000);
  std::vector<std::string> notRun;
  for (const std::string& line : lines)
    if (line.starts_with("After-job command not run: ")) notRun.push_back(line);
  EXPECT_EQ(notRun,
            (std::vector<std::string>{"After-job command not run: " + Folder() + "waiting0",
                                      "After-job command not run: " + Folder() + "waiting1",
                                      "After-job command not run: " + Folder() + "waiting2"}));
}

// A list longer than the log's buffer is never dropped whole: what does not
// fit is counted by the log's notice.
TEST_F(AfterJobTest, AListOfJobsNotRunLongerThanTheLogTakesIsCounted) {
  const std::string logPath = root_ + "/log";
  const int handle = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  constexpr int kJobs = 40;
  {
    TLogWriter log(handle, 1000);
    {
      TAfterJobRunner runner(Report(), TAfterJobRunner::kQueueBound, log, TestLimits);
      runner.Run(Job("running"), Command("while [ ! -e %R/go ] && [ -d %R ]; do sleep 0.01; done"),
                 1, kAmpleMs);
      for (int i = 0; i < kJobs; ++i)
        runner.Run(Job("job" + std::to_string(i)), "true", 1, kAmpleMs);
    }
    WriteWholeFile(root_ + "/go", "");
    ASSERT_TRUE(log.Drain(std::chrono::seconds(10)));
  }
  ::close(handle);
  int64_t named = 0, noticed = 0;
  const std::regex notice(
      "tarnock: (\\d+) log lines dropped here: they came faster than standard error took them");
  std::istringstream text(ReadWholeFile(logPath));
  for (std::string line; std::getline(text, line);) {
    std::smatch count;
    if (std::regex_match(line, count, notice))
      noticed += std::stoll(count[1].str());
    else
      named += line.starts_with("After-job command not run: ") ? 1 : 0;
  }
  EXPECT_GT(named, 0);
  EXPECT_EQ(named + noticed, kJobs);
}

// Commands that wait until the test lets them go, each leaving a mark when
// it starts.
constexpr const char* kHeldCommand =
    "touch %R/started.$TARNOCK_PEER_PORT; while [ ! -e %R/go ] && [ -d %R ]; do sleep 0.05; done";

std::size_t Started(const std::string& root) {
  std::size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(root))
    count += entry.path().filename().string().rfind("started.", 0) == 0 ? 1u : 0u;
  return count;
}

TEST_F(AfterJobTest, AtMostTheParallelLimitRunsTheRestWaits) {
  for (int i = 0; i < 5; ++i)
    runner_.Run(Job("job.txt", 50000 + i), Command(kHeldCommand), 2, kAmpleMs);
  ASSERT_TRUE(WaitUntil([&] { return Started(root_) == 2; }));
  EXPECT_EQ(runner_.Running(), 2u);
  EXPECT_EQ(runner_.Waiting(), 3u);
  WriteWholeFile(root_ + "/go", "");
  ASSERT_TRUE(AllDone());
  EXPECT_EQ(Started(root_), 5u);
  EXPECT_TRUE(reports_.empty());
}

TEST_F(AfterJobTest, AJobThatFindsTheQueueFullGetsOneLine) {
  TAfterJobRunner small(Report(), 2);
  for (int i = 0; i < 4; ++i)
    small.Run(Job("job" + std::to_string(i)), Command(kHeldCommand), 1, kAmpleMs);
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
