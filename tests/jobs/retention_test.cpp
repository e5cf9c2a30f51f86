#include "jobs/retention.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <utility>
#include <vector>

#include "capture/ini_file.h"
#include "capture/monitor.h"
#include "capture/open_files.h"
#include "jobs/job_feature_set.h"
#include "support/fake_monitor_window.h"
#include "support/fault_injection.h"
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
    Make("scan/20261201.txt.cf", 10);  // an LPD job's control file goes with it
    Make("scan/20261202-2.txt", 3.1);
    Make("scan/20261203.txt", 2);  // one day inside the limit
    Make("scan/20261203.txt.cf", 10);
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
    EXPECT_FALSE(Exists("scan/20261201.txt.cf"));
    for (const char* stays :
         {"scan/20261203.txt", "scan/20261203.txt.cf", "scan/notes.txt", "scan/jobs.csv",
          "20261204.txt", "scan/deeper/20261205.txt", "scan/20261207.txt", "scan/20261208.txt"})
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

// A capture goes only when every port whose folder and format name it would
// delete it. Folders are below the test folder; "cap" is also reached as
// "link" (a symbolic link to it) and as "cap/./".
struct TPortSetCase {
  const char* name;
  std::vector<std::string> ports;  // folder,format,overwrite,days,
  std::string capture;             // below cap/
  double age;                      // days
  int deletedWithDays;             // 0: kept
  const char* portSections = "";
};

class RetentionPortSetTest : public RetentionTest,
                             public testing::WithParamInterface<TPortSetCase> {};

TEST_P(RetentionPortSetTest, DeletesOnlyWhatEveryMatchingPortWouldDelete) {
  const TPortSetCase& c = GetParam();
  std::filesystem::create_directories(Folder());
  std::filesystem::create_directories(root_ + "/other");
  std::filesystem::create_symlink(Folder(), root_ + "/link");
  Make(c.capture, c.age);
  std::string settings = "[Jobs]\nDeleteAfterDays=1\n[Ports]\n";
  for (std::size_t i = 0; i < c.ports.size(); ++i)
    settings += std::to_string(9100 + i) + "=" + root_ + "/" + c.ports[i] + "\n";
  settings += c.portSections;
  WriteWholeFile(root_ + "/tarnock.ini", settings);
  std::vector<int> deletedWithDays;
  TRetentionSweep sweep(
      RetainedPorts(TIniFile(root_ + "/tarnock.ini").Load()), std::time(nullptr),
      [](const TFileIdentity&) { return false; },
      [&](const std::string&, int days, int) { deletedWithDays.push_back(days); });
  while (!sweep.Step(std::chrono::steady_clock::now() + std::chrono::seconds(10))) {
  }
  EXPECT_EQ(Exists(c.capture), c.deletedWithDays == 0);
  EXPECT_EQ(deletedWithDays,
            c.deletedWithDays ? std::vector<int>{c.deletedWithDays} : std::vector<int>{});
}

