#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "jobs/job_history.h"

// The finished jobs as the Job List shows them: one row per job, newest
// first unless the reader sorts by a column, narrowed by a filter text. It
// lives for the whole run, so jobs that finish while the window is closed
// are there when it opens. Rows come and go with row signals of their own,
// so a view keeps its selection and its place as jobs finish.
class TJobListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // The columns shown, in order; each is the history's column of that name.
  static constexpr int kColumns = 8;
  // Appended to a gone file's cell and its tooltip.
  static constexpr const char* kGoneMark = " (gone)";

  explicit TJobListModel(std::size_t bound = TJobHistory::kDefaultBound, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  void sort(int column, Qt::SortOrder order) override;

  // A job that has just finished; it takes its place under the filter and
  // the sort, and the oldest row goes when the bound is reached.
  void AddJob(THistoryRow row);
  // A history loaded apart (off the UI thread), merged in; jobs already
  // held stay once. Views keep their selected jobs.
  void MergeLoaded(TJobHistory loaded);
  void SetFilter(const QString& filter);

  // The shown row's capture file (its full path) and whether it is gone.
  std::string FileAt(int row) const;
  bool GoneAt(int row) const;
  // Looks whether the shown row's file is still there and shows the answer;
  // answers Gone.
  bool CheckGone(int row);

 private:
  // Who the shown row's job is (its file and end), whatever its index.
  std::string JobKeyAt(int row) const;
  std::size_t HistoryIndex(int row) const {
    return IndexOf(shown_.at(static_cast<std::size_t>(row)));
  }
  // A row's serial stays while newer jobs come, where its history index
  // (0 for the newest) grows with each.
  std::size_t SerialOf(std::size_t index) const { return top_ - 1 - index; }
  std::size_t IndexOf(std::size_t serial) const { return top_ - 1 - serial; }
  // Takes the row of that serial off the shown ones, if it is shown.
  void Unshow(std::size_t serial);
  // The rows matching the filter in the chosen order.
  std::vector<std::size_t> Arranged() const;
  // Where a history row belongs among the shown ones.
  std::size_t InsertionPlace(std::size_t index) const;
  // Shows new rows, moving every persistent index (a view's selection) to
  // where its job now stands; newIndexOf maps an old history index to the
  // new one. The views make persistent indexes of their own when told of
  // the change, so the indexes to move are those there after BeginRelayout.
  QModelIndexList BeginRelayout();
  void FinishRelayout(const QModelIndexList& before,
                      const std::function<std::size_t(std::size_t)>& newIndexOf,
                      std::vector<std::size_t> arranged);

  TJobHistory history_;
  // Serials of the shown rows, in the shown order; a deque, since the
  // newest row comes in at the front.
  std::deque<std::size_t> shown_;
  // One past the newest row's serial.
  std::size_t top_ = 0;
  std::string filterUtf8_;
  THistoryColumn sortColumn_ = THistoryColumn::End;
  bool ascending_ = false;
};
