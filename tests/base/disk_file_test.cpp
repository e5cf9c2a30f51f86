#include "base/disk_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "base/exceptions.h"
#include "base/system_calls.h"
#include "support/fault_injection.h"
#include "support/file_contents.h"
#include "support/raised_message.h"
#include "support/temp_folder.h"

namespace {

using DiskFileTest = TempFolderTest;

TEST(InOutErrorTable, GivesTheMessages) {
  EXPECT_EQ(InOutErrorMessage(2), "File not found");
  EXPECT_EQ(InOutErrorMessage(3), "Invalid filename");
  EXPECT_EQ(InOutErrorMessage(4), "Too many open files");
  EXPECT_EQ(InOutErrorMessage(5), "File access denied");
  EXPECT_EQ(InOutErrorMessage(100), "Read beyond end of file");
  EXPECT_EQ(InOutErrorMessage(101), "Disk full");
  EXPECT_EQ(InOutErrorMessage(106), "Invalid numeric input");
  EXPECT_EQ(InOutErrorMessage(32), "I/O error 32");
  EXPECT_EQ(InOutErrorMessage(112), "I/O error 112");
}

TEST(InOutErrorTable, MapsErrnoAsTheDesignSays) {
  const std::string here = "/tmp/x";
  EXPECT_EQ(InOutErrorCode(ENOENT, here), 2);
  EXPECT_EQ(InOutErrorCode(ENOENT, "/no-such-folder-tarnock/x"), 3);
  EXPECT_EQ(InOutErrorCode(ENOENT, "bare-name"), 2);
  EXPECT_EQ(InOutErrorCode(ENOTDIR, here), 3);
  EXPECT_EQ(InOutErrorCode(EMFILE, here), 4);
  EXPECT_EQ(InOutErrorCode(ENFILE, here), 4);
  for (int error : {EACCES, EPERM, EROFS, EISDIR}) EXPECT_EQ(InOutErrorCode(error, here), 5);
  EXPECT_EQ(InOutErrorCode(ENOSPC, here), 112);
  EXPECT_EQ(InOutErrorCode(ENAMETOOLONG, here), 206);
  EXPECT_EQ(InOutErrorCode(EBUSY, here), 32);
  EXPECT_EQ(InOutErrorCode(EIO, here), 1117);
  EXPECT_EQ(InOutErrorCode(ENOTSOCK, here), 31);
}

TEST_F(DiskFileTest, CreateWritesEveryByteIncludingZeroBytes) {
  DiskFile file;
  file.Bind(root_ + "/a.txt");
  file.OpenCreate();
  const std::string bytes("ab\0cd\r\n\xff", 8);
  file.PutText(bytes);
  EXPECT_EQ(file.SizeInBytes(), 8);
  file.CloseOut();
  EXPECT_EQ(ReadWholeFile(root_ + "/a.txt"), bytes);
  EXPECT_EQ(file.State(), DiskFile::TState::Closed);
}

TEST_F(DiskFileTest, CreateTruncatesAnExistingFile) {
  WriteWholeFile(root_ + "/a.txt", "old content");
  DiskFile file;
  file.Bind(root_ + "/a.txt");
  file.OpenCreate();
  file.CloseOut();
  EXPECT_EQ(ReadWholeFile(root_ + "/a.txt"), "");
}

struct TWritePiecesCase {
  std::vector<std::size_t> texts;       // lengths handed to PutText, in order
  std::vector<std::size_t> writeSizes;  // what reaches the platform, CloseOut included
};

// Short texts gather in the buffer and leave it whole; a long text goes to
// the platform in one call once what was buffered before it has gone.
TEST_F(DiskFileTest, WritesWholeBuffersAndLongTextsInOneCall) {
  const TWritePiecesCase cases[] = {
      {{127, 2, 300}, {128, 128, 173}}, {{10, 10, 10}, {30}}, {{65536}, {65536}}, {{128}, {128}},
      {{100, 0, 5000}, {128, 4972}},
  };
  static std::vector<std::size_t> sizes;
  TFileCallStandIn<&TFileCalls::Write> recorder([](int fd, const void* data, size_t size) {
    sizes.push_back(size);
    return RealFileCalls().Write(fd, data, size);
  });
  for (const TWritePiecesCase& c : cases) {
    sizes.clear();
    std::string expected;
    DiskFile file;
    file.Bind(root_ + "/a.txt");
    file.OpenCreate();
    for (std::size_t length : c.texts) {
      const std::string text(length, static_cast<char>('a' + expected.size() % 26));
      file.PutText(text);
      expected += text;
    }
    file.CloseOut();
    EXPECT_EQ(sizes, c.writeSizes) << testing::PrintToString(c.texts);
    EXPECT_EQ(ReadWholeFile(root_ + "/a.txt"), expected);
  }
}

TEST_F(DiskFileTest, AppendKeepsContentWhateverItEndsWith) {
  const std::string old = std::string("line\r\n\x1a\x1a\0", 9);
  WriteWholeFile(root_ + "/a.txt", old);
  DiskFile file;
  file.Bind(root_ + "/a.txt");
  file.OpenAppend();
  EXPECT_EQ(file.SizeInBytes(), 9);
  file.PutText("more");
  file.CloseOut();
  EXPECT_EQ(ReadWholeFile(root_ + "/a.txt"), old + "more");
}

TEST_F(DiskFileTest, AppendOnAMissingFileIsFileNotFound) {
  DiskFile file;
  file.Bind(root_ + "/missing.txt");
  EXPECT_EQ(RaisedInOutError([&] { file.OpenAppend(); }),
            std::make_pair(2, std::string("File not found")));
  EXPECT_EQ(file.State(), DiskFile::TState::Closed);
  EXPECT_EQ(RaisedInOutError([&] { file.OpenExisting(); }).first, 2);
}

TEST_F(DiskFileTest, CreateInAMissingFolderIsInvalidFilename) {
  DiskFile file;
  file.Bind(root_ + "/missing/a.txt");
  EXPECT_EQ(RaisedInOutError([&] { file.OpenCreate(); }),
            std::make_pair(3, std::string("Invalid filename")));
  file.Bind(root_ + "/missing/deeper/a.txt");
  EXPECT_EQ(RaisedInOutError([&] { file.OpenAppend(); }).first, 3);
}

TEST_F(DiskFileTest, AFileInPlaceOfTheFolderIsInvalidFilename) {
  WriteWholeFile(root_ + "/plain", "x");
  DiskFile file;
  file.Bind(root_ + "/plain/a.txt");
  EXPECT_EQ(RaisedInOutError([&] { file.OpenCreate(); }).first, 3);
}

int gReader = -1;  // the reading end of a FIFO, while a case needs one

struct TNotAFileCase {
  const char* name;
  // Puts something in place of root/a.txt; answers the path to bind.
  std::string (*plant)(const std::string& root);
};

// Whatever sits under the name, an open never waits and never writes
// anywhere but into a regular file of that very name.
TEST_F(DiskFileTest, AnythingButARegularFileIsAccessDeniedAtOnce) {
  const TNotAFileCase cases[] = {
      {"directory",
       [](const std::string& root) {
         mkdir((root + "/a.txt").c_str(), 0777);
         return root + "/a.txt";
       }},
      {"link to a file",
       [](const std::string& root) {
         WriteWholeFile(root + "/target", "kept");
         symlink((root + "/target").c_str(), (root + "/a.txt").c_str());
         return root + "/a.txt";
       }},
      {"dangling link",
       [](const std::string& root) {
         symlink((root + "/target").c_str(), (root + "/a.txt").c_str());
         return root + "/a.txt";
       }},
      {"FIFO nobody reads",
       [](const std::string& root) {
         mkfifo((root + "/a.txt").c_str(), 0666);
         return root + "/a.txt";
       }},
      {"FIFO with a reader",
       [](const std::string& root) {
         mkfifo((root + "/a.txt").c_str(), 0666);
         gReader = open((root + "/a.txt").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
         return root + "/a.txt";
       }},
      {"device", [](const std::string&) { return std::string("/dev/full"); }},
  };
  for (const TNotAFileCase& c : cases) {
    std::filesystem::remove_all(root_);
    std::filesystem::create_directory(root_);
    DiskFile file;
    file.Bind(c.plant(root_));
    // The refusal names the entry in the way.
    const auto denied =
        std::make_pair(5, "File access denied: " + file.Path() + " is not a regular file");
    const std::string target = root_ + "/target";
    const bool targetWasThere = std::filesystem::exists(target);
    EXPECT_EQ(RaisedInOutError([&] { file.OpenCreate(); }), denied) << c.name;
    EXPECT_EQ(RaisedInOutError([&] { file.OpenAppend(); }), denied) << c.name;
    EXPECT_EQ(RaisedInOutError([&] { file.OpenExisting(); }), denied) << c.name;
    EXPECT_EQ(file.State(), DiskFile::TState::Closed) << c.name;
    EXPECT_EQ(std::filesystem::exists(target), targetWasThere) << c.name;
    if (targetWasThere) {
      EXPECT_EQ(ReadWholeFile(target), "kept") << c.name;
    }
    if (gReader >= 0) close(std::exchange(gReader, -1));
  }
}

// The platform would stop at the NUL and create a file of a shorter name.
TEST_F(DiskFileTest, ANameHoldingANulByteIsInvalidFilename) {
  DiskFile file;
  file.Bind(root_ + std::string("/a\0b.txt", 8));
  EXPECT_EQ(RaisedInOutError([&] { file.OpenCreate(); }),
            std::make_pair(3, std::string("Invalid filename")));
  EXPECT_FALSE(std::filesystem::exists(root_ + "/a"));
}

TEST_F(DiskFileTest, InjectedWriteFailureIsReportedWithItsCode) {
  TFileFault fullDisk(TFileCall::Write, {1, 0, ENOSPC});
  DiskFile file;
  file.Bind(root_ + "/a.txt");
  file.OpenCreate();
  file.PutText("abc");
  try {
    file.CloseOut();
    FAIL();
  } catch (const EInOutError& error) {
    EXPECT_STREQ(error.what(), "I/O error 112");
    EXPECT_EQ(error.ErrorCode, 112);
    EXPECT_EQ(error.SystemError, ENOSPC);
  }
}

TEST_F(DiskFileTest, InterruptedWritesAreRetriedAndShortWritesContinued) {
  static int calls;
  calls = 0;
  TFileCallStandIn<&TFileCalls::Write> interrupted(
      [](int fd, const void* data, size_t size) -> ssize_t {
        if (++calls % 2 == 1) {
          errno = EINTR;
          return -1;
        }
        return RealFileCalls().Write(fd, data, size > 10 ? 10 : size);
      });
  DiskFile file;
  file.Bind(root_ + "/a.txt");
  file.OpenCreate();
  file.PutText(std::string(50, 'k'));
  file.CloseOut();
  EXPECT_EQ(ReadWholeFile(root_ + "/a.txt"), std::string(50, 'k'));
}

TEST_F(DiskFileTest, CloseIsNeverRetried) {
  TFileFault deviceError(TFileCall::Close, {1, 0, EIO});
  DiskFile file;
  file.Bind(root_ + "/a.txt");
  file.OpenCreate();
  EXPECT_EQ(RaisedInOutError([&] { file.CloseOut(); }).first, 1117);
  EXPECT_EQ(deviceError.Calls(), 1);
  EXPECT_EQ(file.State(), DiskFile::TState::Closed);
}

TEST_F(DiskFileTest, WrongStatesHaveTheirCodes) {
  DiskFile file;
  EXPECT_EQ(RaisedInOutError([&] { file.OpenCreate(); }),
            std::make_pair(102, std::string("I/O error 102")));
  EXPECT_EQ(RaisedInOutError([&] { file.RemoveFile(); }).first, 102);
  file.Bind(root_ + "/a.txt");
  EXPECT_EQ(RaisedInOutError([&] { file.PutText("x"); }).first, 103);
  EXPECT_EQ(RaisedInOutError([&] { file.CloseOut(); }).first, 103);
  EXPECT_EQ(RaisedInOutError([&] { file.SizeInBytes(); }).first, 103);
  file.OpenCreate();
  file.CloseOut();
  file.OpenExisting();
  EXPECT_EQ(file.State(), DiskFile::TState::OpenForReadingAndWriting);
  EXPECT_EQ(RaisedInOutError([&] { file.PutText("x"); }).first, 105);
  EXPECT_EQ(file.SizeInBytes(), 0);
  file.CloseOut();
}

TEST_F(DiskFileTest, OpeningAnOpenFileClosesItFirst) {
  DiskFile file;
  file.Bind(root_ + "/a.txt");
  file.OpenCreate();
  file.PutText("kept");
  file.OpenAppend();
  file.PutText("+more");
  file.CloseOut();
  EXPECT_EQ(ReadWholeFile(root_ + "/a.txt"), "kept+more");
}

TEST_F(DiskFileTest, SizeOfAnExistingFile) {
  WriteWholeFile(root_ + "/a.txt", std::string(1000, 'z'));
  DiskFile file;
  file.Bind(root_ + "/a.txt");
  file.OpenExisting();
  EXPECT_EQ(file.SizeInBytes(), 1000);
  file.CloseOut();
  EXPECT_EQ(ReadWholeFile(root_ + "/a.txt").size(), 1000u);
}

TEST_F(DiskFileTest, RemoveDeletesTheFile) {
  WriteWholeFile(root_ + "/a.txt", "x");
  DiskFile file;
  file.Bind(root_ + "/a.txt");
  file.RemoveFile();
  EXPECT_FALSE(std::filesystem::exists(root_ + "/a.txt"));
  EXPECT_EQ(RaisedInOutError([&] { file.RemoveFile(); }).first, 2);
}

TEST_F(DiskFileTest, DestructorWritesOutWhatIsBuffered) {
  {
    DiskFile file;
    file.Bind(root_ + "/a.txt");
    file.OpenCreate();
    file.PutText("buffered");
  }
  EXPECT_EQ(ReadWholeFile(root_ + "/a.txt"), "buffered");
}

TEST_F(DiskFileTest, OverlongPathIsRefused) {
  DiskFile file;
  file.Bind(root_ + "/" + std::string(300, 'n'));
  EXPECT_EQ(RaisedInOutError([&] { file.OpenCreate(); }),
            std::make_pair(206, std::string("I/O error 206")));
}

}  // namespace
