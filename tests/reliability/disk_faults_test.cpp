// Faults of the disk while a connection is being captured: every case checks
// the exact log line, that what was stored before the fault is still there,
// and that the next chunk and the next connection are stored again.
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "reliability/capture_fixture.h"
#include "support/fault_injection.h"
#include "support/wait.h"

namespace {

struct TDiskFaultCase {
  const char* name;
  TFileCall call;
  TFault fault;
  const char* line;  // the message log line of the failing chunk; "" for none
  std::size_t storedOfFailingChunk;
};

// The failing chunk is 1000 bytes, handed to the platform in one write; a
// fault in its middle is a write cut short followed by the failure.
const TDiskFaultCase kDiskFaults[] = {
    {"FullDiskAtFirstWrite", TFileCall::Write, {1, 1, ENOSPC}, "ERROR: I/O error 112", 0},
    {"FullDiskMidChunk", TFileCall::Write, {1, 0, ENOSPC, 256}, "ERROR: I/O error 112", 256},
    {"QuotaExceeded", TFileCall::Write, {1, 1, EDQUOT}, "ERROR: I/O error 112", 0},
    {"DeviceErrorMidChunk", TFileCall::Write, {1, 0, EIO, 128}, "ERROR: I/O error 1117", 128},
    {"FileTooLarge", TFileCall::Write, {1, 1, EFBIG}, "ERROR: I/O error 223", 0},
    // A network file system may report a full disk only when the file is
    // closed, after every byte has been handed over.
    {"FullDiskAtClose", TFileCall::Close, {1, 1, ENOSPC}, "ERROR: I/O error 112", 1000},
    {"OutOfDescriptors", TFileCall::Open, {1, 1, EMFILE}, "ERROR: Too many open files", 0},
    {"FolderTurnedReadOnly", TFileCall::Open, {1, 1, EROFS}, "ERROR: File access denied", 0},
    {"AccessWithdrawn", TFileCall::Open, {1, 1, EACCES}, "ERROR: File access denied", 0},
    {"ShortWriteThenFullDisk", TFileCall::Write, {1, 0, ENOSPC, 10}, "ERROR: I/O error 112", 10},
    {"ShortWrites", TFileCall::Write, {1, 0, 0, 5}, "", 1000},
};

int DescriptorsOpenOn(const std::string& path) {
  const std::filesystem::path target = std::filesystem::absolute(path);
  int count = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error))
    if (std::filesystem::read_symlink(entry.path(), error) == target) ++count;
  return count;
}

class DiskFaultTest : public CaptureFixture, public testing::WithParamInterface<TDiskFaultCase> {};

TEST_P(DiskFaultTest, KeepsWhatWasStoredAndStoresTheNextChunk) {
  const TDiskFaultCase& fault = GetParam();
  Start();
  const int peer = Connect();
  ASSERT_GE(peer, 0);
  const std::string before = Pattern(500, 1), failing = Pattern(1000, 2), after = Pattern(700, 3);
  SendStored(peer, before);
  {
    TFileFault injected(fault.call, fault.fault);
    if (*fault.line == '\0') {
      SendStored(peer, failing);
    } else {
      SendFailing(peer, failing);
      EXPECT_EQ(window_.MessageLines.back(), fault.line);
      EXPECT_EQ(DescriptorsOpenOn(CapturePath()), 0) << "a failed chunk left its file open";
    }
    EXPECT_GE(injected.Injected(), 1);
  }
  const std::size_t linesBeforeClose = window_.MessageLines.size();
  SendStored(peer, after);
  Finish(peer);
  const std::string expected = before + failing.substr(0, fault.storedOfFailingChunk) + after;
  EXPECT_EQ(ReadWholeFile(CapturePath()), expected);
  ExpectCloseReport(LinesFrom(linesBeforeClose), expected.size(), CapturePath());
  EXPECT_EQ(window_.Caption(), "Tarnock - Listening");

  // The next connection is captured as usual.
  ExpectNextJobCaptured(expected, "next job");
}

INSTANTIATE_TEST_SUITE_P(Faults, DiskFaultTest, testing::ValuesIn(kDiskFaults),
                         [](const auto& info) { return std::string(info.param.name); });

// The capture file is for a while a link to a device: the chunk is refused
// rather than written through the link, and the real file goes on.
TEST_F(CaptureFixture, ALinkPlantedMidConnectionFailsTheChunkAndTheRealFileGoesOn) {
  Start();
  const int peer = Connect();
  ASSERT_GE(peer, 0);
  SendStored(peer, "stored before;");
  const std::string kept = CapturePath() + ".kept";
  ASSERT_EQ(std::rename(CapturePath().c_str(), kept.c_str()), 0);
  ASSERT_EQ(::symlink("/dev/full", CapturePath().c_str()), 0);
  SendFailing(peer, Pattern(300));
  EXPECT_EQ(window_.MessageLines.back(),
            "ERROR: File access denied: " + CapturePath() + " is not a regular file");
  ASSERT_EQ(::unlink(CapturePath().c_str()), 0);
  ASSERT_EQ(std::rename(kept.c_str(), CapturePath().c_str()), 0);
  const std::size_t lines = window_.MessageLines.size();
  SendStored(peer, "stored after");
  Finish(peer);
  EXPECT_EQ(ReadWholeFile(CapturePath()), "stored before;stored after");
  ExpectCloseReport(LinesFrom(lines), 26, CapturePath());
}

