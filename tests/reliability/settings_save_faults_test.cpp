// A save of the settings file that fails at any platform call, or that races
// another program replacing the file, never leaves a half-written file or a
// stray temporary behind, and the next save works.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "base/exceptions.h"
#include "capture/ini_file.h"
#include "capture/job_settings.h"
#include "reliability/capture_fixture.h"
#include "support/fault_injection.h"
#include "support/raised_message.h"
#include "support/temp_folder.h"

namespace {

const std::string kOriginal =
    "; kept comment\r\n[Window]\r\nTop=5\r\n[Ports]\r\n9100=/cap,yymmdd,F,0,front\r\n";

class SettingsSaveTest : public TempFolderTest {
 protected:
  void SetUp() override {
    TempFolderTest::SetUp();
    if (HasFatalFailure()) return;
    WriteWholeFile(Path(), kOriginal);
  }
  std::string Path() const { return folder_.FilePath("tarnock.ini"); }
  // Names in the folder other than the settings file itself.
  std::vector<std::string> Strays() const { return NamesBesides("tarnock.ini"); }
  void ExpectSaveFails() {
    EXPECT_EQ(RaisedMessage([&] { TIniFile(Path()).WriteNumber("Window", "Top", 42); }),
              "Unable to write to " + Path());
  }
};

struct TSaveFaultCase {
  const char* name;
  TFileCall call;
  TFault fault;
};

const TSaveFaultCase kSaveFaults[] = {
    {"NoRoomForTheTemporary", TFileCall::Open, {2, 1, ENOSPC}},
    {"FullDiskWhileWriting", TFileCall::Write, {1, 1, ENOSPC}},
    {"ShortWriteThenFullDisk", TFileCall::Write, {1, 0, ENOSPC, 10}},
    {"DeviceErrorAtSync", TFileCall::Sync, {1, 1, EIO}},
    {"DeviceErrorAtClose", TFileCall::Close, {2, 1, EIO}},
    {"RenameRefused", TFileCall::Rename, {1, 1, EACCES}},
    {"RenameAcrossDevices", TFileCall::Rename, {1, 1, EXDEV}},
    {"OldFileUnreadable", TFileCall::Read, {1, 1, EIO}},
};

class SaveFaultTest : public SettingsSaveTest,
                      public testing::WithParamInterface<TSaveFaultCase> {};

TEST_P(SaveFaultTest, FailedSaveLeavesTheOldFileWhole) {
  const TSaveFaultCase& fault = GetParam();
  {
    TFileFault injected(fault.call, fault.fault);
    ExpectSaveFails();
    EXPECT_GE(injected.Injected(), 1);
  }
  EXPECT_EQ(ReadWholeFile(Path()), kOriginal);
  EXPECT_EQ(Strays(), std::vector<std::string>{});
  TIniFile(Path()).WriteNumber("Window", "Top", 42);
  EXPECT_EQ(TIniFile(Path()).ReadNumber("Window", "Top", 0), 42);
  EXPECT_EQ(TIniFile(Path()).ReadText("Ports", "9100", ""), "/cap,yymmdd,F,0,front");
}

INSTANTIATE_TEST_SUITE_P(Faults, SaveFaultTest, testing::ValuesIn(kSaveFaults),
                         [](const auto& info) { return std::string(info.param.name); });

// The [Jobs] save sets ten keys. Whichever call of it fails, the file holds
// either the old settings or every new one, never a part.
TEST_F(SettingsSaveTest, JobsSaveIsAllOrNothing) {
  TJobSettings jobs;
  jobs.OneFilePerJob = true;
  jobs.JobIndex = true;
  jobs.IdleSeconds = 9;
  jobs.AfterJob = "true";
  int failures = 0;
  for (const TFileCall call :
       {TFileCall::Open, TFileCall::Write, TFileCall::Sync, TFileCall::Rename}) {
    for (int failing = 1; failing <= 4; ++failing) {
      WriteWholeFile(Path(), kOriginal);
      std::string message;
      {
        TFileFault fault(call, TFault{failing, 0, EIO});
        message = RaisedMessage([&] { jobs.Write(Path()); });
      }
      const std::string after = ReadWholeFile(Path());
      if (message.empty()) {
        EXPECT_EQ(TJobSettings::Read(Path()).AfterJob, "true") << int(call) << " " << failing;
      } else {
        ++failures;
        EXPECT_EQ(message, "Unable to write to " + Path());
        EXPECT_EQ(after, kOriginal) << int(call) << " from call " << failing;
      }
      EXPECT_EQ(Strays(), std::vector<std::string>{});
    }
  }
  EXPECT_GE(failures, 4);
}

// What another program does to the settings file while a save is on its way
// (after the old file was read, before the new one takes its place).
enum class TRivalAction { ReplaceByOwnFile, Delete, ReplaceByFolder };

struct TRaceCase {
  const char* name;
  TRivalAction action;
  bool saveSucceeds;
};

struct TRival {
  std::string path;
  TRivalAction action;
};

void ActAsRival(void* context) {
  const TRival& rival = *static_cast<TRival*>(context);
  switch (rival.action) {
    case TRivalAction::ReplaceByOwnFile: {
      const std::string own = rival.path + ".rival";
      WriteWholeFile(own, "[Rival]\nkey=theirs\n");
      std::rename(own.c_str(), rival.path.c_str());
      break;
    }
    case TRivalAction::Delete:
      std::remove(rival.path.c_str());
      break;
    case TRivalAction::ReplaceByFolder:
      std::remove(rival.path.c_str());
      ::mkdir(rival.path.c_str(), 0700);
      break;
  }
}

class SaveRaceTest : public SettingsSaveTest, public testing::WithParamInterface<TRaceCase> {};

TEST_P(SaveRaceTest, FileIsWholeWhateverTheOtherProgramDid) {
  TRival rival{Path(), GetParam().action};
  {
    TFileCallHook hook(TFileCall::Sync, &ActAsRival, &rival);
    if (GetParam().saveSucceeds)
      TIniFile(Path()).WriteNumber("Window", "Top", 42);
    else
      ExpectSaveFails();
    EXPECT_TRUE(hook.Ran());
  }
  EXPECT_EQ(Strays(), std::vector<std::string>{});
  if (!GetParam().saveSucceeds) {
    EXPECT_TRUE(std::filesystem::is_directory(Path()));
    return;
  }
  // The save is of the file as it was read: whole, with its other lines and
  // line ends, and the new value.
  std::string expected = kOriginal;
  expected.replace(expected.find("Top=5"), 5, "Top=42");
  EXPECT_EQ(ReadWholeFile(Path()), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rivals, SaveRaceTest,
    testing::Values(TRaceCase{"ReplacedByItsOwnFile", TRivalAction::ReplaceByOwnFile, true},
                    TRaceCase{"Deleted", TRivalAction::Delete, true},
                    TRaceCase{"ReplacedByFolder", TRivalAction::ReplaceByFolder, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
