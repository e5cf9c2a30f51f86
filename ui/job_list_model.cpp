#include "ui/job_list_model.h"

#include <QFont>
#include <algorithm>
#include <array>
#include <unordered_map>
#include <utility>

namespace {

constexpr std::array<const char*, TJobListModel::kColumns> kHeaders = {
    "End", "Port", "Peer", "Bytes", "File", "Outcome", "Job Name", "User"};

THistoryColumn ColumnOf(int section) { return static_cast<THistoryColumn>(section); }

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

TJobListModel::TJobListModel(std::size_t bound, QObject* parent)
    : QAbstractTableModel(parent), history_(bound) {}

int TJobListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

int TJobListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

QVariant TJobListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const THistoryRow& row = history_.Row(HistoryIndex(index.row()));
  const THistoryColumn column = ColumnOf(index.column());
  const bool goneFile = row.Gone && column == THistoryColumn::File;
  switch (role) {
    case Qt::DisplayRole: {
      QString text = FromUtf8(row.Text(column));
      return goneFile ? text + kGoneMark : text;
    }
    case Qt::ToolTipRole:
      return row.Gone ? FromUtf8(row.Text(THistoryColumn::File)) + kGoneMark : QVariant();
    case Qt::FontRole: {
      if (!goneFile) return {};
      QFont font;
      font.setItalic(true);
      return font;
    }
    case Qt::TextAlignmentRole:
      return column == THistoryColumn::Bytes ? QVariant((Qt::AlignRight | Qt::AlignVCenter).toInt())
                                             : QVariant();
    default:
      return {};
  }
}

QVariant TJobListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      section >= kColumns)
    return QAbstractTableModel::headerData(section, orientation, role);
  return QString(kHeaders[static_cast<std::size_t>(section)]);
}

std::vector<std::size_t> TJobListModel::Arranged() const {
  std::vector<std::size_t> arranged = history_.Matching(filterUtf8_);
  // The history is newest first already: the usual order costs no sort.
  if (sortColumn_ != THistoryColumn::End || ascending_)
    history_.Sort(arranged, sortColumn_, ascending_);
  return arranged;
}

// The shown rows are ordered by the column, equal ones newest first (the
// stable sort keeps the history's order), so a binary search finds the place.
std::size_t TJobListModel::InsertionPlace(std::size_t index) const {
  const auto before = [this](std::size_t shownSerial, std::size_t added) {
    const std::size_t shownIndex = IndexOf(shownSerial);
    const int order = history_.Compare(shownIndex, added, sortColumn_);
    if (order != 0) return ascending_ ? order < 0 : order > 0;
    return shownIndex < added;
  };
  return static_cast<std::size_t>(std::lower_bound(shown_.begin(), shown_.end(), index, before) -
                                  shown_.begin());
}

// A job that ends after every other one, as most do, costs no walk over the
// shown rows: its serial is the next one, the others keep theirs, and the
// newest-first order puts it at the front and the oldest at the back.
void TJobListModel::AddJob(THistoryRow row) {
  const std::size_t oldest = top_ - history_.Size();
  const TJobHistory::TAdded added = history_.Add(std::move(row));
  if (added.Position == TJobHistory::kNotKept) return;
  ++top_;
  const std::size_t serial = SerialOf(added.Position);
  // One that ended before others moves the newer ones' serials up by one.
  if (added.Position > 0)
    for (std::size_t& shown : shown_)
      if (shown >= serial) ++shown;
  if (added.DroppedOldest) Unshow(oldest);
  if (!history_.Matches(added.Position, filterUtf8_)) return;
  const std::size_t place = InsertionPlace(added.Position);
  beginInsertRows({}, static_cast<int>(place), static_cast<int>(place));
  shown_.insert(shown_.begin() + static_cast<std::ptrdiff_t>(place), serial);
  endInsertRows();
}

