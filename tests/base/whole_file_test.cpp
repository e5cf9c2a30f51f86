#include "base/whole_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "base/system_calls.h"
#include "support/fault_injection.h"

namespace {

using TStrings = std::vector<std::string>;

class WholeFileTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tarnock-whole-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    path_ = root_ + "/tarnock.ini";
  }
  void TearDown() override { std::filesystem::remove_all(root_); }

  void Store(const std::string& bytes) { std::ofstream(path_, std::ios::binary) << bytes; }
  std::string Stored() {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }
  // Names in the folder other than the file itself: no temporary is left.
  TStrings Leftovers() {
    TStrings names;
    for (const auto& entry : std::filesystem::directory_iterator(root_)) {
      if (entry.path().filename() != "tarnock.ini") names.push_back(entry.path().filename());
    }
    return names;
  }

  std::string root_;
  std::string path_;
};

template <typename Action>
std::string FailureOf(Action action) {
  try {
    action();
  } catch (const Exception& error) {
    return error.what();
  }
  return "no failure";
}

// A failure at each step of a replacement leaves the old file byte for byte.
struct TFailingStep {
  const char* name;
  // Installs the failure; it lasts as long as what it returns.
  std::shared_ptr<void> (*inject)();
};

class AtomicReplaceTest : public WholeFileTest, public testing::WithParamInterface<TFailingStep> {};

TEST_P(AtomicReplaceTest, FailedReplaceLeavesTheOldFileWhole) {
  const std::string before = "; keep\n[Ports]\n9100=/a,f,F,0,\n9101=/b,f,F,0,x\n[File]\nx=1\n";
  Store(before);
  {
    const std::shared_ptr<void> failure = GetParam().inject();
    // Twice: a failed replacement leaves nothing in the way of the next.
    EXPECT_EQ(FailureOf([&] { ReplaceWholeFile(path_, "[Ports]\n9200=/new,f,T,1,\n", 0666); }),
              "Unable to write to " + path_);
    EXPECT_EQ(FailureOf([&] { ReplaceWholeFile(path_, before + "9300=x\n", 0666); }),
              "Unable to write to " + path_);
  }
  EXPECT_EQ(Stored(), before);
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
  Store("[Ports]\n");
  for (const std::string& name : removed) std::ofstream(root_ + "/" + name) << "half";
  for (const std::string& name : kept) std::ofstream(root_ + "/" + name) << "other";
  RemoveAbandonedTemporaries(path_);
  TStrings left = Leftovers();
  std::sort(left.begin(), left.end());
  TStrings expected = kept;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(left, expected);
  EXPECT_EQ(Stored(), "[Ports]\n");
}

}  // namespace