INSTANTIATE_TEST_SUITE_P(Table, RetentionPortSetTest,
                         testing::Values(
                             // "-12" is an hour to one port and a job number to the other.
                             TPortSetCase{"HourOfAnotherPortIsKept",
                                          {"cap,yyyymmdd,F,2,", "cap,yyyymmdd-hh,F,30,"},
                                          "20240101-12.txt",
                                          10,
                                          0},
                             TPortSetCase{"HourOfAnotherPortGoesAfterItsDays",
                                          {"cap,yyyymmdd,F,2,", "cap,yyyymmdd-hh,F,30,"},
                                          "20240101-12.txt",
                                          40,
                                          30},
                             TPortSetCase{"OwnCaptureOnlyOnePortNames",
                                          {"cap,yyyymmdd,F,2,", "cap,yyyymmdd-hh,F,30,"},
                                          "20240101-2.txt",
                                          10,
                                          2},
                             TPortSetCase{"SameFolderAndFormatLongerDaysKeeps",
                                          {"cap,yyyymmdd,F,2,", "cap,yyyymmdd,F,30,"},
                                          "20240101.txt",
                                          10,
                                          0},
                             TPortSetCase{"SameFolderAndFormatLongerDaysPassed",
                                          {"cap,yyyymmdd,F,30,", "cap,yyyymmdd,F,2,"},
                                          "20240101.txt",
                                          40,
                                          30},
                             // A port's own section turns the deletion off for it alone.
                             TPortSetCase{"PortThatKeepsHoldsBackTheOther",
                                          {"cap,yyyymmdd,F,30,", "cap,yyyymmdd,F,2,"},
                                          "20240101.txt",
                                          40,
                                          0,
                                          "[Port 9100]\nDeleteAfterDays=0\n"},
                             TPortSetCase{"PortThatKeepsLeavesOthersAlone",
                                          {"cap,yyyymmdd-hh,F,30,", "cap,yyyymmdd,F,2,"},
                                          "20240101-2.txt",
                                          10,
                                          2,
                                          "[Port 9100]\nDeleteAfterDays=0\n"},
                             TPortSetCase{"PortWithDaysZeroKeeps",
                                          {"cap,yyyymmdd,F,2,", "cap,yyyymmdd,F,0,"},
                                          "20240101.txt",
                                          10,
                                          0},
                             TPortSetCase{"PortWithDaysNoNumberKeeps",
                                          {"cap,yyyymmdd,F,2,", "cap,yyyymmdd,F,x,"},
                                          "20240101.txt",
                                          10,
                                          0},
                             TPortSetCase{"FolderThroughALinkKeeps",
                                          {"cap,yyyymmdd,F,2,", "link,yyyymmdd,F,0,"},
                                          "20240101.txt",
                                          10,
                                          0},
                             TPortSetCase{"FolderSpelledOtherwiseKeeps",
                                          {"cap/./,yyyymmdd,F,2,", "cap,yyyymmdd,F,0,"},
                                          "20240101.txt",
                                          10,
                                          0},
                             TPortSetCase{"PortOfASubfolderKeeps",
                                          {"cap,'scan'/yyyymmdd,F,2,", "cap/scan,yyyymmdd,F,0,"},
                                          "scan/20240101.txt",
                                          10,
                                          0},
                             TPortSetCase{"PortOfAnotherFolderHasNoSay",
                                          {"cap,yyyymmdd,F,2,", "other,yyyymmdd,F,0,"},
                                          "20240101.txt",
                                          10,
                                          2}),
                         [](const testing::TestParamInfo<TPortSetCase>& info) {
                           return std::string(info.param.name);
                         });

// A platform call of the sweep that fails: a deletion the platform refuses
// is reported with its errno, anything else ends that part of the walk, and
// the sweep always gets to its end.
struct TSweepFaultCase {
  const char* name;
  TFileCall call;
  int reportedErrno;  // 0: nothing is reported
};

class RetentionFaultTest : public RetentionTest,
                           public testing::WithParamInterface<TSweepFaultCase> {};

TEST_P(RetentionFaultTest, FailedCallDeletesNothingAndEnds) {
  Make("20240101.txt", 10);
  std::vector<int> reported;
  TFileFault fault(GetParam().call, TFault{1, 0, EACCES});
  TRetentionSweep sweep(
      {TRetainedPort{Folder(), 2, TCaptureNames("yyyymmdd")}}, std::time(nullptr),
      [](const TFileIdentity&) { return false; },
      [&](const std::string& path, int days, int platformErrno) {
        EXPECT_EQ(path, Folder() + "20240101.txt");
        EXPECT_EQ(days, 2);
        reported.push_back(platformErrno);
      });
  while (!sweep.Step(std::chrono::steady_clock::now() + std::chrono::seconds(10))) {
  }
  EXPECT_GE(fault.Injected(), 1);
  EXPECT_TRUE(Exists("20240101.txt"));
  EXPECT_EQ(reported, GetParam().reportedErrno ? std::vector<int>{GetParam().reportedErrno}
                                               : std::vector<int>{});
}

INSTANTIATE_TEST_SUITE_P(
    Table, RetentionFaultTest,
    testing::Values(TSweepFaultCase{"DeleteRefused", TFileCall::UnlinkAt, EACCES},
                    TSweepFaultCase{"FolderUnopenable", TFileCall::OpenAt, 0},
                    TSweepFaultCase{"FolderUnreadable", TFileCall::ReadFolder, 0},
                    TSweepFaultCase{"StatusRefused", TFileCall::StatusAt, 0}),
    [](const testing::TestParamInfo<TSweepFaultCase>& info) {
      return std::string(info.param.name);
    });

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
