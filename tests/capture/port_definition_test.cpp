#include "capture/port_definition.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "capture/ini_file.h"
#include "support/file_contents.h"
#include "support/temp_folder.h"

namespace {

struct TDecodeCase {
  std::string value;
  std::string directory, fileFormat, mark, days, comments;
  bool overwrite;
};

class DecodePortDefinitionTest : public testing::TestWithParam<TDecodeCase> {};

TEST_P(DecodePortDefinitionTest, CutsByTheSteps) {
  const TDecodeCase& c = GetParam();
  const TPortDefinition d = DecodePortDefinition(c.value);
  EXPECT_EQ(d.Directory, c.directory);
  EXPECT_EQ(d.FileFormat, c.fileFormat);
  EXPECT_EQ(d.OverwriteMark, c.mark);
  EXPECT_EQ(d.Days, c.days);
  EXPECT_EQ(d.Comments, c.comments);
  EXPECT_EQ(d.Overwrite(), c.overwrite);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodePortDefinitionTest,
    testing::Values(
        TDecodeCase{"/cap/front,yy-mm-dd hhnn,F,30,Front office printer", "/cap/front",
                    "yy-mm-dd hhnn", "F", "30", "Front office printer", false},
        TDecodeCase{"C:\\Cap,yymmdd,F,30", "C:\\Cap", "yymmdd", "F", "", "30", false},
        TDecodeCase{"C:\\Cap,yymmdd,True,30,x", "C:\\Cap", "yymmdd", "T", "ue", "30,x", true},
        TDecodeCase{"C:\\Cap,yymmdd,t,30,x", "C:\\Cap", "yymmdd", "t", "30", "x", false},
        TDecodeCase{"C:\\A=B,yymmdd,T,5,", "C:\\A=B", "yymmdd", "T", "5", "", true},
        TDecodeCase{"/c,f,T,0,a,b,c", "/c", "f", "T", "0", "a,b,c", true},
        TDecodeCase{"", "", "", "", "", "", false},
        TDecodeCase{"nocomma", "", "", "n", "", "comma", false},
        TDecodeCase{"a,b", "a", "", "b", "", "", false},
        TDecodeCase{"a,", "a", "", "", "", "", false},
        TDecodeCase{",,,,", "", "", ",", "", "", false},
        TDecodeCase{",,T", "", "", "T", "", "", true},
        TDecodeCase{",,TX", "", "", "T", "", "", true},
        TDecodeCase{",,T,,", "", "", "T", "", "", true},
        TDecodeCase{"d,f,F", "d", "f", "F", "", "", false}));

TEST(EncodePortDefinition, JoinsWithFourCommas) {
  TPortDefinition d{"/cap", "yymmdd", "F", "0", ""};
  EXPECT_EQ(EncodePortDefinition(d), "/cap,yymmdd,F,0,");
  d.Comments = "a,b,c";
  EXPECT_EQ(EncodePortDefinition(d), "/cap,yymmdd,F,0,a,b,c");
  EXPECT_EQ(EncodePortDefinition(TPortDefinition{}), ",,,,");
}

TEST(EncodePortDefinition, CommentsSurviveARoundTrip) {
  const TPortDefinition d{"/x=y", "yy mm", "T", "999", "a,b,c"};
  const TPortDefinition back = DecodePortDefinition(EncodePortDefinition(d));
  EXPECT_EQ(back.Directory, d.Directory);
  EXPECT_EQ(back.FileFormat, d.FileFormat);
  EXPECT_EQ(back.OverwriteMark, d.OverwriteMark);
  EXPECT_EQ(back.Days, d.Days);
  EXPECT_EQ(back.Comments, d.Comments);
}

// The ports every part of the program sees (the listeners, the port list,
// the capture folders of the Jobs menu, the sweep of old captures): each key
// once with its first value, a line without "=" or an empty value no port.
TEST(PortEntries, ListsEachPortOnce) {
  TTempFolder folder;
  const std::string path = folder.FilePath("tarnock.ini");
  WriteWholeFile(path, "[Ports]\nipp=/a=x,f,F,0,\n9100\n9102=\n9101=/b,f,F,0,\nIPP=/c,f,F,0,\n");
  std::vector<std::pair<std::string, std::string>> listed;
  for (const TPortEntry& entry : PortEntries(TIniFile(path).Load()))
    listed.emplace_back(entry.Port, entry.Definition.Directory);
  EXPECT_EQ(listed,
            (std::vector<std::pair<std::string, std::string>>{{"IPP", "/a=x"}, {"9101", "/b"}}));
}

}  // namespace
