#include "capture/ini_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "base/system_calls.h"
#include "support/environment_override.h"
#include "support/fault_injection.h"
#include "support/file_contents.h"
#include "support/raised_message.h"
#include "support/temp_folder.h"

namespace {

using TStrings = std::vector<std::string>;

class IniFileTest : public TempFolderTest {
 protected:
  // Names in the folder other than the settings file: no temporary is left.
  TStrings Leftovers() const { return NamesBesides("tarnock.ini"); }
  TIniFile Ini() { return TIniFile(path_); }

  std::string path_ = root_ + "/tarnock.ini";
};

TEST_F(IniFileTest, MissingFileGivesEveryDefault) {
  TIniFile ini = Ini();
  EXPECT_EQ(ini.ReadText("Ports", "9100", "none"), "none");
  EXPECT_EQ(ini.ReadNumber("Window", "Top", 10), 10);
  EXPECT_TRUE(ini.ReadFlag("File", "DeleteIfEmpty", true));
  TStrings keys{"stale"};
  ini.ListKeys("Ports", keys);
  EXPECT_TRUE(keys.empty());
  TStrings entries;
  ini.ListEntries("Ports", entries);
  EXPECT_TRUE(entries.empty());
  EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(IniFileTest, CreationTouchesNoFile) {
  TIniFile ini(root_ + "/missing/x.ini");
  EXPECT_EQ(ini.FileName(), root_ + "/missing/x.ini");
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(IniFileTest, SectionsAndKeysMatchWithoutRegardToCase) {
  WriteWholeFile(path_, "[ports]\nKEY=Value\n[Window]\ntop=5\n");
  TIniFile ini = Ini();
  EXPECT_EQ(ini.ReadText("PORTS", "key", ""), "Value");
  EXPECT_EQ(ini.ReadNumber("WINDOW", "Top", 10), 5);
  EXPECT_EQ(ini.ReadText("Window", "KEY", "d"), "d");
}

TEST_F(IniFileTest, BlanksAroundNamesAndValuesAreTrimmedAndQuotesKept) {
  WriteWholeFile(path_, "  [ Ports ]  \n\t 9100 \t=  /cap,f,F,0,  x  \t\nq=\"quoted\"\n");
  TIniFile ini = Ini();
  EXPECT_EQ(ini.ReadText("Ports", "9100", ""), "/cap,f,F,0,  x");
  EXPECT_EQ(ini.ReadText("Ports", " 9100 ", ""), "/cap,f,F,0,  x");
  EXPECT_EQ(ini.ReadText("Ports", "q", ""), "\"quoted\"");
}

TEST_F(IniFileTest, KeysAreListedInFileOrderWithDuplicates) {
  WriteWholeFile(path_,
                 "[Ports]\n9102=c\n9100=a\n; comment\n9101=b\n9100=again\nnot a key\n=novalue\n"
                 "[Other]\nx=1\n");
  TStrings keys;
  Ini().ListKeys("Ports", keys);
  EXPECT_EQ(keys, (TStrings{"9102", "9100", "9101", "9100"}));
}

TEST_F(IniFileTest, FirstOfDuplicateKeysIsRead) {
  WriteWholeFile(path_, "[Ports]\n9100=first\n9100=second\n");
  EXPECT_EQ(Ini().ReadText("Ports", "9100", ""), "first");
}

struct TListEntriesCase {
  const char* name;
  std::string file;
  TStrings given;
  TStrings expected;
};

class ListEntriesTest : public IniFileTest, public testing::WithParamInterface<TListEntriesCase> {};

// Each key with a value replaces the list line of its key (compared without
// regard to case) or is appended; a key with an empty value removes that
// line; every other line stays.
TEST_P(ListEntriesTest, UpdatesTheGivenList) {
  WriteWholeFile(path_, GetParam().file);
  TStrings entries = GetParam().given;
  Ini().ListEntries("Ports", entries);
  EXPECT_EQ(entries, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ListEntriesTest,
    testing::Values(
        TListEntriesCase{"LeavesOutEmptyValuesAndMergesDuplicates",
                         "[Ports]\n9100=/a,f,F,0,\n9101=\n9100=/b,f,F,0,\n9102=/c,f,T,1,x\n",
                         {},
                         {"9100=/a,f,F,0,", "9102=/c,f,T,1,x"}},
        TListEntriesCase{"ReplacesAndRemovesLinesOfTheGivenList",
                         "[Ports]\nB=new\nc=\nd=4\n",
                         {"a=1", "b=old", "C=3", "x"},
                         {"a=1", "B=new", "x", "d=4"}},
        TListEntriesCase{"SplitsAtTheFirstEquals",
                         "[Ports]\n9100=/A=B,yymmdd,T,5,\n",
                         {},
                         {"9100=/A=B,yymmdd,T,5,"}},
        TListEntriesCase{"LinesWithoutEqualsNameNoKey",
                         "[Ports]\nx=5\ny=\n",
                         {"x", "y", "a=1"},
                         {"x", "y", "a=1", "x=5"}}),
    [](const testing::TestParamInfo<TListEntriesCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(IniFileTest, EveryKeyIsListedWholeBeyondSixteenKibibytes) {
  std::string file = "[Ports]\n";
  TStrings expected;
  for (int i = 0; i < 3000; ++i) {
    const std::string key = std::to_string(10000 + i) + std::string(20, 'k');
    file += key + "=v\n";
    expected.push_back(key);
  }
  WriteWholeFile(path_, file);
  TStrings keys;
  Ini().ListKeys("Ports", keys);
  EXPECT_EQ(keys, expected);
}

TEST_F(IniFileTest, LongValueIsCutTo2047Bytes) {
  WriteWholeFile(path_, "[S]\nk=" + std::string(3000, 'v') + "\n");
  TIniFile ini = Ini();
  EXPECT_EQ(ini.ReadText("S", "k", ""), std::string(2047, 'v'));
  TStrings entries;
  ini.ListEntries("S", entries);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0], "k=" + std::string(2047, 'v'));
  EXPECT_EQ(ini.ReadText("S", "missing", std::string(3000, 'd')), std::string(2047, 'd'));
}

TEST_F(IniFileTest, CarriageReturnLineEndsAreRead) {
  WriteWholeFile(path_, "[Window]\r\nTop=32\r\nLeft=0x20\r\n\r\n[File]\r\nDeleteIfEmpty=0\r\n");
  TIniFile ini = Ini();
  EXPECT_EQ(ini.ReadNumber("Window", "Top", 10), 32);
  EXPECT_EQ(ini.ReadNumber("Window", "Left", 10), 32);
  EXPECT_FALSE(ini.ReadFlag("File", "DeleteIfEmpty", true));
  TStrings keys;
  ini.ListKeys("Window", keys);
  EXPECT_EQ(keys, (TStrings{"Top", "Left"}));
}

TEST_F(IniFileTest, CarriageReturnFileKeepsItsLineEndsOnWrite) {
  WriteWholeFile(path_, "[Window]\r\nTop=1\r\n");
  TIniFile ini = Ini();
  ini.WriteNumber("Window", "Left", 7);
  ini.WriteFlag("File", "DeleteIfEmpty", false);
  EXPECT_EQ(ReadWholeFile(path_), "[Window]\r\nTop=1\r\nLeft=7\r\n[File]\r\nDeleteIfEmpty=0\r\n");
}

struct TNumberCase {
  std::string text;
  int32_t value;
};
class ReadNumberTest : public IniFileTest, public testing::WithParamInterface<TNumberCase> {};

TEST_P(ReadNumberTest, ReadsTheIntegerSyntaxWithTheDefault) {
  WriteWholeFile(path_, "[Window]\nTop=" + GetParam().text + "\n");
  EXPECT_EQ(Ini().ReadNumber("Window", "Top", 10), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadNumberTest,
    testing::Values(TNumberCase{"0x20", 32}, TNumberCase{"$20", 32}, TNumberCase{"x20", 32},
                    TNumberCase{"32", 32}, TNumberCase{"-5", -5}, TNumberCase{"12px", 10},
                    TNumberCase{"2147483648", 10}, TNumberCase{"0xFFFFFFFF", -1},
                    TNumberCase{"-$5", 10}, TNumberCase{"", 10}, TNumberCase{"0x", 10},
                    TNumberCase{"0X1f", 31}, TNumberCase{"+7", 7}, TNumberCase{"- 7", 10}));

struct TFlagCase {
  std::string text;
  bool defaultValue;
  bool value;
};
class ReadFlagTest : public IniFileTest, public testing::WithParamInterface<TFlagCase> {};

TEST_P(ReadFlagTest, IsAnIntegerNotZero) {
  WriteWholeFile(path_, "[File]\nDeleteIfEmpty=" + GetParam().text + "\n");
  EXPECT_EQ(Ini().ReadFlag("File", "DeleteIfEmpty", GetParam().defaultValue), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadFlagTest,
                         testing::Values(TFlagCase{"2", true, true}, TFlagCase{"0", true, false},
                                         TFlagCase{"no", true, true}, TFlagCase{"", true, true},
                                         TFlagCase{"yes", false, false},
                                         TFlagCase{"true", false, false},
                                         TFlagCase{"1", false, true}, TFlagCase{"0x1", false, true},
                                         TFlagCase{"0x0", true, false},
                                         TFlagCase{"-1", false, true}));

TEST_F(IniFileTest, WritesCreateFileSectionAndKey) {
  TIniFile ini = Ini();
  ini.WriteNumber("Window", "Top", -5);
  ini.WriteNumber("Window", "Left", 10);
  ini.WriteNumber("Window", "Height", 151);
  ini.WriteFlag("File", "DeleteIfEmpty", true);
  EXPECT_EQ(ReadWholeFile(path_),
            "[Window]\nTop=-5\nLeft=10\nHeight=151\n[File]\nDeleteIfEmpty=1\n");
  EXPECT_EQ(ini.ReadNumber("Window", "Top", 10), -5);
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(IniFileTest, WriteKeepsEveryOtherLineAsItWas) {
  const std::string before =
      "; Tarnock settings\n\n[Window]\nTop = 3\n  # note\n\nLeft=4\n\n[Ports]\n9100=/a,f,F,0,\n";
  WriteWholeFile(path_, before);
  TIniFile ini = Ini();
  ini.WriteNumber("window", "TOP", 12);
  EXPECT_EQ(
      ReadWholeFile(path_),
      "; Tarnock settings\n\n[Window]\nTOP=12\n  # note\n\nLeft=4\n\n[Ports]\n9100=/a,f,F,0,\n");
  ini.WriteNumber("Window", "Height", 200);
  EXPECT_EQ(ReadWholeFile(path_),
            "; Tarnock settings\n\n[Window]\nTOP=12\n  # note\n\nLeft=4\nHeight=200\n\n[Ports]\n"
            "9100=/a,f,F,0,\n");
}

TEST_F(IniFileTest, WriteToAnEmptySectionGoesBelowItsHeader) {
  WriteWholeFile(path_, "[Ports]\n; none yet\n[File]\nDeleteIfEmpty=1");
  TIniFile ini = Ini();
  ini.WriteText("Ports", "9100", "/a,f,F,0,");
  ini.WriteText("Other", "k", "v");
  EXPECT_EQ(ReadWholeFile(path_),
            "[Ports]\n9100=/a,f,F,0,\n; none yet\n[File]\nDeleteIfEmpty=1\n[Other]\nk=v\n");
}

TEST_F(IniFileTest, WriteUpdatesTheFirstOfDuplicateKeys) {
  WriteWholeFile(path_, "[Ports]\n9100=old\n9100=older\n");
  TIniFile ini = Ini();
  ini.WriteText("Ports", "9100", "new");
  EXPECT_EQ(ini.ReadText("Ports", "9100", ""), "new");
  EXPECT_EQ(ReadWholeFile(path_), "[Ports]\n9100=new\n9100=older\n");
}

TEST_F(IniFileTest, EmptyValueIsWrittenAndNotListed) {
  TIniFile ini = Ini();
  ini.WriteText("Ports", "9100", "");
  EXPECT_EQ(ReadWholeFile(path_), "[Ports]\n9100=\n");
  TStrings entries;
  ini.ListEntries("Ports", entries);
  EXPECT_TRUE(entries.empty());
  TStrings keys;
  ini.ListKeys("Ports", keys);
  EXPECT_EQ(keys, (TStrings{"9100"}));
}

// Several keys set in one write: each replaces its first entry where it
// stands, keys new to the section follow its last entry, and every other
// line (unknown keys, comments, other sections) stays as it was.
struct TWriteTextsCase {
  const char* name;
  std::string before;
  TIniEntries entries;
  std::string after;
};

class WriteTextsTest : public IniFileTest, public testing::WithParamInterface<TWriteTextsCase> {};

TEST_P(WriteTextsTest, SetsEveryKeyInOneWrite) {
  WriteWholeFile(path_, GetParam().before);
  TFileFault renames(TFileCall::Rename, TFault{1, 1, 0});
  Ini().WriteTexts("Jobs", GetParam().entries);
  EXPECT_EQ(ReadWholeFile(path_), GetParam().after);
  EXPECT_EQ(renames.Calls(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WriteTextsTest,
    testing::Values(
        TWriteTextsCase{"KeepsUnknownKeysAndComments",
                        "; mine\n[jobs]\nJobIndex=0\n; why\nMyOwnKey=7\nnotify = 1\n[Ports]\n1=a\n",
                        {{"JobIndex", "1"}, {"Notify", "0"}, {"AfterJob", "x"}, {"B", ""}},
                        "; mine\n[jobs]\nJobIndex=1\n; why\nMyOwnKey=7\nNotify=0\nAfterJob=x\nB=\n"
                        "[Ports]\n1=a\n"},
        TWriteTextsCase{"NewKeysFollowTheFirstOccurrence",
                        "[Jobs]\nA=1\n\n[X]\n[Jobs]\nB=2\n",
                        {{"B", "3"}, {"C", "4"}},
                        "[Jobs]\nA=1\nC=4\n\n[X]\n[Jobs]\nB=3\n"},
        TWriteTextsCase{"KeyGivenTwiceKeepsItsLastValue",
                        "[X]\r\n",
                        {{"A", "1"}, {"a", "2"}},
                        "[X]\r\n[Jobs]\r\nA=2\r\n"}),
    [](const testing::TestParamInfo<TWriteTextsCase>& info) {
      return std::string(info.param.name);
    });

// A snapshot answers every read as the file stood at its load.
TEST_F(IniFileTest, SnapshotIsTheFileAsItWasLoaded) {
  WriteWholeFile(path_, "[Ports]\n9100=/a,f,F,0,\n");
  const TIniSnapshot snapshot = Ini().Load();
  WriteWholeFile(path_, "[Ports]\n");
  const TIniSnapshot copy = snapshot;
  EXPECT_EQ(copy.ReadText("ports", " 9100 ", ""), "/a,f,F,0,");
  EXPECT_EQ(Ini().ReadText("Ports", "9100", "gone"), "gone");
  EXPECT_EQ(TIniSnapshot().ReadText("Ports", "9100", "none"), "none");
}

TEST_F(IniFileTest, DropSectionRemovesItWithAllItsLines) {
  WriteWholeFile(
      path_,
      "[Window]\nTop=1\n[Ports]\n9100=a\n; port comment\n9101=b\n[ports]\n9102=c\n[File]\nx=1\n");
  TIniFile ini = Ini();
  ini.DropSection("PORTS");
  EXPECT_EQ(ReadWholeFile(path_), "[Window]\nTop=1\n[File]\nx=1\n");
}

TEST_F(IniFileTest, DropOfAMissingSectionWritesNothing) {
  TIniFile ini = Ini();
  ini.DropSection("Ports");
  EXPECT_FALSE(std::filesystem::exists(path_));
  TIniFile elsewhere(root_ + "/missing/x.ini");
  EXPECT_NO_THROW(elsewhere.DropSection("Ports"));
}

TEST_F(IniFileTest, ReplaceSectionWritesTheWholeListInOnePiece) {
  WriteWholeFile(
      path_,
      "[Window]\nTop=1\n[Ports]\n; the ports\n9100=a\n9101=b\n\n[File]\nx=1\n[PORTS]\n9102=c\n");
  TIniFile ini = Ini();
  ini.ReplaceSection("Ports", {{"9200", "/a,f,F,0,"}, {"9201", "/b,g,T,3,a,b,c"}});
  EXPECT_EQ(ReadWholeFile(path_),
            "[Window]\nTop=1\n[Ports]\n; the ports\n9200=/a,f,F,0,\n9201=/b,g,T,3,a,b,c\n\n[File]\n"
            "x=1\n");
  TStrings entries;
  ini.ListEntries("Ports", entries);
  EXPECT_EQ(entries, (TStrings{"9200=/a,f,F,0,", "9201=/b,g,T,3,a,b,c"}));
  ini.ReplaceSection("Ports", {});
  EXPECT_EQ(ReadWholeFile(path_), "[Window]\nTop=1\n[File]\nx=1\n");
  ini.ReplaceSection("Ports", {{"1", "x"}});
  EXPECT_EQ(ReadWholeFile(path_), "[Window]\nTop=1\n[File]\nx=1\n[Ports]\n1=x\n");
}

TEST_F(IniFileTest, UnwritableLocationsRaiseUnableToWrite) {
  const std::string missingFolder = root_ + "/missing/tarnock.ini";
  EXPECT_EQ(RaisedMessage([&] { TIniFile(missingFolder).WriteText("Ports", "1", "x"); }),
            "Unable to write to " + missingFolder);
  WriteWholeFile(root_ + "/plain", "x");
  const std::string folderIsFile = root_ + "/plain/tarnock.ini";
  EXPECT_EQ(RaisedMessage([&] { TIniFile(folderIsFile).WriteNumber("Window", "Top", 1); }),
            "Unable to write to " + folderIsFile);
  ASSERT_EQ(mkdir(path_.c_str(), 0777), 0);
  EXPECT_EQ(RaisedMessage([&] { Ini().WriteFlag("File", "DeleteIfEmpty", true); }),
            "Unable to write to " + path_);
  EXPECT_EQ(RaisedMessage([&] {
              Ini().ReplaceSection("Ports", {{"1", "x"}});
            }),
            "Unable to write to " + path_);
  EXPECT_EQ(RaisedMessage([&] { Ini().ReadText("Ports", "1", "d"); }),
            "File access denied: " + path_);
}

TEST_F(IniFileTest, TextsTheFormatCannotHoldAreRefused) {
  WriteWholeFile(path_, "[Ports]\n9100=a\n");
  const std::string failure = "Unable to write to " + path_;
  TIniFile ini = Ini();
  EXPECT_EQ(RaisedMessage([&] { ini.WriteText("Ports", "9101", "a\nb"); }), failure);
  EXPECT_EQ(RaisedMessage([&] { ini.WriteText("Ports", "a=b", "x"); }), failure);
  EXPECT_EQ(RaisedMessage([&] { ini.WriteText("Po]rts", "1", "x"); }), failure);
  EXPECT_EQ(RaisedMessage([&] { ini.WriteText("Ports", " ", "x"); }), failure);
  EXPECT_EQ(RaisedMessage([&] {
              ini.ReplaceSection("Ports", {{"1", "x"}, {"[2", "y"}});
            }),
            failure);
  EXPECT_EQ(ReadWholeFile(path_), "[Ports]\n9100=a\n");
}

std::shared_ptr<void> EveryCallFails(TFileCall call, int error) {
  return std::make_shared<TFileFault>(call, TFault{1, 0, error});
}

struct TUnreadableCase {
  const char* name;
  // Makes the settings file at path exist but unreadable as settings, for
  // as long as what it returns lives.
  std::shared_ptr<void> (*spoil)(const std::string& path);
  const char* message;
};

// A file that exists but cannot be read is no empty file: a reader says why,
// never waits for it and never reads it whole, and a writer leaves it alone.
TEST_F(IniFileTest, UnreadableExistingFileIsReportedAndNeverReplaced) {
  const TUnreadableCase cases[] = {
      {"read fails", [](const std::string&) { return EveryCallFails(TFileCall::Read, EIO); },
       "I/O error 1117"},
      {"out of descriptors",
       [](const std::string&) { return EveryCallFails(TFileCall::Open, EMFILE); },
       "Too many open files"},
      {"FIFO",
       [](const std::string& path) {
         std::filesystem::remove(path);
         mkfifo(path.c_str(), 0666);
         return std::shared_ptr<void>();
       },
       "File access denied"},
      {"folder",
       [](const std::string& path) {
         std::filesystem::remove(path);
         std::filesystem::create_directory(path);
         return std::shared_ptr<void>();
       },
       "File access denied"},
      {"over 16 MiB",
       [](const std::string& path) {
         std::filesystem::resize_file(path, (16u << 20) + 1);
         return std::shared_ptr<void>();
       },
       "I/O error 223"},
      {"link loop",
       [](const std::string& path) {
         std::filesystem::remove(path);
         std::filesystem::create_symlink(path, path);
         return std::shared_ptr<void>();
       },
       "Too many levels of symbolic links"},
  };
  for (const TUnreadableCase& c : cases) {
    std::filesystem::remove_all(path_);
    WriteWholeFile(path_, "[Ports]\n9100=a\n");
    const auto before = std::filesystem::status(path_).type();
    {
      const std::shared_ptr<void> spoiled = c.spoil(path_);
      // Which file could not be read is part of the message.
      EXPECT_EQ(RaisedMessage([&] { Ini().ReadText("Ports", "9100", "d"); }),
                std::string(c.message) + ": " + path_)
          << c.name;
      EXPECT_EQ(RaisedMessage([&] { Ini().WriteText("Ports", "9101", "b"); }),
                "Unable to write to " + path_)
          << c.name;
    }
    std::error_code unreadable;
    if (std::filesystem::status(path_, unreadable).type() == before &&
        std::filesystem::file_size(path_) < 100) {
      EXPECT_EQ(ReadWholeFile(path_), "[Ports]\n9100=a\n") << c.name;
    }
  }
}

TEST_F(IniFileTest, RewriteKeepsThePermissionBits) {
  WriteWholeFile(path_, "[Ports]\n");
  ASSERT_EQ(chmod(path_.c_str(), 0600), 0);
  Ini().WriteText("Ports", "1", "x");
  struct stat status {};
  ASSERT_EQ(stat(path_.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST_F(IniFileTest, EveryOperationSeesTheFileAsItIsNow) {
  TIniFile ini = Ini();
  EXPECT_EQ(ini.ReadText("S", "k", "d"), "d");
  WriteWholeFile(path_, "[S]\nk=1\n");
  EXPECT_EQ(ini.ReadText("S", "k", "d"), "1");
  WriteWholeFile(path_, "[S]\nk=2\n");
  EXPECT_EQ(ini.ReadText("S", "k", "d"), "2");
}

TEST_F(IniFileTest, GarbageIsReadWithoutHarm) {
  std::string garbage;
  for (int i = 0; i < 200000; ++i) garbage.push_back(static_cast<char>((i * 7919) % 256));
  garbage += std::string("\n[S]\nk=v\0w\n", 11) + std::string(1 << 20, '[') + "\n" +
             std::string(1 << 20, '=') + "\n[\n]\n=\n[S\nj=2\n\r\r\n";
  WriteWholeFile(path_, garbage);
  TIniFile ini = Ini();
  EXPECT_EQ(ini.ReadText("S", "k", ""), std::string("v\0w", 3));
  EXPECT_EQ(ini.ReadText("S", "j", ""), "2");
  TStrings keys;
  ini.ListKeys("S", keys);
  TStrings entries;
  ini.ListEntries("S", entries);
  ini.WriteText("S", "k", "new");
  EXPECT_EQ(ini.ReadText("S", "k", ""), "new");
  EXPECT_EQ(ReadWholeFile(path_).size(), garbage.size());
}

TEST_F(IniFileTest, LinesOutsideAnySectionAreNoKeys) {
  WriteWholeFile(path_, "k=outside\n[S]\nk=inside\n");
  TIniFile ini = Ini();
  EXPECT_EQ(ini.ReadText("S", "k", ""), "inside");
  EXPECT_EQ(ini.ReadText("", "k", "d"), "d");
}

// A save through a symbolic link writes the file at the end of the chain, in
// that file's folder, and keeps every link as it was.
struct TLinkCase {
  const char* name;
  // Links name to the file, relative to the test folder, in order: the first
  // is the settings path itself, each links to the next, the last to target.
  TStrings links;
  std::string target;
  bool absolute;
  bool targetExists;
};

class SymbolicLinkTest : public IniFileTest, public testing::WithParamInterface<TLinkCase> {};

TEST_P(SymbolicLinkTest, SaveWritesTheTargetAndKeepsTheLink) {
  const TLinkCase& c = GetParam();
  std::filesystem::create_directories(root_ + "/real");
  std::filesystem::create_directories(root_ + "/links");
  const std::string target = root_ + "/" + c.target;
  if (c.targetExists) WriteWholeFile(target, "; kept\n[Ports]\n9100=a\n");
  TStrings names = c.links;
  names.push_back(c.target);
  for (size_t i = 0; i + 1 < names.size(); ++i) {
    const std::filesystem::path link = root_ + "/" + names[i];
    const std::filesystem::path next = root_ + "/" + names[i + 1];
    std::filesystem::create_symlink(
        c.absolute ? next : std::filesystem::relative(next, link.parent_path()), link);
  }
  const std::string settings = root_ + "/" + c.links.front();

  TIniFile(settings).WriteText("Ports", "9101", "b");

  for (size_t i = 0; i + 1 < names.size(); ++i)
    EXPECT_TRUE(std::filesystem::is_symlink(root_ + "/" + names[i])) << names[i];
  EXPECT_EQ(ReadWholeFile(target),
            c.targetExists ? "; kept\n[Ports]\n9100=a\n9101=b\n" : "[Ports]\n9101=b\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root_ + "/real"),
                          std::filesystem::directory_iterator()),
            1);
}

INSTANTIATE_TEST_SUITE_P(
    Links, SymbolicLinkTest,
    testing::Values(
        TLinkCase{"Absolute", {"links/tarnock.ini"}, "real/settings.ini", true, true},
        TLinkCase{"Relative", {"links/tarnock.ini"}, "real/settings.ini", false, true},
        TLinkCase{
            "Chain", {"links/tarnock.ini", "links/middle.ini"}, "real/settings.ini", false, true},
        TLinkCase{"TargetMissing", {"links/tarnock.ini"}, "real/settings.ini", true, false}),
    [](const testing::TestParamInfo<TLinkCase>& info) { return std::string(info.param.name); });

TEST_F(IniFileTest, FailedSaveThroughALinkNamesTheLink) {
  std::filesystem::create_symlink(root_ + "/missing/settings.ini", path_);
  EXPECT_EQ(RaisedMessage([&] { Ini().WriteText("Ports", "1", "x"); }),
            "Unable to write to " + path_);
  EXPECT_TRUE(std::filesystem::is_symlink(path_));
}

// Sets an environment variable, or removes it for nullptr, for its lifetime.
// Who runs the executable: the owner of its folder, someone else, or the
// administrator (who owns the system's folders).
enum class TRunner { Owner, Other, Root };

// Where the settings of an executable in a folder live; "~" in the folder,
// the expectation and the variables stands for the test folder. The
// executable's folder is made only under "~".
struct TLocationCase {
  const char* name;
  const char* folder;
  TRunner runner;
  bool fileBeside;
  bool folderWritable;
  const char* configHome;
  const char* home;
  const char* expected;
};

class SettingsLocationTest : public IniFileTest, public testing::WithParamInterface<TLocationCase> {
 protected:
  std::string InRoot(const char* text) {
    std::string result = text;
    if (result.starts_with('~')) result.replace(0, 1, root_);
    return result;
  }

  static int GrantAccess(const char*, int) { return 0; }
  static int RefuseAccess(const char*, int) {
    errno = EACCES;
    return -1;
  }

  static uid_t RunnerId(TRunner runner) {
    switch (runner) {
      case TRunner::Owner:
        return geteuid();
      case TRunner::Other:
        return geteuid() + 1;
      case TRunner::Root:
        return 0;
    }
    return 0;
  }
};

TEST_P(SettingsLocationTest, BesideTheExecutableOrInTheUserConfiguration) {
  const TLocationCase& c = GetParam();
  const std::string folder = InRoot(c.folder);
  if (folder.starts_with(root_)) std::filesystem::create_directories(folder);
  if (c.fileBeside) WriteWholeFile(folder + "/tarnock.ini", "[Ports]\n");
  const std::string configHome = c.configHome ? InRoot(c.configHome) : "";
  const std::string home = c.home ? InRoot(c.home) : "";
  TEnvironmentOverride configVariable("XDG_CONFIG_HOME",
                                      c.configHome ? configHome.c_str() : nullptr);
  TEnvironmentOverride homeVariable("HOME", c.home ? home.c_str() : nullptr);
  // Granted or refused whoever runs the test: the administrator may write
  // into any folder, a normal user not into a system folder.
  TFileCallStandIn<&TFileCalls::Access> access(c.folderWritable ? GrantAccess : RefuseAccess);
  EXPECT_EQ(SettingsPathFor(folder + "/tarnock", RunnerId(c.runner)), InRoot(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsLocationTest,
    testing::Values(TLocationCase{"WritableFolder", "~/bin", TRunner::Owner, false, true,
                                  "~/config", "~/home", "~/bin/tarnock.ini"},
                    TLocationCase{"FileBesideInReadOnlyFolder", "~/bin", TRunner::Owner, true,
                                  false, "~/config", "~/home", "~/bin/tarnock.ini"},
                    TLocationCase{"ReadOnlyFolder", "~/bin", TRunner::Owner, false, false,
                                  "~/config", "~/home", "~/config/tarnock/tarnock.ini"},
                    TLocationCase{"ConfigHomeUnset", "~/bin", TRunner::Owner, false, false, nullptr,
                                  "~/home", "~/home/.config/tarnock/tarnock.ini"},
                    TLocationCase{"ConfigHomeRelative", "~/bin", TRunner::Owner, false, false,
                                  "config", "~/home", "~/home/.config/tarnock/tarnock.ini"},
                    TLocationCase{"NoHomeAtAll", "~/bin", TRunner::Owner, false, false, nullptr,
                                  nullptr, "~/bin/tarnock.ini"},
                    // Someone else's folder, even with a file there the runner may write.
                    TLocationCase{"OthersWritableFolder", "~/bin", TRunner::Other, true, true,
                                  "~/config", "~/home", "~/config/tarnock/tarnock.ini"},
                    // The administrator owns and may write the system's folders.
                    TLocationCase{"RootInUsrBin", "/usr/bin", TRunner::Root, false, true, nullptr,
                                  "~/root", "~/root/.config/tarnock/tarnock.ini"},
                    TLocationCase{"RootInUsrLocalBin", "/usr/local/bin", TRunner::Root, false, true,
                                  "~/config", "~/root", "~/config/tarnock/tarnock.ini"},
                    TLocationCase{"UserInUsrBin", "/usr/bin", TRunner::Other, false, false, nullptr,
                                  "~/home", "~/home/.config/tarnock/tarnock.ini"}),
    [](const testing::TestParamInfo<TLocationCase>& info) { return std::string(info.param.name); });

TEST(SettingsFilePath, IsTheExecutableWithTheIniExtension) {
  const std::string executable = std::filesystem::canonical("/proc/self/exe").string();
  const std::string path = SettingsFilePath();
  ASSERT_TRUE(path.ends_with(".ini"));
  const std::string stem = executable.substr(0, executable.rfind('/') + 1) +
                           std::filesystem::path(executable).stem().string() + ".ini";
  EXPECT_EQ(path, stem);
}

}  // namespace
