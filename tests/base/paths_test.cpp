#include "base/paths.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "base/exceptions.h"
#include "support/file_contents.h"
#include "support/raised_message.h"
#include "support/temp_folder.h"

namespace {

struct TPathCase {
  std::string path;
  std::string result;
};

class ReplaceExtensionTest : public testing::TestWithParam<TPathCase> {};
TEST_P(ReplaceExtensionTest, ReplacesFromTheLastDotAfterTheLastSeparator) {
  EXPECT_EQ(ReplaceExtension(GetParam().path, ".ini"), GetParam().result);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, ReplaceExtensionTest,
    testing::Values(TPathCase{"logger", "logger.ini"},
                    TPathCase{"/opt/tools/logger.exe", "/opt/tools/logger.ini"},
                    TPathCase{"/opt/app.d/logger", "/opt/app.d/logger.ini"},
                    TPathCase{"/opt/a.b.c", "/opt/a.b.ini"}, TPathCase{"a.", "a.ini"},
                    TPathCase{"", ".ini"}, TPathCase{"/", "/.ini"},
                    TPathCase{"C:logger", "C:logger.ini"}, TPathCase{"dir/", "dir/.ini"}));

class DirectoryPartTest : public testing::TestWithParam<TPathCase> {};
TEST_P(DirectoryPartTest, KeepsUpToTheLastSeparator) {
  EXPECT_EQ(DirectoryPart(GetParam().path), GetParam().result);
}
INSTANTIATE_TEST_SUITE_P(Cases, DirectoryPartTest,
                         testing::Values(TPathCase{"name.txt", ""},
                                         TPathCase{"/capture/98-01-12.txt", "/capture/"},
                                         TPathCase{"/capture/", "/capture/"}, TPathCase{"/", "/"},
                                         TPathCase{"", ""}, TPathCase{"C:name.txt", ""},
                                         TPathCase{"a/b/c", "a/b/"}));

class IncludeSeparatorTest : public testing::TestWithParam<TPathCase> {};
TEST_P(IncludeSeparatorTest, EndsInOneSeparator) {
  EXPECT_EQ(IncludeSeparator(GetParam().path), GetParam().result);
}
INSTANTIATE_TEST_SUITE_P(Cases, IncludeSeparatorTest,
                         testing::Values(TPathCase{"/capture", "/capture/"},
                                         TPathCase{"/capture/", "/capture/"}, TPathCase{"", ""},
                                         TPathCase{"/", "/"}, TPathCase{"a", "a/"}));

using PresenceTest = TempFolderTest;

TEST_F(PresenceTest, TellsFilesFromDirectories) {
  const std::string file = root_ + "/file.txt";
  WriteWholeFile(file, "x");
  EXPECT_TRUE(FileIsPresent(file));
  EXPECT_FALSE(DirectoryIsPresent(file));
  EXPECT_TRUE(DirectoryIsPresent(root_));
  EXPECT_TRUE(DirectoryIsPresent(root_ + "/"));
  EXPECT_FALSE(FileIsPresent(root_));
  EXPECT_FALSE(FileIsPresent(root_ + "/missing"));
  EXPECT_FALSE(DirectoryIsPresent(root_ + "/missing"));
  EXPECT_FALSE(FileIsPresent(""));
  EXPECT_FALSE(DirectoryIsPresent(""));
  EXPECT_FALSE(FileIsPresent(file + "/below"));
}

using CreateDirectoryChainTest = TempFolderTest;

TEST_F(CreateDirectoryChainTest, CreatesEveryMissingLevel) {
  CreateDirectoryChain(root_ + "/capture/2026/12");
  EXPECT_TRUE(DirectoryIsPresent(root_ + "/capture"));
  EXPECT_TRUE(DirectoryIsPresent(root_ + "/capture/2026"));
  EXPECT_TRUE(DirectoryIsPresent(root_ + "/capture/2026/12"));
}

TEST_F(CreateDirectoryChainTest, OneTrailingSeparatorIsIgnored) {
  CreateDirectoryChain(root_ + "/capture/");
  EXPECT_TRUE(DirectoryIsPresent(root_ + "/capture"));
}

TEST_F(CreateDirectoryChainTest, ExistingDirectoryAndRootStopTheChain) {
  EXPECT_NO_THROW(CreateDirectoryChain(root_));
  EXPECT_NO_THROW(CreateDirectoryChain("/"));
  EXPECT_NO_THROW(CreateDirectoryChain("/tmp"));
  EXPECT_NO_THROW(CreateDirectoryChain(root_ + "//"));
}

TEST_F(CreateDirectoryChainTest, EmptyTextRaises) {
  EXPECT_EQ(RaisedMessage([] { CreateDirectoryChain(""); }), "Unable to create directory");
}

TEST_F(CreateDirectoryChainTest, MissingRelativeNameReachesTheEmptyParent) {
  char* previous = getcwd(nullptr, 0);
  ASSERT_NE(previous, nullptr);
  ASSERT_EQ(chdir(root_.c_str()), 0);
  EXPECT_THROW(CreateDirectoryChain("captures"), Exception);
  EXPECT_FALSE(DirectoryIsPresent(root_ + "/captures"));
  ASSERT_EQ(mkdir((root_ + "/captures").c_str(), 0777), 0);
  EXPECT_NO_THROW(CreateDirectoryChain("captures"));
  EXPECT_NO_THROW(CreateDirectoryChain("captures/"));
  ASSERT_EQ(chdir(previous), 0);
  free(previous);
}

TEST_F(CreateDirectoryChainTest, PlatformRefusalIsSilent) {
  const std::string file = root_ + "/file";
  WriteWholeFile(file, "x");
  EXPECT_NO_THROW(CreateDirectoryChain(file + "/below/deeper"));
  EXPECT_FALSE(DirectoryIsPresent(file + "/below"));
}

}  // namespace
