#include "jobs/retention.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "capture/ini_file.h"
#include "capture/monitor.h"
#include "capture/open_files.h"
#include "jobs/job_feature_set.h"
#include "support/fake_monitor_window.h"
#include "support/file_contents.h"
#include "support/log_lines.h"
#include "support/temp_folder.h"
#include "support/wait.h"

namespace {

struct TNameCase {
  const char* format;
  const char* name;
  bool matches;
};

class CaptureNamesTest : public testing::TestWithParam<TNameCase> {};

TEST_P(CaptureNamesTest, MatchesWhatTheFormatCanRender) {
  const TNameCase& c = GetParam();
  EXPECT_EQ(TCaptureNames(c.format).Matches(c.name), c.matches) << c.format << " / " << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, CaptureNamesTest,
    testing::Values(
        TNameCase{"yyyymmdd-hhnnss", "20261208-143005.txt", true},
        TNameCase{"yyyymmdd-hhnnss", "20261208-143005-2.txt", true},
        TNameCase{"yyyymmdd-hhnnss", "20261208-143005-.txt", false},
        TNameCase{"yyyymmdd-hhnnss", "2026128-143005.txt", false},
        TNameCase{"yyyymmdd-hhnnss", "20261208-143005.TXT", false},
        TNameCase{"yyyymmdd-hhnnss", "20261208-143005.txt.bak", false},
        TNameCase{"yyyymmdd-hhnnss", "notes.txt", false},
        TNameCase{"yyyymmdd-hhnnss", "jobs.csv", false},
        // Quoted text is literal, digits in it included.
        TNameCase{"'scan-'yyyy", "scan-2026.txt", true},
        TNameCase{"'scan-'yyyy", "scam-2026.txt", false}, TNameCase{"\"job1\"", "job1.txt", true},
        TNameCase{"\"job1\"", "job2.txt", false}, TNameCase{"  'job'  ", "job.txt", true},
        // Numbers of one or two digits, names and markers.
        TNameCase{"d/m/yy", "8/12/26.txt", true}, TNameCase{"d/m/yy", "8/123/26.txt", false},
        TNameCase{"mmm-dddd", "Dec-Tuesday.txt", true},
        TNameCase{"mmm-dddd", "Dex-Tuesday.txt", false}, TNameCase{"hh AM/PM", "02 PM.txt", true},
        TNameCase{"hh AM/PM", "02 pm.txt", false}, TNameCase{"hh ampm", "02 pm.txt", true},
        // The date separator makes subfolders.
        TNameCase{"yyyy/mm/dd", "2026/12/08.txt", true},
        TNameCase{"yyyy/mm/dd", "2026-12-08.txt", false}));

// Sets the file's (or link's own) change time to days before now.
void Age(const std::string& path, double days) {
  timespec times[2];
  clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= static_cast<time_t>(days * 86400);
  times[1] = times[0];
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

class RetentionTest : public TempFolderTest {
 protected:
  std::string Folder() const { return root_ + "/cap/"; }
  void Make(const std::string& relative, double days) {
    std::filesystem::create_directories(std::filesystem::path(Folder() + relative).parent_path());
    ASSERT_TRUE(WriteWholeFile(Folder() + relative, "x"));
    Age(Folder() + relative, days);
  }
  bool Exists(const std::string& relative) const {
    return std::filesystem::exists(std::filesystem::symlink_status(Folder() + relative));
  }
  // A tree for the format "'scan'/yyyymmdd" with Days 3: what must go, and
  // the decoys that must stay.
  void MakeTree() {
    Make("scan/20261201.txt", 10);
    Make("scan/20261202-2.txt", 3.1);
    Make("scan/20261203.txt", 2);  // one day inside the limit
    Make("scan/notes.txt", 10);
    Make("scan/jobs.csv", 10);
    Make("20261204.txt", 10);              // above the pattern's folder
    Make("scan/deeper/20261205.txt", 10);  // below it
    std::filesystem::create_directories(Folder() + "scan/20261207.txt");
    Age(Folder() + "scan/20261207.txt", 10);
    ASSERT_TRUE(WriteWholeFile(root_ + "/old.txt", "x"));
    Age(root_ + "/old.txt", 10);
    std::filesystem::create_symlink(root_ + "/old.txt", Folder() + "scan/20261208.txt");
    Age(Folder() + "scan/20261208.txt", 10);
  }
  void ExpectTreeSwept() const {
    EXPECT_FALSE(Exists("scan/20261201.txt"));
    EXPECT_FALSE(Exists("scan/20261202-2.txt"));
    for (const char* stays :
         {"scan/20261203.txt", "scan/notes.txt", "scan/jobs.csv", "20261204.txt",
          "scan/deeper/20261205.txt", "scan/20261207.txt", "scan/20261208.txt"})
      EXPECT_TRUE(Exists(stays)) << stays;
    EXPECT_TRUE(std::filesystem::exists(root_ + "/old.txt"));
  }
};

TEST_F(RetentionTest, SweepDeletesOnlyOldCapturesNoSessionHolds) {
  MakeTree();
  Make("scan/20261206.txt", 10);
  TOpenFiles open;
  open.Hold(*FileIdentityOf(Folder() + "scan/20261206.txt"));
  std::vector<TRetainedPort> ports;
  ports.push_back(TRetainedPort{Folder(), 3, TCaptureNames("'scan'/yyyymmdd")});
  std::set<std::string> deleted;
  TRetentionSweep sweep(
      std::move(ports), std::time(nullptr),
      [&](const TFileIdentity& file) { return open.Holders(file) > 0; },
      [&](const std::string& path, int days, int platformErrno) {
        EXPECT_EQ(days, 3);
        EXPECT_EQ(platformErrno, 0);
        deleted.insert(path);
      });
  // However short each step, the sweep gets to its end.
  while (!sweep.Step(std::chrono::steady_clock::now())) {
  }
  ExpectTreeSwept();
  EXPECT_TRUE(Exists("scan/20261206.txt"));
  EXPECT_EQ(deleted, (std::set<std::string>{Folder() + "scan/20261201.txt",
                                            Folder() + "scan/20261202-2.txt"}));
}

struct TMonitorSweepCase {
  bool on;
  const char* days;
};

class RetentionMonitorTest : public RetentionTest,
                             public testing::WithParamInterface<TMonitorSweepCase> {};

TEST_P(RetentionMonitorTest, StartSweepsWhenOnAndReportsEachDeletion) {
  MakeTree();
  WriteWholeFile(root_ + "/tarnock.ini", std::string("[Ports]\n1=") + Folder() +
                                             ",'scan'/yyyymmdd,F," + GetParam().days + ",\n");
  TIniFile(root_ + "/tarnock.ini").WriteFlag("Jobs", "DeleteAfterDays", GetParam().on);
  TFakeMonitorWindow window;
  TCaptureMonitor monitor(window, root_ + "/tarnock.ini", MakeJobFeatures);
  monitor.FormCreate();
  const bool sweeps = GetParam().on && std::string(GetParam().days) == "3";
  if (!sweeps) {
    // Nothing is waited for: with the option off nothing is even started.
    QCoreApplication::processEvents();
    EXPECT_TRUE(Exists("scan/20261201.txt"));
    EXPECT_TRUE(Exists("scan/20261202-2.txt"));
    EXPECT_TRUE(window.MessageLines.empty());
    return;
  }
  ASSERT_TRUE(WaitUntil([&] { return window.MessageLines.size() == 2; }));
  ExpectTreeSwept();
  // In the order the folder lists them.
  const std::string first = Folder() + "scan/20261201.txt deleted, older than 3 days";
  const std::string second = Folder() + "scan/20261202-2.txt deleted, older than 3 days";
  const auto& lines = window.MessageLines;
  EXPECT_TRUE((HasPrefixThen(lines[0], first) && HasPrefixThen(lines[1], second)) ||
              (HasPrefixThen(lines[0], second) && HasPrefixThen(lines[1], first)))
      << testing::PrintToString(lines);
  monitor.FormDestroy();
}

INSTANTIATE_TEST_SUITE_P(Table, RetentionMonitorTest,
                         testing::Values(TMonitorSweepCase{true, "3"},
                                         TMonitorSweepCase{false, "3"},
                                         TMonitorSweepCase{true, "0"},
                                         TMonitorSweepCase{true, "x"}));

}  // namespace
