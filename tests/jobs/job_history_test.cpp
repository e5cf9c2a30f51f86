#include "jobs/job_history.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "base/exceptions.h"
#include "jobs/job_index.h"
#include "support/temp_folder.h"

namespace {

const std::string kHeader14 = kJobIndexHeader;
const std::string kHeader9 =
    "start,end,port,peer address,peer port,bytes,file,outcome,queries answered\r\n";
const std::string kHeader8 = "start,end,port,peer address,peer port,bytes,file,outcome\r\n";
const std::string kLine14 = "s,e,9100,192.0.2.5,51234,18,a.txt,closed,0,lp,Inv,i.pdf,alice,erp\r\n";
const std::vector<std::string> kFields14 = {"s",   "e",     "9100",   "192.0.2.5", "51234",
                                            "18",  "a.txt", "closed", "0",         "lp",
                                            "Inv", "i.pdf", "alice",  "erp"};

using TLines = std::vector<std::vector<std::string>>;

struct TParserCase {
  const char* name;
  std::string text;
  TLines lines;  // each padded with empty fields to 14
  int64_t skipped;
  bool torn;
};

class JobIndexParserTest : public testing::TestWithParam<TParserCase> {};

// Whole, and a byte at a time: a line, a quote pair or a CR LF split across
// reads reads the same.
TEST_P(JobIndexParserTest, ReadsTheWritersFormat) {
  const TParserCase& c = GetParam();
  for (std::size_t piece : {c.text.size() + 1, std::size_t{1}}) {
    TLines lines;
    TJobIndexParser parser([&](const TJobIndexFields& line) {
      lines.emplace_back(line.Fields.begin(), line.Fields.end());
    });
    for (std::size_t at = 0; at < c.text.size(); at += piece)
      parser.Feed(std::string_view(c.text).substr(at, piece));
    const TJobIndexTally tally = parser.Finish();
    TLines expected = c.lines;
    for (auto& line : expected) line.resize(kJobIndexColumns);
    EXPECT_EQ(lines, expected) << "pieces of " << piece;
    EXPECT_EQ(tally.Lines, static_cast<int64_t>(expected.size()));
    EXPECT_EQ(tally.Skipped, c.skipped);
    EXPECT_EQ(tally.TornLastLine, c.torn);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, JobIndexParserTest,
    testing::Values(
        TParserCase{"Plain", kHeader14 + kLine14, {kFields14}, 0, false},
        TParserCase{"HeaderOnly", kHeader14, {}, 0, false},
        TParserCase{"QuotesAndCommas",
                    kHeader8 + "s,e,9100,::1,1,2,\"a,\"\"b\"\".txt\",\"error: x, y\"\r\n",
                    {{"s", "e", "9100", "::1", "1", "2", "a,\"b\".txt", "error: x, y"}},
                    0,
                    false},
        TParserCase{"LineEndsInsideQuotes",
                    kHeader8 + "s,e,1,h,1,2,\"two\nli\r\nnes\",closed\r\n",
                    {{"s", "e", "1", "h", "1", "2", "two\nli\r\nnes", "closed"}},
                    0,
                    false},
        TParserCase{"NineColumnsThenFourteen",
                    kHeader9 + "s,e,1,h,1,2,f,closed,3\r\n" + kLine14,
                    {{"s", "e", "1", "h", "1", "2", "f", "closed", "3"}, kFields14},
                    0,
                    false},
        TParserCase{"EightColumns",
                    kHeader8 + "s,e,1,h,1,,f,reset\r\n",
                    {{"s", "e", "1", "h", "1", "", "f", "reset"}},
                    0,
                    false},
        TParserCase{
            "TornLastLine", kHeader14 + kLine14 + "s,e,9100,192.0.2.5", {kFields14}, 0, true},
        TParserCase{"TornInsideQuotes", kHeader14 + kLine14 + "s,e,\"a\r\n", {kFields14}, 0, true},
        TParserCase{"TornBeforeLf",
                    kHeader14 + kLine14 + kLine14.substr(0, kLine14.size() - 1),
                    {kFields14},
                    0,
                    true},
        TParserCase{"WrongFieldCounts",
                    kHeader14 + "a,b,c\r\n\r\n" + kLine14 + "s,e,1,h,1,2,f,closed,3\r\n" +
                        kLine14.substr(0, kLine14.size() - 2) + ",x\r\n",
                    {kFields14},
                    4,
                    false},
        TParserCase{"FewerThanItsHeader", kHeader9 + "s,e,1,h,1,2,f,closed\r\n", {}, 1, false},
        TParserCase{"OverlongLineSkippedToItsEnd",
                    kHeader14 + "\"" + std::string(kMaxIndexLineBytes, 'x') + "\r\n" + kLine14,
                    {kFields14},
                    1,
                    false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JobIndexParserTest, RefusesAFileWithoutAHeader) {
  for (const std::string& text : {kLine14, std::string("start,end,port\r\n")}) {
    TJobIndexParser parser([](const TJobIndexFields&) {});
    try {
      parser.Feed(text);
      ADD_FAILURE() << text;
    } catch (const EInOutError& failure) {
      EXPECT_STREQ(failure.what(), kNotAJobIndex);
    }
  }
}

struct TTimeCase {
  const char* text;
  int64_t milliseconds;
};

class IndexTimeTest : public testing::TestWithParam<TTimeCase> {};

TEST_P(IndexTimeTest, IsUtcMilliseconds) {
  EXPECT_EQ(ParseIndexTime(GetParam().text), GetParam().milliseconds);
}

INSTANTIATE_TEST_SUITE_P(Times, IndexTimeTest,
                         testing::Values(TTimeCase{"1970-01-01T00:00:00.000Z", 0},
                                         TTimeCase{"1970-01-01T01:00:00.001+01:00", 1},
                                         TTimeCase{"2000-03-01T00:00:00.000-05:30",
                                                   951868800000 + 19800000},
                                         TTimeCase{"2026-12-08T14:30:05.123", kUnknownTime},
                                         TTimeCase{"2026-13-08T14:30:05.123Z", kUnknownTime},
                                         TTimeCase{"", kUnknownTime}));

// A job as this run records it, ending at the given second of 2026.
TJob Job(const std::string& folder, const std::string& file, int second) {
  TJob job;
  job.End = std::chrono::system_clock::time_point(std::chrono::seconds(1798761600 + second));
  job.Start = job.End;
  job.Port = "9100";
  job.PeerAddress = "192.0.2.5";
  job.FileSize = second;
  job.Folder = folder + "/";
  job.FileName = job.Folder + file;
  return job;
}

std::vector<std::string> Files(const TJobHistory& history) {
  std::vector<std::string> files;
  for (std::size_t i = 0; i < history.Size(); ++i)
    files.emplace_back(history.Row(i).Text(THistoryColumn::File));
  return files;
}

TEST(JobHistoryTest, TheBoundDropsTheOldest) {
  TJobHistory history(3);
  for (int second : {1, 2, 4, 5})
    history.Add(THistoryRow::FromJob(Job("/c", std::to_string(second), second)));
  EXPECT_EQ(Files(history), (std::vector<std::string>{"/c/5", "/c/4", "/c/2"}));
  // An older job that finishes late stands by its end time.
  const auto late = history.Add(THistoryRow::FromJob(Job("/c", "3", 3)));
  EXPECT_EQ(late.Position, 2u);
  EXPECT_TRUE(late.DroppedOldest);
  EXPECT_EQ(history.Add(THistoryRow::FromJob(Job("/c", "0", 0))).Position, TJobHistory::kNotKept);
  EXPECT_EQ(Files(history), (std::vector<std::string>{"/c/5", "/c/4", "/c/3"}));
}

// The index's lines are merged by end time, the jobs of this run already
// held are not doubled (their index lines read the same as their records,
// odd file names included), and of a long index only the newest are kept.
TEST(JobHistoryTest, LoadMergesTheIndexWithoutDoublingThisRunsJobs) {
  TTempFolder folder;
  const std::string odd = "a,\"b\"\nc.txt";
  for (int second : {1, 3, 5, 7})
    AppendToJobIndex(Job(folder.Path(), "f" + std::to_string(second), second));
  TJob mine = Job(folder.Path(), odd, 6);
  mine.Labels = {"lp", "Rechnung", "r.pdf", "alice", "erp01"};
  AppendToJobIndex(mine);
  TJobHistory history(4);
  history.Add(THistoryRow::FromJob(mine));
  const std::string base = folder.Path() + "/";
  const auto loaded = history.Load(folder.Path());
  EXPECT_EQ(loaded.Added, 4u);
  EXPECT_EQ(loaded.AlreadyHeld, 1u);
  EXPECT_EQ(Files(history),
            (std::vector<std::string>{base + "f7", base + odd, base + "f5", base + "f3"}));
  EXPECT_EQ(history.Row(1).Text(THistoryColumn::Host), "erp01");
  EXPECT_EQ(history.Load(folder.Path() + "/").AlreadyHeld, 4u);
  EXPECT_EQ(history.Size(), 4u);
}

// The same refusals, in the same words, as the index writer gives.
TEST(JobHistoryTest, LoadRefusesWhatIsNoRegularIndex) {
  TTempFolder folder;
  const std::string index = TJobHistory::IndexPathIn(folder.Path());
  TJobHistory history;
  EXPECT_EQ(history.Load(folder.Path()).Added, 0u);  // none there
  std::ofstream(folder.FilePath("elsewhere.csv")) << kJobIndexHeader << kLine14;
  const auto plant = [&](int what) {
    std::filesystem::remove(index);
    if (what == 0) std::filesystem::create_symlink(folder.FilePath("elsewhere.csv"), index);
    if (what == 1) ::mkfifo(index.c_str(), 0600);
    if (what == 2) std::filesystem::create_directory(index);
  };
  const char* expected[] = {"File access denied", "Not a regular file", "Not a regular file"};
  for (int what = 0; what < 3; ++what) {
    plant(what);
    try {
      history.Load(folder.Path());
      ADD_FAILURE() << expected[what];
    } catch (const EInOutError& failure) {
      EXPECT_STREQ(failure.what(), expected[what]);
    }
  }
  EXPECT_EQ(history.Size(), 0u);
}

class JobHistoryQueryTest : public testing::Test {
 protected:
  void SetUp() override {
    // Newest first: rows 0 to 3.
    const char* lines[] = {
        "s,2026-01-01T09:30:00.000+00:00,9100,192.0.2.10,1,100,a.txt,closed,0,,,,,\r\n",
        "s,2026-01-01T10:00:00.000+02:00,515,192.0.2.9,2,9,b.txt,closed,0,lp,MÜLLER Rechnung,,"
        "bob,\r\n",
        "s,2026-01-01T07:00:00.000+00:00,100,10.0.0.1,3,,c.txt,reset,0,lp,Invoice 17,,Alice,\r\n",
        "s,2026-01-01T06:00:00.000+00:00,19,192.0.2.9,4,10,d10.txt,closed,0,,,,,\r\n"};
    TJobIndexParser parser([this](const TJobIndexFields& line) {
      history_.Add(THistoryRow::FromIndexLine(line, "/c"));
    });
    parser.Feed(kJobIndexHeader);
    for (const char* line : lines) parser.Feed(line);
  }
  TJobHistory history_;
};

TEST_F(JobHistoryQueryTest, FilterMatchesAnyColumnIgnoringCase) {
  const std::pair<const char*, std::vector<std::size_t>> cases[] = {
      {"", {0, 1, 2, 3}}, {"ALICE", {2}}, {"invoice 1", {2}}, {"müller", {1}},
      {"rechnung", {1}},  {"515", {1}},   {"/c/d10", {3}},    {"RESET", {2}},
      {"T10:00", {1}},    {"lp,Inv", {}}, {"zzz", {}},        {"192.0.2.9", {1, 3}}};
  for (const auto& [filter, rows] : cases) EXPECT_EQ(history_.Matching(filter), rows) << filter;
}

TEST_F(JobHistoryQueryTest, SortsNumbersAndTimesByValue) {
  struct TSortCase {
    THistoryColumn column;
    bool ascending;
    std::vector<std::size_t> rows;
  };
  const TSortCase cases[] = {
      {THistoryColumn::End, true, {3, 2, 1, 0}},   {THistoryColumn::End, false, {0, 1, 2, 3}},
      {THistoryColumn::Bytes, true, {2, 1, 3, 0}}, {THistoryColumn::Port, true, {3, 2, 1, 0}},
      {THistoryColumn::Peer, true, {2, 1, 3, 0}},  {THistoryColumn::Peer, false, {0, 1, 3, 2}},
      {THistoryColumn::User, true, {0, 3, 2, 1}},  {THistoryColumn::File, false, {3, 2, 1, 0}}};
  for (const TSortCase& c : cases) {
    std::vector<std::size_t> rows = {0, 1, 2, 3};
    history_.Sort(rows, c.column, c.ascending);
    EXPECT_EQ(rows, c.rows) << static_cast<int>(c.column) << (c.ascending ? " up" : " down");
  }
}

TEST(JobHistoryTest, GoneIsLookedForOnDemand) {
  TTempFolder folder;
  std::ofstream(folder.FilePath("job.txt")) << "x";
  TJobHistory history;
  history.Add(THistoryRow::FromJob(Job(folder.Path(), "job.txt", 1)));
  EXPECT_FALSE(history.CheckGone(0));
  std::filesystem::remove(folder.FilePath("job.txt"));
  EXPECT_FALSE(history.Row(0).Gone);
  EXPECT_TRUE(history.CheckGone(0));
  EXPECT_TRUE(history.Row(0).Gone);
}

}  // namespace