void TJobListModel::Unshow(std::size_t serial) {
  const auto found = !shown_.empty() && shown_.back() == serial
                         ? std::prev(shown_.end())
                         : std::find(shown_.begin(), shown_.end(), serial);
  if (found == shown_.end()) return;
  const int at = static_cast<int>(found - shown_.begin());
  beginRemoveRows({}, at, at);
  shown_.erase(found);
  endRemoveRows();
}

void TJobListModel::MergeLoaded(TJobHistory loaded) {
  // The selected jobs are found again by who they are, since every history
  // index changes; one the bound drops is no longer shown.
  const QModelIndexList before = BeginRelayout();
  std::unordered_map<std::size_t, std::string> keyOf;
  for (const QModelIndex& index : before)
    if (index.isValid()) keyOf.emplace(HistoryIndex(index.row()), JobKeyAt(index.row()));
  history_.Merge(std::move(loaded));
  std::unordered_map<std::string, std::size_t> newIndexOf;
  for (const auto& [old, key] : keyOf) newIndexOf.emplace(key, TJobHistory::kNotKept);
  for (std::size_t index = 0; index < history_.Size() && !keyOf.empty(); ++index) {
    const auto found = newIndexOf.find(TJobHistory::JobKey(history_.Row(index)));
    if (found != newIndexOf.end()) found->second = index;
  }
  FinishRelayout(
      before, [&](std::size_t old) { return newIndexOf.at(keyOf.at(old)); }, Arranged());
}

void TJobListModel::SetFilter(const QString& filter) {
  std::string utf8 = filter.toStdString();
  if (utf8 == filterUtf8_) return;
  filterUtf8_ = std::move(utf8);
  FinishRelayout(
      BeginRelayout(), [](std::size_t old) { return old; }, Arranged());
}

void TJobListModel::sort(int column, Qt::SortOrder order) {
  if (column < 0 || column >= kColumns) return;
  sortColumn_ = ColumnOf(column);
  ascending_ = order == Qt::AscendingOrder;
  FinishRelayout(
      BeginRelayout(), [](std::size_t old) { return old; }, Arranged());
}

QModelIndexList TJobListModel::BeginRelayout() {
  emit layoutAboutToBeChanged();
  return persistentIndexList();
}

void TJobListModel::FinishRelayout(const QModelIndexList& before,
                                   const std::function<std::size_t(std::size_t)>& newIndexOf,
                                   std::vector<std::size_t> arranged) {
  std::vector<std::size_t> jobs;
  jobs.reserve(static_cast<std::size_t>(before.size()));
  for (const QModelIndex& index : before)
    jobs.push_back(index.isValid() ? newIndexOf(HistoryIndex(index.row())) : 0);
  // The serials are counted afresh from the history as it is now.
  top_ = history_.Size();
  shown_.clear();
  std::unordered_map<std::size_t, int> rowOf;
  for (std::size_t job : jobs) rowOf.emplace(job, -1);
  for (std::size_t row = 0; row < arranged.size(); ++row) {
    shown_.push_back(SerialOf(arranged[row]));
    const auto found = rowOf.find(arranged[row]);
    if (found != rowOf.end()) found->second = static_cast<int>(row);
  }
  QModelIndexList after;
  for (qsizetype i = 0; i < before.size(); ++i) {
    const int row = before[i].isValid() ? rowOf.at(jobs[static_cast<std::size_t>(i)]) : -1;
    after.push_back(row < 0 ? QModelIndex() : index(row, before[i].column()));
  }
  changePersistentIndexList(before, after);
  emit layoutChanged();
}

std::string TJobListModel::FileAt(int row) const {
  return std::string(history_.Row(HistoryIndex(row)).Text(THistoryColumn::File));
}

bool TJobListModel::GoneAt(int row) const { return history_.Row(HistoryIndex(row)).Gone; }

bool TJobListModel::CheckGone(int row) {
  const bool was = GoneAt(row);
  const bool gone = history_.CheckGone(HistoryIndex(row));
  if (gone != was) emit dataChanged(index(row, 0), index(row, kColumns - 1));
  return gone;
}

std::string TJobListModel::JobKeyAt(int row) const {
  return TJobHistory::JobKey(history_.Row(HistoryIndex(row)));
}
