#include "base/system_calls.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "support/fault_injection.h"
#include "support/file_contents.h"
#include "support/temp_folder.h"

namespace {

class SystemCallsTest : public TempFolderTest {
 protected:
  void SetUp() override {
    TempFolderTest::SetUp();
    if (HasFatalFailure()) return;
    WriteWholeFile(path_, "content");
  }

  int OpenForWriting() { return ::open(path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC); }

  std::string path_ = root_ + "/a.txt";
};

TFault InterruptEveryCall() {
  TFault fault;
  fault.interruptEveryCall = true;
  return fault;
}

TEST_F(SystemCallsTest, InterruptedOpenReadAndSyncAreRetried) {
  TFileFault opens(TFileCall::Open, InterruptEveryCall());
  TFileFault reads(TFileCall::Read, InterruptEveryCall());
  TFileFault syncs(TFileCall::Sync, InterruptEveryCall());
  const int handle = OpenRetrying(path_.c_str(), O_RDWR | O_CLOEXEC, 0);
  ASSERT_GE(handle, 0);
  char bytes[16] = {};
  EXPECT_EQ(ReadRetrying(handle, bytes, sizeof bytes), 7);
  EXPECT_EQ(std::string(bytes), "content");
  EXPECT_EQ(SyncRetrying(handle), 0);
  ::close(handle);
  for (const TFileFault* fault : {&opens, &reads, &syncs}) {
    EXPECT_EQ(fault->Calls(), 2);
    EXPECT_EQ(fault->Injected(), 1);
  }
}

TEST_F(SystemCallsTest, FailuresOtherThanInterruptionAreReportedAtOnce) {
  TFileFault refusedOpen(TFileCall::Open, {1, 1, EACCES});
  errno = 0;
  EXPECT_EQ(OpenRetrying(path_.c_str(), O_RDONLY | O_CLOEXEC, 0), -1);
  EXPECT_EQ(errno, EACCES);
  TFileFault failedSync(TFileCall::Sync, {1, 1, EIO});
  const int handle = OpenForWriting();
  EXPECT_EQ(SyncRetrying(handle), -1);
  EXPECT_EQ(errno, EIO);
  ::close(handle);
  EXPECT_EQ(refusedOpen.Calls() + failedSync.Calls(), 2);
}

TEST_F(SystemCallsTest, WriteAllContinuesShortAndInterruptedWrites) {
  const int handle = OpenForWriting();
  {
    TFileFault shortWrites(TFileCall::Write, {1, 0, 0, 3});
    EXPECT_EQ(WriteAll(handle, "0123456789", 10), 0);
    EXPECT_EQ(shortWrites.Calls(), 4);
  }
  {
    TFileFault interrupted(TFileCall::Write, InterruptEveryCall());
    EXPECT_EQ(WriteAll(handle, "abc", 3), 0);
    EXPECT_EQ(interrupted.Calls(), 2);
  }
  ::close(handle);
  EXPECT_EQ(ReadWholeFile(path_), "0123456789abc");
}

TEST_F(SystemCallsTest, WriteAllReportsAFailureAndAWriteThatTakesNothing) {
  const int handle = OpenForWriting();
  {
    TFileFault fullDisk(TFileCall::Write, {1, 0, ENOSPC, 4});
    EXPECT_EQ(WriteAll(handle, "0123456789", 10), -1);
    EXPECT_EQ(errno, ENOSPC);
  }
  {
    TFileCallStandIn<&TFileCalls::Write> takesNothing(
        [](int, const void*, size_t) -> ssize_t { return 0; });
    errno = 0;
    EXPECT_EQ(WriteAll(handle, "x", 1), -1);
    EXPECT_EQ(errno, ENOSPC);
  }
  ::close(handle);
  EXPECT_EQ(ReadWholeFile(path_), "0123");
}

struct TCloseCase {
  int error;
  int result;
};

// Close is called once whatever it answers; only an interruption counts as
// closed among its failures.
TEST_F(SystemCallsTest, CloseIsCalledOnceAndAnInterruptionCountsAsClosed) {
  for (const TCloseCase c : {TCloseCase{0, 0}, TCloseCase{EINTR, 0}, TCloseCase{EIO, -1}}) {
    const int handle = OpenForWriting();
    TFileFault closes(TFileCall::Close, {1, 1, c.error});
    EXPECT_EQ(CloseOnce(handle), c.result) << c.error;
    if (c.result != 0) {
      EXPECT_EQ(errno, c.error);
    }
    EXPECT_EQ(closes.Calls(), 1) << c.error;
    EXPECT_EQ(fcntl(handle, F_GETFD), -1) << "the handle is released";
  }
}

}  // namespace
