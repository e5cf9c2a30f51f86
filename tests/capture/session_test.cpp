#include "capture/session.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <vector>

#include "base/exceptions.h"
#include "support/fault_injection.h"
#include "support/file_contents.h"
#include "support/raised_message.h"
#include "support/temp_folder.h"

namespace {

class SessionTest : public TempFolderTest {
 protected:
  std::string Root() const { return root_; }
  std::string IniPath() const { return Root() + "/tarnock.ini"; }

  // A settings file whose [Ports] 9100 holds the value, with "@" standing
  // for the temporary folder.
  void SetPortValue(std::string value) {
    if (auto at = value.find('@'); at != std::string::npos) value.replace(at, 1, Root());
    WriteWholeFile(IniPath(), "[Ports]\n9100=" + value + "\n");
  }
};

struct TPrepareCase {
  const char* value;         // "@" is the temporary folder
  const char* expectedFile;  // below the temporary folder; "" when it fails
  int16_t expectedDays;
  const char* expectedError;  // "" when it succeeds
};

class PrepareCaptureTest : public SessionTest, public testing::WithParamInterface<TPrepareCase> {};

TEST_P(PrepareCaptureTest, NamesCreatesOrRefuses) {
  const TPrepareCase& c = GetParam();
  SetPortValue(c.value);
  TClient session(IniPath());
  const std::string error = RaisedMessage([&] { session.PrepareCapture("9100"); });
  EXPECT_EQ(error, c.expectedError);
  if (*c.expectedError == '\0') {
    EXPECT_EQ(session.FileName(), Root() + c.expectedFile);
    EXPECT_EQ(session.Days, c.expectedDays);
    EXPECT_TRUE(std::filesystem::is_regular_file(session.FileName()));
  } else {
    // A refused preparation leaves nothing behind, not even a directory.
    EXPECT_FALSE(std::filesystem::exists(Root() + "/cap"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Definitions, PrepareCaptureTest,
    testing::Values(TPrepareCase{"@/cap,'job',F,30,", "/cap/job.txt", 30, ""},
                    TPrepareCase{"@/cap/,'job',F,30,", "/cap/job.txt", 30, ""},
                    TPrepareCase{"@/cap/2026/12,'job',F,0,", "/cap/2026/12/job.txt", 0, ""},
                    TPrepareCase{"@/cap,  'job' \t,F,x1E,a,b", "/cap/job.txt", 30, ""},
                    TPrepareCase{"@/cap,'job',F,70000,", "/cap/job.txt", 4464, ""},
                    TPrepareCase{"@/cap,'job',F,abc,", "", 0, "'abc' is not a valid integer value"},
                    TPrepareCase{"@/cap,'job',F,,", "", 0, "'' is not a valid integer value"},
                    TPrepareCase{"@/cap,'job',F,30", "", 0, "'' is not a valid integer value"},
                    TPrepareCase{"", "", 0, "'' is not a valid integer value"},
                    TPrepareCase{",'job',F,0,", "", 0, "Unable to create directory"}));

struct TOverwriteCase {
  const char* mark;
  const char* contentAfterPrepare;
};

class OverwriteTest : public SessionTest, public testing::WithParamInterface<TOverwriteCase> {};

TEST_P(OverwriteTest, EmptiesOrKeepsAnExistingFile) {
  std::filesystem::create_directory(Root() + "/cap");
  WriteWholeFile(Root() + "/cap/job.txt", "abc");
  SetPortValue(std::string("@/cap,'job',") + GetParam().mark + ",0,");
  TClient session(IniPath());
  session.PrepareCapture("9100");
  EXPECT_EQ(ReadWholeFile(session.FileName()), GetParam().contentAfterPrepare);
}

INSTANTIATE_TEST_SUITE_P(Marks, OverwriteTest,
                         testing::Values(TOverwriteCase{"F", "abc"}, TOverwriteCase{"T", ""},
                                         TOverwriteCase{"t", "abc"}));

TEST_F(SessionTest, SizeIsSixtyFourBitAndAnEmptyFileCanBeDeleted) {
  SetPortValue("@/cap,'job',T,0,");
  TClient session(IniPath());
  session.PrepareCapture("9100");
  EXPECT_EQ(session.CaptureSize(), 0);
  // A sparse file of exactly 4 GiB must not read as empty.
  std::filesystem::resize_file(session.FileName(), int64_t{1} << 32);
  EXPECT_EQ(session.CaptureSize(), int64_t{1} << 32);
  std::filesystem::resize_file(session.FileName(), 0);
  session.DeleteCapture();
  EXPECT_FALSE(std::filesystem::exists(session.FileName()));
}

TEST_F(SessionTest, SizeAndDeletionOfAVanishedFileFail) {
  SetPortValue("@/cap,'job',T,0,");
  TClient session(IniPath());
  session.PrepareCapture("9100");
  std::filesystem::remove(session.FileName());
  EXPECT_EQ(RaisedInOutError([&] { session.CaptureSize(); }).second, "File not found");
  EXPECT_THROW(session.DeleteCapture(), EInOutError);
}

// With one file per job a job never writes into a file that exists or that
// another session has open. Overwrite is on throughout: it must empty
// nothing.
struct TJobNameCase {
  const char* name;
  int existing;      // job.txt, job-2.txt, ... made before, holding "old"
  bool plantAtOpen;  // another program makes job.txt right before the create
  bool oneFilePerJob;
  std::vector<const char*> expected;  // one file per session prepared
};

class JobFileNameTest : public SessionTest, public testing::WithParamInterface<TJobNameCase> {};

std::string PlantedFile;

TEST_P(JobFileNameTest, TakesTheFirstFreeName) {
  const TJobNameCase& c = GetParam();
  std::filesystem::create_directory(Root() + "/cap");
  for (int i = 1; i <= c.existing; ++i)
    WriteWholeFile(Root() + "/cap/job" + (i == 1 ? "" : "-" + std::to_string(i)) + ".txt", "old");
  SetPortValue("@/cap,'job',T,0,");
  if (c.oneFilePerJob)
    WriteWholeFile(IniPath(), ReadWholeFile(IniPath()) + "[Jobs]\nOneFilePerJob=1\n");
  PlantedFile = c.plantAtOpen ? Root() + "/cap/job.txt" : "";
  // Another program takes the name at the last moment: right before the
  // first exclusive create.
  TFileCallStandIn<&TFileCalls::Open> plant([](const char* path, int flags, mode_t mode) {
    if ((flags & O_EXCL) != 0 && PlantedFile == path) {
      WriteWholeFile(PlantedFile, "planted");
      PlantedFile.clear();
    }
    return RealFileCalls().Open(path, flags, mode);
  });
  std::vector<std::unique_ptr<TClient>> sessions;
  for (const char* expected : c.expected) {
    sessions.push_back(std::make_unique<TClient>(IniPath()));
    ASSERT_EQ(RaisedMessage([&] { sessions.back()->PrepareCapture("9100"); }), "");
    EXPECT_EQ(sessions.back()->FileName(), Root() + "/cap/" + expected);
  }
  if (c.plantAtOpen) {
    EXPECT_EQ(ReadWholeFile(Root() + "/cap/job.txt"), "planted");
  }
  if (c.oneFilePerJob && c.existing > 0) {
    EXPECT_EQ(ReadWholeFile(Root() + "/cap/job.txt"), "old");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, JobFileNameTest,
    testing::Values(TJobNameCase{"FreeName", 0, false, true, {"job.txt"}},
                    TJobNameCase{"TakenName", 1, false, true, {"job-2.txt"}},
                    TJobNameCase{"ThreeTaken", 3, false, true, {"job-4.txt"}},
                    TJobNameCase{"HeldByAnOpenSession", 0, false, true, {"job.txt", "job-2.txt"}},
                    TJobNameCase{"PlantedBeforeTheCreate", 0, true, true, {"job-2.txt"}},
                    TJobNameCase{"OffSharesTheName", 1, false, false, {"job.txt", "job.txt"}}),
    [](const auto& info) { return std::string(info.param.name); });

// Every name taken, one after another: the preparation gives up with a
// message naming the range it tried, and the settings are still read (only
// the exclusive creates are refused).
TEST_F(SessionTest, OneFilePerJobGivesUpWhenEveryNameItTriesIsTaken) {
  SetPortValue("@/cap,'job',F,0,");
  WriteWholeFile(IniPath(), ReadWholeFile(IniPath()) + "[Jobs]\nOneFilePerJob=1\n");
  static int exclusiveCreates = 0;
  exclusiveCreates = 0;
  TFileCallStandIn<&TFileCalls::Open> taken([](const char* path, int flags, mode_t mode) {
    if ((flags & O_EXCL) == 0) return RealFileCalls().Open(path, flags, mode);
    ++exclusiveCreates;
    errno = EEXIST;
    return -1;
  });
  TClient session(IniPath());
  EXPECT_EQ(RaisedMessage([&] { session.PrepareCapture("9100"); }),
            "No free file name from " + Root() + "/cap/job.txt to " + Root() + "/cap/job-" +
                std::to_string(TClient::kMaxRefusedNames) + ".txt");
  EXPECT_EQ(exclusiveCreates, TClient::kMaxRefusedNames);
}

// The k-th job of one name costs one exclusive create, however many files
// of that name there are: the first finds the end of the taken run by
// probing, the others are remembered. Past 9,999 nothing changes.
TEST_F(SessionTest, OneFilePerJobTriesOneNamePerJob) {
  constexpr int kExisting = 10050, kJobs = 40;
  std::filesystem::create_directory(Root() + "/cap");
  for (int i = 1; i <= kExisting; ++i)
    WriteWholeFile(Root() + "/cap/" + NumberedName("job", i), "");
  TJobSettings options;
  options.OneFilePerJob = true;
  static int exclusiveCreates = 0;
  exclusiveCreates = 0;
  TFileCallStandIn<&TFileCalls::Open> counted([](const char* path, int flags, mode_t mode) {
    exclusiveCreates += (flags & O_EXCL) != 0 ? 1 : 0;
    return RealFileCalls().Open(path, flags, mode);
  });
  SetPortValue("@/cap,'job',F,0,");
  const TIniSnapshot settings = TIniFile(IniPath()).Load();
  TJobFileNames fileNames;
  for (int job = 1; job <= kJobs; ++job) {
    TClient session(IniPath());
    session.Job.Port = "9100";
    session.Job.Options = options;
    session.PrepareCapture(settings, TOpenFiles(), fileNames);
    ASSERT_EQ(session.FileName(), Root() + "/cap/" + NumberedName("job", kExisting + job));
  }
  EXPECT_EQ(exclusiveCreates, kJobs);
}

}  // namespace
