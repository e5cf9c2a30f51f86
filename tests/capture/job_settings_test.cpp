#include "capture/job_settings.h"

#include <gtest/gtest.h>

#include <string>

#include "capture/ini_file.h"
#include "capture/port_definition.h"
#include "support/fault_injection.h"
#include "support/file_contents.h"
#include "support/temp_folder.h"

namespace {

constexpr int32_t kMaxTimer = TJobSettings::kMaxTimerSeconds;

class JobSettingsTest : public TempFolderTest {
 protected:
  std::string path_ = root_ + "/tarnock.ini";
};

// What the [Jobs] section spells, and what is read from it: a number out of
// range is read as its nearest bound, so no time limit overflows on its way
// to a timer in milliseconds.
struct TJobsReadCase {
  const char* name;
  std::string jobs;
  int64_t maxJobBytes;
  int32_t idleSeconds;
  int afterJobParallel;
  int afterJobSeconds;
};

class JobsReadTest : public JobSettingsTest, public testing::WithParamInterface<TJobsReadCase> {};

TEST_P(JobsReadTest, ReadsEveryLimitWithinItsBounds) {
  WriteWholeFile(path_, "[Jobs]\n" + GetParam().jobs);
  const TJobSettings jobs = TJobSettings::Read(path_);
  EXPECT_EQ(jobs.MaxJobBytes, GetParam().maxJobBytes);
  EXPECT_EQ(jobs.IdleSeconds, GetParam().idleSeconds);
  EXPECT_EQ(jobs.AfterJobParallel, GetParam().afterJobParallel);
  EXPECT_EQ(jobs.AfterJobSeconds, GetParam().afterJobSeconds);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JobsReadTest,
    testing::Values(
        TJobsReadCase{"MillisecondsWouldWrapAround", "AfterJobSeconds=4294968\n", 0, 0, 4,
                      kMaxTimer},
        TJobsReadCase{"MillisecondsWouldOverflow", "AfterJobSeconds=2147484\n", 0, 0, 4, kMaxTimer},
        TJobsReadCase{"LargestNumbers",
                      "MaxJobBytes=9223372036854775807\nIdleSeconds=9223372036854775807\n"
                      "AfterJobSeconds=2147483647\nAfterJobParallel=2147483647\n",
                      INT64_MAX, kMaxTimer, 2147483647, kMaxTimer},
        TJobsReadCase{"BelowOne", "AfterJobSeconds=-5\nAfterJobParallel=0\nIdleSeconds=-1\n", 0, 0,
                      1, 1},
        TJobsReadCase{"NoNumbers",
                      "MaxJobBytes=1e3\nIdleSeconds=9223372036854775808\nAfterJobSeconds=x\n", 0, 0,
                      4, 600}),
    [](const testing::TestParamInfo<TJobsReadCase>& info) { return std::string(info.param.name); });

// A connection needs its port's definition and every [Jobs] key: one open
// of the settings file gives them all.
TEST_F(JobSettingsTest, PortAndJobsComeFromOneOpen) {
  WriteWholeFile(path_, "[Ports]\n9100=/cap,yymmdd,F,0,\n[Jobs]\nJobIndex=1\nIdleSeconds=7\n");
  TFileFault opens(TFileCall::Open, TFault{1, 1, 0});
  const TIniSnapshot settings = TIniFile(path_).Load();
  const TJobSettings jobs = TJobSettings::Read(settings);
  const std::string port = settings.ReadText(kPortsSection, "9100", "");
  EXPECT_EQ(opens.Calls(), 1);
  EXPECT_TRUE(jobs.JobIndex);
  EXPECT_EQ(jobs.IdleSeconds, 7);
  EXPECT_EQ(port, "/cap,yymmdd,F,0,");
}

// Which value a port's job runs with: its own section's, else All ports',
// else the default. A key the port's section holds counts even when empty.
struct TPortPrecedenceCase {
  const char* name;
  std::string file;
  std::string allowedSenders;
  int64_t maxJobBytes;
  bool notify;
  std::string replies;
};

class PortPrecedenceTest : public JobSettingsTest,
                           public testing::WithParamInterface<TPortPrecedenceCase> {};

TEST_P(PortPrecedenceTest, PortSectionThenJobsThenDefault) {
  WriteWholeFile(path_, GetParam().file);
  const TJobSettings jobs = TJobSettings::Read(TIniFile(path_).Load(), "9100");
  EXPECT_EQ(jobs.AllowedSenders, GetParam().allowedSenders);
  EXPECT_EQ(jobs.MaxJobBytes, GetParam().maxJobBytes);
  EXPECT_EQ(jobs.Notify, GetParam().notify);
  EXPECT_EQ(jobs.Replies, GetParam().replies);
}

const std::string kAllPorts = "[Jobs]\nAllowedSenders=10.0.0.0/8\nMaxJobBytes=100\nNotify=1\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, PortPrecedenceTest,
    testing::Values(
        TPortPrecedenceCase{"Defaults", "", "", 0, false, ""},
        TPortPrecedenceCase{"AllPorts", kAllPorts, "10.0.0.0/8", 100, true, ""},
        TPortPrecedenceCase{"PortWins",
                            kAllPorts + "[port 9100]\nmaxjobbytes=5\nNotify=0\nReplies= zpl \n",
                            "10.0.0.0/8", 5, false, "zpl"},
        TPortPrecedenceCase{"EmptyPortValueIsOwn", kAllPorts + "[Port 9100]\nAllowedSenders=\n", "",
                            100, true, ""},
        TPortPrecedenceCase{"OtherPortsSection", kAllPorts + "[Port 9101]\nMaxJobBytes=5\n",
                            "10.0.0.0/8", 100, true, ""},
        TPortPrecedenceCase{"PortKeysNeverFromJobs", "[Jobs]\nReplies=escpos\n", "", 0, false, ""}),
    [](const testing::TestParamInfo<TPortPrecedenceCase>& info) {
      return std::string(info.param.name);
    });

// The dialog writes a port's own values and nothing it does not know of
// goes: a key a later option reads stays in the section.
TEST_F(JobSettingsTest, WritePortKeepsUnknownKeysAndDropsFollowedOnes) {
  WriteWholeFile(path_, "[Port 9100]\nNotify=1\nProtocol=raw\n[Jobs]\nMaxJobBytes=100\n");
  TJobSettings jobs = TJobSettings::Read(TIniFile(path_).Load(), "9100");
  jobs.MaxJobBytes = 7;
  jobs.Replies = "pjl";
  jobs.WritePort(path_, "9100", {"MaxJobBytes"});
  const TIniSnapshot settings = TIniFile(path_).Load();
  EXPECT_EQ(PortOwnKeys(settings, "9100"), std::vector<std::string>{"MaxJobBytes"});
  EXPECT_EQ(settings.ReadText("Port 9100", "Protocol", ""), "raw");
  EXPECT_EQ(TJobSettings::Read(settings, "9100").Replies, "pjl");
  EXPECT_EQ(TJobSettings::Read(settings).MaxJobBytes, 100);

  TJobSettings().WritePort(path_, "9100", {});
  EXPECT_EQ(ReadWholeFile(path_), "[Port 9100]\nProtocol=raw\n[Jobs]\nMaxJobBytes=100\n");
}

}  // namespace