// A small tmpfs filled up for real; needs the right to mount.
TEST_F(CaptureFixture, FullFileSystemFailsTheChunkUntilThereIsRoomAgain) {
  const std::string mountPoint = CaptureFolder();
  std::filesystem::create_directory(mountPoint);
  if (::mount("tarnock-full", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here";
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{mountPoint};
  Start();
  const int peer = Connect();
  ASSERT_GE(peer, 0);
  // The capture fills its first page exactly, so the next chunk needs room
  // that the filler has taken.
  const std::string before = Pattern(4096, 7);
  SendStored(peer, before);
  const std::string filler = mountPoint + "/filler";
  {
    std::FILE* file = std::fopen(filler.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    const std::string block(4096, 'f');
    for (int i = 0; i < 64 && std::fwrite(block.data(), 1, block.size(), file) == block.size();
         ++i) {
    }
    std::fclose(file);
  }
  SendFailing(peer, Pattern(1000));
  EXPECT_EQ(window_.MessageLines.back(), "ERROR: I/O error 112");
  ASSERT_EQ(::unlink(filler.c_str()), 0);
  const std::size_t lines = window_.MessageLines.size();
  SendStored(peer, "stored after");
  Finish(peer);
  const std::string content = ReadWholeFile(CapturePath());
  EXPECT_EQ(content, before + "stored after");
  ExpectCloseReport(LinesFrom(lines), content.size(), CapturePath());
}

struct TFolderFaultCase {
  const char* name;
  bool replaceByFile;
};

class FolderFaultTest : public CaptureFixture,
                        public testing::WithParamInterface<TFolderFaultCase> {};

// The folder goes away mid-connection (moved by another program, or moved and
// a file put in its place) and comes back.
TEST_P(FolderFaultTest, ChunkFailsWhileTheFolderIsGoneAndTheNextOneIsStored) {
  Start();
  const int peer = Connect();
  ASSERT_GE(peer, 0);
  SendStored(peer, "before;");
  const std::string moved = Root() + "/moved";
  ASSERT_EQ(std::rename(CaptureFolder().c_str(), moved.c_str()), 0);
  if (GetParam().replaceByFile) WriteWholeFile(CaptureFolder(), "not a folder");
  SendFailing(peer, "lost while the folder is gone");
  EXPECT_EQ(window_.MessageLines.back(), "ERROR: Invalid filename");
  if (GetParam().replaceByFile) {
    ASSERT_EQ(::unlink(CaptureFolder().c_str()), 0);
  }
  ASSERT_EQ(std::rename(moved.c_str(), CaptureFolder().c_str()), 0);
  const std::size_t lines = window_.MessageLines.size();
  SendStored(peer, "after");
  Finish(peer);
  EXPECT_EQ(ReadWholeFile(CapturePath()), "before;after");
  ExpectCloseReport(LinesFrom(lines), 12, CapturePath());
}

INSTANTIATE_TEST_SUITE_P(Folders, FolderFaultTest,
                         testing::Values(TFolderFaultCase{"Moved", false},
                                         TFolderFaultCase{"ReplacedByFile", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The folder stays gone until the connection ends: the close report fails,
// the session still goes, and the next connection makes the folder anew.
TEST_F(CaptureFixture, FolderGoneAtCloseIsReportedAndTheNextConnectionRecreatesIt) {
  Start();
  const int peer = Connect();
  ASSERT_GE(peer, 0);
  SendStored(peer, "kept in the moved folder");
  const std::string moved = Root() + "/moved";
  ASSERT_EQ(std::rename(CaptureFolder().c_str(), moved.c_str()), 0);
  const std::size_t lines = window_.MessageLines.size();
  Finish(peer);
  // The last, empty chunk before the close fails to open the file, then the
  // size of the close report; the disconnection itself goes as usual.
  const std::vector<std::string> report = LinesFrom(lines);
  ASSERT_EQ(report.size(), 3u) << testing::PrintToString(report);
  EXPECT_EQ(report[0], "ERROR: Invalid filename");
  EXPECT_TRUE(HasPrefixThen(report[1], "ERROR: Invalid filename")) << report[1];
  EXPECT_TRUE(HasPrefixThen(report[2], "127.0.0.1 disconnected.")) << report[2];
  EXPECT_EQ(monitor_->SessionCount(), 0);
  EXPECT_EQ(ReadWholeFile(moved + "/job.txt"), "kept in the moved folder");

  ExpectNextJobCaptured("", "new");
}

}  // namespace
