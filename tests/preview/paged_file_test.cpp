#include "preview/paged_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "preview/hex_page.h"
#include "preview/text_page.h"
#include "support/fault_injection.h"
#include "support/file_contents.h"
#include "support/raised_message.h"
#include "support/temp_folder.h"

namespace {

using namespace std::string_literals;

class PagedFileTest : public TempFolderTest {
 protected:
  std::string Sample(const std::string& bytes) {
    const std::string path = folder_.FilePath("job.prn");
    EXPECT_TRUE(WriteWholeFile(path, bytes));
    return path;
  }
};

TEST_F(PagedFileTest, HexLinesShowOffsetsBytesAndCharacters) {
  const TPagedFile file(
      Sample("\x1b@Hello\n\x1dV\x00"
             "ABCDE\x7f\x80~ xyz"s));
  EXPECT_EQ(HexLineCount(file), 2u);
  EXPECT_EQ(
      HexLines(file, 0, 10),
      (std::vector<std::string>{
          "0000000000000000  1b 40 48 65 6c 6c 6f 0a  1d 56 00 41 42 43 44 45  |.@Hello..V.ABCDE|",
          "0000000000000010  7f 80 7e 20 78 79 7a                              |..~ xyz|"}));
  EXPECT_EQ(HexLines(file, 1, 1).size(), 1u);
  EXPECT_TRUE(HexLines(file, 2, 5).empty());
  EXPECT_TRUE(HexLines(file, UINT64_MAX, 5).empty());
  EXPECT_TRUE(HexLines(file, 0, 0).empty());
}

// A capture past 4 GiB opens at once and its last line reads from where it
// is: the file is sparse, so no 4 GiB are written.
TEST_F(PagedFileTest, ReadsTheLastLineOfAFileOverFourGibAtOnce) {
  const std::string path = folder_.FilePath("big.prn");
  const off_t size = (off_t{1} << 32) + 100;
  const int handle = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(handle, 0);
  ASSERT_EQ(ftruncate(handle, size), 0);
  ASSERT_EQ(pwrite(handle, "tail", 4, size - 4), 4);
  close(handle);

  const TPagedFile file(path);
  EXPECT_EQ(file.Size(), uint64_t(size));
  const uint64_t lines = HexLineCount(file);
  EXPECT_EQ(lines, (uint64_t{1} << 28) + 7);
  EXPECT_EQ(
      HexLines(file, lines - 1, 40),
      std::vector<std::string>{"0000000100000060  74 61 69 6c" + std::string(39, ' ') + "|tail|"});
  EXPECT_EQ(file.WindowCapacity(), 40u * 16u);
  // However much is asked for, one window of at most kMaxWindowBytes is held.
  EXPECT_EQ(file.Read(0, 64 * 1024 * 1024).size(), TPagedFile::kMaxWindowBytes);
  EXPECT_EQ(file.Read(uint64_t(size) - 2 * TPagedFile::kMaxWindowBytes, SIZE_MAX).size(),
            TPagedFile::kMaxWindowBytes);
  EXPECT_EQ(file.WindowCapacity(), TPagedFile::kMaxWindowBytes);
  EXPECT_EQ(file.Read(uint64_t(size) - 1, 16), "l");
  EXPECT_EQ(file.Read(uint64_t(size), 16), "");
  EXPECT_EQ(file.Read(UINT64_MAX - 2, 16), "");
}

// A capture still being received: its size, its line count and a window
// read short at its old end all show what came since.
TEST_F(PagedFileTest, AGrowingFileShowsItsNewSize) {
  const std::string path = Sample("abc");
  const TPagedFile file(path);
  EXPECT_EQ(file.Read(0, 100), "abc");
  EXPECT_EQ(file.Size(), 3u);
  ASSERT_TRUE(WriteWholeFile(path, "abc0123456789abcdef"));
  EXPECT_EQ(file.Size(), 19u);
  EXPECT_EQ(HexLineCount(file), 2u);
  EXPECT_EQ(file.Read(0, 100), "abc0123456789abcdef");
  EXPECT_EQ(file.Read(3, 4), "0123");
}

struct TRefusalCase {
  const char* name;
  // Puts the entry in the way at the path and answers the path to open.
  std::string (*plant)(const std::string& path);
  std::pair<int, std::string> error;  // "%s" stands for the path
};

TEST_F(PagedFileTest, RefusesWhatIsNoRegularFileWithItsMessage) {
  const TRefusalCase cases[] = {
      {"Fifo",
       [](const std::string& path) {
         mkfifo(path.c_str(), 0600);
         return path;
       },
       {5, "File access denied: %s is not a regular file"}},
      {"LinkToAFile",
       [](const std::string& path) {
         WriteWholeFile(path + ".real", "abc");
         symlink((path + ".real").c_str(), path.c_str());
         return path;
       },
       {5, "File access denied: %s is not a regular file"}},
      {"Folder",
       [](const std::string& path) {
         mkdir(path.c_str(), 0700);
         return path;
       },
       {5, "File access denied: %s is not a regular file"}},
      {"Missing", [](const std::string& path) { return path; }, {2, "File not found: %s"}},
      {"NulInName",
       [](const std::string& path) { return path + "\0x"s; },
       {3, "Invalid filename: %s"}},
  };
  for (const TRefusalCase& c : cases) {
    const std::string path = c.plant(folder_.FilePath(c.name));
    std::string message = c.error.second;
    message.replace(message.find("%s"), 2, path);
    EXPECT_EQ(RaisedInOutError([&] { TPagedFile file(path); }),
              std::make_pair(c.error.first, message))
        << c.name;
  }
}

struct TFaultCase {
  const char* name;
  TFileCall call;
  TFault fault;
  std::pair<int, std::string> raised;  // the path follows the message
};

TEST_F(PagedFileTest, PlatformFailuresRaiseTheirIoMessage) {
  const std::string path = Sample("0123456789");
  const TFaultCase cases[] = {
      {"Open", TFileCall::Open, {.error = EMFILE}, {4, "Too many open files: "}},
      {"StatusAtOpen", TFileCall::FileStatus, {.error = EIO}, {1117, "I/O error 1117: "}},
      {"Read", TFileCall::ReadAt, {.error = EIO}, {1117, "I/O error 1117: "}},
      {"Size",
       TFileCall::FileStatus,
       {.firstFailingCall = 2, .error = EIO},
       {1117, "I/O error 1117: "}},
  };
  for (const TFaultCase& c : cases) {
    const TFileFault fault(c.call, c.fault);
    EXPECT_EQ(RaisedInOutError([&] {
                const TPagedFile file(path);
                file.Read(0, 4);
                file.Size();
              }),
              std::make_pair(c.raised.first, c.raised.second + path))
        << c.name;
  }
  // A failed read leaves no window behind: the next read goes to the file.
  const TPagedFile file(path);
  {
    const TFileFault fault(TFileCall::ReadAt, TFault{.error = EIO});
    EXPECT_EQ(RaisedInOutError([&] { file.Read(0, 4); }).first, 1117);
  }
  EXPECT_EQ(file.Read(0, 4), "0123");
}

struct TEncodingCase {
  const char* name;
  std::string bytes;
  TTextEncoding encoding;
  bool cutByWindow = false;
};

TEST(TextEncodingTest, TellsUtf8FromLatin1) {
  const TEncodingCase cases[] = {
      {"Empty", "", TTextEncoding::Utf8},
      {"Ascii", "Total 12.00\r\n\x1b@", TTextEncoding::Utf8},
      {"Utf8", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x96\xa8", TTextEncoding::Utf8},
      {"Latin1", "caf\xe9", TTextEncoding::Latin1},
      {"CutByTheWindow", "caf\xc3", TTextEncoding::Utf8, true},
      {"FourByteCutByTheWindow", "x\xf0\x9f\x96", TTextEncoding::Utf8, true},
      {"CutByTheEndOfTheFile", "caf\xc3", TTextEncoding::Latin1},
      {"Latin1CutByTheWindow", "caf\xe9 au lait", TTextEncoding::Latin1, true},
      {"ContinuationAlone", "\xa9", TTextEncoding::Latin1},
      {"Overlong", "\xc0\xaf", TTextEncoding::Latin1},
      {"Surrogate", "\xed\xa0\x80", TTextEncoding::Latin1},
      {"PastTheLastCodePoint", "\xf4\x90\x80\x80", TTextEncoding::Latin1},
  };
  for (const TEncodingCase& c : cases)
    EXPECT_EQ(TextEncodingName(DetectTextEncoding(c.bytes, c.cutByWindow)),
              TextEncodingName(c.encoding))
        << c.name;
}

// Only the first 64 KiB decide; a character cut by the probe's end counts as
// whole.
TEST_F(PagedFileTest, TheFirst64KibDecideTheEncoding) {
  const std::string probe(kEncodingProbeBytes - 2, 'a');
  EXPECT_EQ(DetectTextEncoding(TPagedFile(Sample(probe + "a\xc3\xa9"))), TTextEncoding::Utf8);
  EXPECT_EQ(DetectTextEncoding(TPagedFile(Sample(probe + "aa\xe9"))), TTextEncoding::Utf8);
  EXPECT_EQ(DetectTextEncoding(TPagedFile(Sample(probe + "\xe9z"))), TTextEncoding::Latin1);
  EXPECT_EQ(DetectTextEncoding(TPagedFile(Sample("caf\xe9"))), TTextEncoding::Latin1);
}

struct TTextCase {
  const char* name;
  std::string bytes;
  uint64_t offset;
  std::size_t count;
  std::optional<TTextEncoding> given;
  std::u32string text;
  uint64_t start;
  uint64_t next;
};

TEST_F(PagedFileTest, TextWindowsDecodeAndFindTheirBounds) {
  const TTextCase cases[] = {
      {"LineEnds", "one\r\ntwo\rthree\n", 0, 100, {}, U"one\ntwo\nthree\n", 0, 15},
      {"ControlPictures", "a\tb\x1b@\x00\x7f"s, 0, 100, {}, U"a\tb\u241b@\u2400\u2421", 0, 7},
      {"Latin1", "caf\xe9\x85\n", 0, 100, {}, U"caf\u00e9\ufffd\n", 0, 6},
      {"Utf8BeyondTheBmp", "\xf0\x9f\x96\xa8!", 0, 100, {}, U"\U0001f5a8!", 0, 5},
      {"MalformedInUtf8", "a\xe9z", 0, 100, TTextEncoding::Utf8, U"a\ufffdz", 0, 3},
      {"MidCharacterMovesToTheNext", "h\xc3\xa9llo", 2, 100, {}, U"llo", 3, 6},
      {"MidLineMovesToTheLineStart", "abc\ndef\nghi", 1, 100, {}, U"def\nghi", 4, 11},
      {"AtALineStartStays", "abc\ndef", 4, 100, {}, U"def", 4, 7},
      {"InsideCrLfMovesPastIt", "abcdefgh\r\nxyz", 9, 100, {}, U"xyz", 10, 13},
      {"EndsAfterTheLastLineEnd", "abc\ndefgh", 0, 8, {}, U"abc\n", 0, 4},
      {"LeavesACutCharacterToTheNext", "abcdefg\xc3\xa9", 0, 8, {}, U"abcdefg", 0, 7},
      {"LeavesATrailingCrToTheNext", "abcdefg\r\nxy", 0, 8, {}, U"abcdefg", 0, 7},
      {"PicksUpTheCr", "abcdefg\r\nxy", 7, 8, {}, U"\nxy", 7, 11},
      {"AtLeastAWholeCharacter",
       "\xf0\x9f\x96\xa8\xf0\x9f\x96\xa8!",
       0,
       1,
       {},
       U"\U0001f5a8\U0001f5a8",
       0,
       8},
      {"PastTheEnd", "abc", 10, 100, {}, U"", 10, 10},
  };
  for (const TTextCase& c : cases) {
    const TPagedFile file(Sample(c.bytes));
    const TTextWindow window =
        c.given ? TextAt(file, *c.given, c.offset, c.count) : TextAt(file, c.offset, c.count);
    EXPECT_EQ(window.text, QString::fromUcs4(c.text.data(), qsizetype(c.text.size()))) << c.name;
    EXPECT_EQ(window.start, c.start) << c.name;
    EXPECT_EQ(window.next, c.next) << c.name;
  }
}

// Windows of any size, each started where the last one ended, put together
// give the text of the whole file: no byte is lost or doubled at a bound.
TEST_F(PagedFileTest, PagingThroughTheFileLosesNothing) {
  const TPagedFile file(
      Sample("h\xc3\xa9llo\r\nw\xc3\xb6rld\r\n\xe2\x82\xacuro\rend\x1b\n\xf0\x9f\x96\xa8"));
  const QString whole = TextAt(file, 0, 1000).text;
  for (std::size_t size = kMinTextWindowBytes; size <= 20; ++size) {
    QString joined;
    for (uint64_t offset = 0; offset < file.Size();) {
      const TTextWindow window = TextAt(file, TTextEncoding::Utf8, offset, size);
      ASSERT_EQ(window.start, offset) << size;
      ASSERT_GT(window.next, offset) << size;
      joined += window.text;
      offset = window.next;
    }
    EXPECT_EQ(joined, whole) << size;
  }
}

}  // namespace
