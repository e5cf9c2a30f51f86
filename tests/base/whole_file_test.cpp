#include "base/whole_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "base/system_calls.h"
#include "support/fault_injection.h"
#include "support/file_contents.h"
#include "support/raised_message.h"
#include "support/temp_folder.h"

namespace {

using TStrings = std::vector<std::string>;

class WholeFileTest : public TempFolderTest {
 protected:
  // Names in the folder other than the file itself: no temporary is left.
  TStrings Leftovers() const { return NamesBesides("tarnock.ini"); }

  std::string path_ = root_ + "/tarnock.ini";
};

// A failure at each step of a replacement leaves the old file byte for byte.
struct TFailingStep {
  const char* name;
  // Installs the failure; it lasts as long as what it returns.
  std::shared_ptr<void> (*inject)();
};

class AtomicReplaceTest : public WholeFileTest, public testing::WithParamInterface<TFailingStep> {};

TEST_P(AtomicReplaceTest, FailedReplaceLeavesTheOldFileWhole) {
  const std::string before = "; keep\n[Ports]\n9100=/a,f,F,0,\n9101=/b,f,F,0,x\n[File]\nx=1\n";
  WriteWholeFile(path_, before);
  {
    const std::shared_ptr<void> failure = GetParam().inject();
    // Twice: a failed replacement leaves nothing in the way of the next.
    EXPECT_EQ(RaisedMessage([&] { ReplaceWholeFile(path_, "[Ports]\n9200=/new,f,T,1,\n", 0666); }),
              "Unable to write to " + path_);
    EXPECT_EQ(RaisedMessage([&] { ReplaceWholeFile(path_, before + "9300=x\n", 0666); }),
              "Unable to write to " + path_);
  }
  EXPECT_EQ(ReadWholeFile(path_), before);
  EXPECT_TRUE(Leftovers().empty());
}

std::shared_ptr<void> EveryCallFails(TFileCall call, int error, std::size_t shortWriteBytes = 0) {
  return std::make_shared<TFileFault>(call, TFault{1, 0, error, shortWriteBytes});
}

INSTANTIATE_TEST_SUITE_P(
    Steps, AtomicReplaceTest,
    testing::Values(TFailingStep{"Write", [] { return EveryCallFails(TFileCall::Write, ENOSPC); }},
                    // The first write is cut to 5 bytes, then the disk is full.
                    TFailingStep{"ShortWriteThenFull",
                                 [] { return EveryCallFails(TFileCall::Write, ENOSPC, 5); }},
                    TFailingStep{"Sync", [] { return EveryCallFails(TFileCall::Sync, EIO); }},
                    TFailingStep{"Close", [] { return EveryCallFails(TFileCall::Close, EIO); }},
                    TFailingStep{"Rename", [] { return EveryCallFails(TFileCall::Rename, EXDEV); }},
                    TFailingStep{"Open",
                                 []() -> std::shared_ptr<void> {
                                   // Only a file that would be created is refused.
                                   return std::make_shared<TFileCallStandIn<&TFileCalls::Open>>(
                                       [](const char* path, int flags, mode_t mode) -> int {
                                         if (flags & O_CREAT) {
                                           errno = EACCES;
                                           return -1;
                                         }
                                         return RealFileCalls().Open(path, flags, mode);
                                       });
                                 }}),
    [](const testing::TestParamInfo<TFailingStep>& info) { return std::string(info.param.name); });

// Saves killed in the middle leave "<file>.<pid>.<n>.tmp" behind; only those
// of processes that have ended go, nothing else in the folder.
TEST_F(WholeFileTest, AbandonedTemporariesOfEndedSaversAreRemoved) {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  waitpid(child, nullptr, 0);
  const std::string ended = std::to_string(child), running = std::to_string(getppid());
  const TStrings removed = {"tarnock.ini." + ended + ".1.tmp", "tarnock.ini." + ended + ".22.tmp",
                            "tarnock.ini." + std::to_string(getpid()) + ".3.tmp"};
  const TStrings kept = {"tarnock.ini." + running + ".1.tmp", "tarnock.ini.x.1.tmp",
                         "tarnock.ini." + ended + ".tmp", "other.ini." + ended + ".1.tmp",
                         "tarnock.ini." + ended + ".1.tmp.keep"};
  WriteWholeFile(path_, "[Ports]\n");
  for (const std::string& name : removed) WriteWholeFile(root_ + "/" + name, "half");
  for (const std::string& name : kept) WriteWholeFile(root_ + "/" + name, "other");
  RemoveAbandonedTemporaries(path_);
  TStrings left = Leftovers();
  std::sort(left.begin(), left.end());
  TStrings expected = kept;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(left, expected);
  EXPECT_EQ(ReadWholeFile(path_), "[Ports]\n");
}

}  // namespace
