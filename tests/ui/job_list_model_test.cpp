#include "ui/job_list_model.h"

#include <gtest/gtest.h>

#include <QItemSelectionModel>
#include <string>
#include <vector>

#include "jobs/job_index_reader.h"

namespace {

// A job of the index ending at that second of one minute.
THistoryRow Job(int second, const std::string& file, const std::string& bytes = "1",
                const std::string& peer = "192.0.2.5") {
  TJobIndexFields line;
  auto set = [&line](TIndexColumn column, std::string text) {
    line.Fields[static_cast<std::size_t>(column)] = std::move(text);
  };
  set(TIndexColumn::End,
      "2026-12-08T14:30:" + std::string(second < 10 ? "0" : "") + std::to_string(second) + ".000Z");
  set(TIndexColumn::Port, "9100");
  set(TIndexColumn::PeerAddress, peer);
  set(TIndexColumn::Bytes, bytes);
  set(TIndexColumn::File, file);
  set(TIndexColumn::Outcome, "closed");
  return THistoryRow::FromIndexLine(line, "/nowhere");
}

std::vector<std::string> Files(const TJobListModel& model) {
  std::vector<std::string> files;
  for (int row = 0; row < model.rowCount(); ++row) files.push_back(model.FileAt(row));
  return files;
}

struct TArrangeCase {
  const char* name;
  QString filter;
  int column;  // -1: as added
  Qt::SortOrder order;
  std::vector<std::string> files;
};

class JobListArrangeTest : public testing::TestWithParam<TArrangeCase> {};

TEST_P(JobListArrangeTest, ShowsTheMatchingRowsInOrder) {
  const TArrangeCase& c = GetParam();
  TJobListModel model;
  model.AddJob(Job(1, "a", "100", "192.0.2.1"));
  model.AddJob(Job(3, "c", "9", "192.0.2.10"));
  model.AddJob(Job(2, "b", "10", "192.0.2.9"));
  if (c.column >= 0) model.sort(c.column, c.order);
  model.SetFilter(c.filter);
  EXPECT_EQ(Files(model), c.files);
  // Clearing the filter brings every row back in the same order.
  model.SetFilter("");
  EXPECT_EQ(model.rowCount(), 3);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JobListArrangeTest,
    testing::Values(
        TArrangeCase{
            "NewestFirst", "", -1, Qt::DescendingOrder, {"/nowhere/c", "/nowhere/b", "/nowhere/a"}},
        TArrangeCase{"BytesAsNumbers",
                     "",
                     3,
                     Qt::AscendingOrder,
                     {"/nowhere/c", "/nowhere/b", "/nowhere/a"}},
        TArrangeCase{"BytesDescending",
                     "",
                     3,
                     Qt::DescendingOrder,
                     {"/nowhere/a", "/nowhere/b", "/nowhere/c"}},
        TArrangeCase{
            "PeerDigitRuns", "", 2, Qt::AscendingOrder, {"/nowhere/a", "/nowhere/b", "/nowhere/c"}},
        TArrangeCase{
            "FilterAnyColumn", "192.0.2.1", -1, Qt::DescendingOrder, {"/nowhere/c", "/nowhere/a"}},
        TArrangeCase{"FilterIgnoresCase", "NOWHERE/B", -1, Qt::DescendingOrder, {"/nowhere/b"}},
        TArrangeCase{
            "FilterThenSorted", "192.0.2.1", 3, Qt::AscendingOrder, {"/nowhere/c", "/nowhere/a"}},
        TArrangeCase{"NothingMatches", "zz", -1, Qt::DescendingOrder, {}}),
    [](const testing::TestParamInfo<TArrangeCase>& info) { return info.param.name; });

// A job that finishes takes its place under the sort and the filter, the
// selected job stays selected, and the bound drops the oldest row with row
// signals of its own.
TEST(JobListModelTest, NewJobsKeepTheSelectionAndTheBound) {
  TJobListModel model(3);
  QItemSelectionModel selection(&model);
  model.AddJob(Job(1, "a", "5"));
  model.AddJob(Job(2, "b", "50"));
  model.sort(3, Qt::AscendingOrder);
  selection.select(model.index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  model.AddJob(Job(3, "c", "20"));
  EXPECT_EQ(Files(model), (std::vector<std::string>{"/nowhere/a", "/nowhere/c", "/nowhere/b"}));
  ASSERT_EQ(selection.selectedRows().size(), 1);
  EXPECT_EQ(model.FileAt(selection.selectedRows()[0].row()), "/nowhere/b");

  model.SetFilter("nowhere/b");
  model.AddJob(Job(4, "d", "1"));  // drops a, filtered out itself
  model.SetFilter("");
  EXPECT_EQ(Files(model), (std::vector<std::string>{"/nowhere/d", "/nowhere/c", "/nowhere/b"}));
  EXPECT_EQ(model.FileAt(selection.selectedRows()[0].row()), "/nowhere/b");
  model.AddJob(Job(0, "older", "1"));  // older than every kept row: not kept
  EXPECT_EQ(model.rowCount(), 3);
}

// Jobs that end out of order, under the bound, a sort and a filter, stand
// where a layout made afresh puts them.
TEST(JobListModelTest, AddedJobsStandWhereAFreshLayoutPutsThem) {
  for (int column : {-1, 3}) {
    for (const char* filter : {"", "1"}) {
      TJobListModel model(8);
      if (column >= 0) model.sort(column, Qt::AscendingOrder);
      model.SetFilter(filter);
      for (int i = 0; i < 60; ++i) {
        model.AddJob(Job(i % 4 == 3 ? i - 3 : i, "j" + std::to_string(i), std::to_string(i % 5)));
        const std::vector<std::string> added = Files(model);
        model.SetFilter("none");
        model.SetFilter(filter);
        ASSERT_EQ(Files(model), added) << "job " << i << ", column " << column;
      }
    }
  }
}

TEST(JobListModelTest, MergedRowsKeepTheSelectedJob) {
  TJobListModel model;
  QItemSelectionModel selection(&model);
  model.AddJob(Job(2, "b"));
  selection.select(model.index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  TJobHistory loaded;
  loaded.Add(Job(3, "c"));
  loaded.Add(Job(2, "b"));  // the same job, from its index
  loaded.Add(Job(1, "a"));
  model.MergeLoaded(std::move(loaded));
  EXPECT_EQ(Files(model), (std::vector<std::string>{"/nowhere/c", "/nowhere/b", "/nowhere/a"}));
  EXPECT_EQ(selection.selectedRows().at(0).row(), 1);
}

TEST(JobListModelTest, AGoneFileIsMarked) {
  TJobListModel model;
  model.AddJob(Job(1, "missing"));
  EXPECT_EQ(model.data(model.index(0, 4), Qt::DisplayRole).toString(), "/nowhere/missing");
  EXPECT_TRUE(model.CheckGone(0));
  EXPECT_EQ(model.data(model.index(0, 4), Qt::DisplayRole).toString(), "/nowhere/missing (gone)");
  EXPECT_EQ(model.data(model.index(0, 0), Qt::ToolTipRole).toString(), "/nowhere/missing (gone)");
  EXPECT_EQ(model.headerData(6, Qt::Horizontal, Qt::DisplayRole).toString(), "Job Name");
}

}  // namespace
