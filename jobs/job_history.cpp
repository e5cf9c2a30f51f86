#include "jobs/job_history.h"

#include <sys/stat.h>

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>
#include <QStringView>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iterator>
#include <unordered_set>
#include <utility>

#include "base/paths.h"
#include "base/system_calls.h"
#include "base/text.h"
#include "jobs/job_index.h"

namespace {

// A field longer than a path can be is cut, so that a row's ends fit in 16
// bits; no field the program writes comes near it.
constexpr std::size_t kMaxFieldBytes = 4096;

char FoldAscii(char byte) {
  return byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte + 32) : byte;
}

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char byte) { return static_cast<unsigned char>(byte) < 0x80; });
}

// Reads exactly count decimal digits at text[at], advancing at; -1 when
// they are not there.
int Digits(std::string_view text, std::size_t& at, std::size_t count) {
  if (at + count > text.size()) return -1;
  int value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const char byte = text[at + i];
    if (!IsDecimalDigit(byte)) return -1;
    value = value * 10 + (byte - '0');
  }
  at += count;
  return value;
}

bool Literal(std::string_view text, std::size_t& at, char expected) {
  if (at >= text.size() || text[at] != expected) return false;
  ++at;
  return true;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// The offset east of UTC in minutes: "Z", "+01:00" or "-05:30".
bool ReadOffset(std::string_view text, std::size_t& at, int64_t& minutes) {
  if (Literal(text, at, 'Z')) {
    minutes = 0;
    return true;
  }
  const bool east = Literal(text, at, '+');
  if (!east && !Literal(text, at, '-')) return false;
  const int hours = Digits(text, at, 2);
  if (hours < 0 || !Literal(text, at, ':')) return false;
  const int rest = Digits(text, at, 2);
  if (rest < 0) return false;
  minutes = (east ? 1 : -1) * (hours * 60 + rest);
  return true;
}

int64_t ParseNumberOr(std::string_view digits, int64_t otherwise) {
  if (digits.empty() || digits.size() > 18) return otherwise;
  int64_t value = 0;
  for (char byte : digits) {
    if (!IsDecimalDigit(byte)) return otherwise;
    value = value * 10 + (byte - '0');
  }
  return value;
}

// A search with ASCII letters folded. The places where the first byte may
// match are found by memchr, which looks at many bytes at a time, in either
// case; only there are the rest compared.
class TFoldedSearch {
 public:
  explicit TFoldedSearch(std::string_view needle) {
    for (char byte : needle) needle_ += FoldAscii(byte);
    hasLetters_ = std::any_of(needle_.begin(), needle_.end(),
                              [](char byte) { return byte >= 'a' && byte <= 'z'; });
  }

  bool In(std::string_view text) const {
    const std::size_t length = needle_.size();
    if (length == 0) return true;
    if (text.size() < length) return false;
    if (!hasLetters_) return ::memmem(text.data(), text.size(), needle_.data(), length) != nullptr;
    const char lower = needle_[0];
    const char upper = UpperAscii(lower);
    const char* at = text.data();
    const char* const last = text.data() + (text.size() - length);
    const char* nextLower = Find(at, last, lower);
    const char* nextUpper = upper == lower ? nullptr : Find(at, last, upper);
    while (nextLower != nullptr || nextUpper != nullptr) {
      const bool lowerFirst =
          nextUpper == nullptr || (nextLower != nullptr && nextLower < nextUpper);
      at = lowerFirst ? nextLower : nextUpper;
      if (RestMatches(at)) return true;
      if (lowerFirst)
        nextLower = Find(at + 1, last, lower);
      else
        nextUpper = Find(at + 1, last, upper);
    }
    return false;
  }

 private:
  // The first of byte from at to last, last included; nullptr when none.
  static const char* Find(const char* at, const char* last, char byte) {
    if (at > last) return nullptr;
    return static_cast<const char*>(std::memchr(at, byte, static_cast<std::size_t>(last - at) + 1));
  }

  bool RestMatches(const char* at) const {
    for (std::size_t i = 1; i < needle_.size(); ++i)
      if (FoldAscii(at[i]) != needle_[i]) return false;
    return true;
  }

  std::string needle_;
  // Without letters there is nothing to fold: the library's search serves.
  bool hasLetters_ = false;
};

// Beyond ASCII, letter case needs whole characters: a row's bytes are
// decoded into one buffer that is used again for every row, and Qt's
// folding compares them without making a string per row.
class TUnicodeSearch {
 public:
  explicit TUnicodeSearch(std::string_view needle)
      : needle_(QString::fromUtf8(needle.data(), static_cast<qsizetype>(needle.size()))) {}

  bool In(std::string_view text) {
    // UTF-8 never takes fewer bytes than UTF-16 takes units.
    if (buffer_.size() < text.size()) buffer_.resize(text.size());
    decoder_.resetState();
    const QChar* end = decoder_.appendToBuffer(
        buffer_.data(), QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
    return QStringView(buffer_.data(), end - buffer_.data()).contains(needle_, Qt::CaseInsensitive);
  }

 private:
  QString needle_;
  QStringDecoder decoder_{QStringDecoder::Utf8};
  std::vector<QChar> buffer_;
};

// Negative, zero or positive as left sorts before, with or after right:
// letter case ignored, a run of digits compared by its value.
int CompareNatural(std::string_view left, std::string_view right) {
  // Rows mostly share a long start (a folder, a date): it is passed over
  // byte for byte, back to the start of a run of digits it ends in.
  const std::size_t shortest = std::min(left.size(), right.size());
  std::size_t same = 0;
  while (same < shortest && left[same] == right[same]) ++same;
  while (same > 0 && IsDecimalDigit(left[same - 1])) --same;
  std::size_t i = same, j = same;
  while (i < left.size() && j < right.size()) {
    if (IsDecimalDigit(left[i]) && IsDecimalDigit(right[j])) {
      while (i < left.size() && left[i] == '0') ++i;
      while (j < right.size() && right[j] == '0') ++j;
      std::size_t leftEnd = i, rightEnd = j;
      while (leftEnd < left.size() && IsDecimalDigit(left[leftEnd])) ++leftEnd;
      while (rightEnd < right.size() && IsDecimalDigit(right[rightEnd])) ++rightEnd;
      if (leftEnd - i != rightEnd - j) return leftEnd - i < rightEnd - j ? -1 : 1;
      const int digits = left.substr(i, leftEnd - i).compare(right.substr(j, rightEnd - j));
      if (digits != 0) return digits;
      i = leftEnd;
      j = rightEnd;
      continue;
    }
    const auto a = static_cast<unsigned char>(FoldAscii(left[i++]));
    const auto b = static_cast<unsigned char>(FoldAscii(right[j++]));
    if (a != b) return a < b ? -1 : 1;
  }
  const std::size_t leftRest = left.size() - i, rightRest = right.size() - j;
  return leftRest == rightRest ? 0 : (leftRest < rightRest ? -1 : 1);
}

bool EndsBefore(const THistoryRow& left, const THistoryRow& right) {
  return left.EndMilliseconds < right.EndMilliseconds;
}

bool IsNumberColumn(THistoryColumn column) {
  return column == THistoryColumn::End || column == THistoryColumn::Bytes;
}

int64_t NumberOf(const THistoryRow& row, THistoryColumn column) {
  return column == THistoryColumn::End ? row.EndMilliseconds : row.Bytes;
}

}  // namespace

std::string TJobHistory::JobKey(const THistoryRow& row) {
  std::string key(row.Text(THistoryColumn::File));
  key += '\0';
  key += row.Text(THistoryColumn::End);
  return key;
}

int64_t ParseIndexTime(std::string_view text) {
  std::size_t at = 0;
  const int year = Digits(text, at, 4);
  const bool dateRead = year >= 0 && Literal(text, at, '-');
  const int month = dateRead ? Digits(text, at, 2) : -1;
  const int day = month >= 0 && Literal(text, at, '-') ? Digits(text, at, 2) : -1;
  const int hour = day >= 0 && Literal(text, at, 'T') ? Digits(text, at, 2) : -1;
  const int minute = hour >= 0 && Literal(text, at, ':') ? Digits(text, at, 2) : -1;
  const int second = minute >= 0 && Literal(text, at, ':') ? Digits(text, at, 2) : -1;
  const int millis = second >= 0 && Literal(text, at, '.') ? Digits(text, at, 3) : -1;
  int64_t offset = 0;
  if (millis < 0 || !ReadOffset(text, at, offset) || at != text.size()) return kUnknownTime;
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
    return kUnknownTime;
  const int64_t minutes = DaysFromCivil(year, month, day) * 1440 + hour * 60 + minute - offset;
  return (minutes * 60 + second) * 1000 + millis;
}

void THistoryRow::Pack(const std::array<std::string_view, kHistoryColumns>& texts) {
  std::size_t total = 0;
  for (std::string_view text : texts) total += std::min(text.size(), kMaxFieldBytes) + 1;
  packed_.reserve(total);
  for (std::size_t i = 0; i < kHistoryColumns; ++i) {
    packed_ += texts[i].substr(0, kMaxFieldBytes);
    ends_[i] = static_cast<uint16_t>(packed_.size());
    packed_ += '\0';
  }
  ascii_ = IsAscii(packed_);
}

std::string_view THistoryRow::Text(THistoryColumn column) const {
  const auto index = static_cast<std::size_t>(column);
  const std::size_t begin = index == 0 ? 0 : ends_[index - 1] + 1u;
  return std::string_view(packed_).substr(begin, ends_[index] - begin);
}

THistoryRow THistoryRow::FromJob(const TJob& job) {
  THistoryRow row;
  row.EndMilliseconds =
      std::chrono::floor<std::chrono::milliseconds>(job.End).time_since_epoch().count();
  row.Bytes = job.FileSize < 0 ? -1 : job.FileSize;
  row.PeerPort = job.PeerPort;
  const std::string end = FormatLocalIsoTime(job.End);
  const std::string bytes = row.Bytes < 0 ? std::string() : FormatInteger(row.Bytes);
  const std::string outcome = job.OutcomeText();
  const TJobLabels& labels = job.Labels;
  row.Pack({end, job.Port, job.PeerAddress, bytes, job.FileName, outcome, labels.JobName,
            labels.User, labels.Queue, labels.SourceName, labels.Host});
  return row;
}

THistoryRow THistoryRow::FromIndexLine(const TJobIndexFields& line, std::string_view folder) {
  THistoryRow row;
  const std::string& end = line[TIndexColumn::End];
  const std::string& bytes = line[TIndexColumn::Bytes];
  row.EndMilliseconds = ParseIndexTime(end);
  row.Bytes = ParseNumberOr(bytes, -1);
  ParsePortNumber(line[TIndexColumn::PeerPort], row.PeerPort);
  // The writer names a file outside its folder by its full path.
  const std::string& file = line[TIndexColumn::File];
  const std::string path =
      file.empty() || file.front() == '/' ? file : IncludeSeparator(folder) + file;
  row.Pack({end, line[TIndexColumn::Port], line[TIndexColumn::PeerAddress],
            row.Bytes < 0 ? std::string_view() : std::string_view(bytes), path,
            line[TIndexColumn::Outcome], line[TIndexColumn::JobName], line[TIndexColumn::User],
            line[TIndexColumn::Queue], line[TIndexColumn::SourceFile], line[TIndexColumn::Host]});
  return row;
}

TJobHistory::TJobHistory(std::size_t bound) : bound_(std::max<std::size_t>(bound, 1)) {}

const THistoryRow& TJobHistory::Row(std::size_t index) const { return rows_.at(Stored(index)); }

TJobHistory::TAdded TJobHistory::Add(THistoryRow row) {
  // Jobs mostly end in the order they are added: the search starts from the
  // newest end.
  auto place = rows_.end();
  while (place != rows_.begin() && EndsBefore(row, *std::prev(place))) --place;
  const auto stored = static_cast<std::size_t>(place - rows_.begin());
  rows_.insert(place, std::move(row));
  TAdded added;
  added.Position = rows_.size() - 1 - stored;
  if (rows_.size() > bound_) {
    rows_.pop_front();
    added.DroppedOldest = true;
    if (stored == 0) added.Position = kNotKept;
  }
  return added;
}

std::string TJobHistory::IndexPathIn(const std::string& folder) {
  return IncludeSeparator(folder) + kJobIndexName;
}

std::unordered_set<std::string> TJobHistory::HeldKeys() const {
  std::unordered_set<std::string> held;
  held.reserve(rows_.size());
  for (const THistoryRow& row : rows_) held.insert(JobKey(row));
  return held;
}

void TJobHistory::MergeInOrder(std::deque<THistoryRow>& newRows) {
  const auto middle = static_cast<std::ptrdiff_t>(rows_.size());
  std::move(newRows.begin(), newRows.end(), std::back_inserter(rows_));
  newRows.clear();
  // Both runs are in end order already, so one merge orders the whole.
  std::inplace_merge(rows_.begin(), rows_.begin() + middle, rows_.end(), EndsBefore);
  DropBeyondBound();
}

TJobHistory::TLoaded TJobHistory::Load(const std::string& folder,
                                       const std::function<bool()>& stopRequested) {
  const std::unordered_set<std::string> held = HeldKeys();
  TLoaded loaded;
  // Only the newest lines of a long index are ever held.
  std::deque<THistoryRow> newest;
  loaded.Tally = ReadJobIndex(IndexPathIn(folder), [&](const TJobIndexFields& line) {
    if (stopRequested && stopRequested()) throw EJobIndexLoadStopped();
    THistoryRow row = THistoryRow::FromIndexLine(line, folder);
    if (held.count(JobKey(row)) != 0) {
      ++loaded.AlreadyHeld;
      return;
    }
    newest.push_back(std::move(row));
    if (newest.size() > bound_) newest.pop_front();
  });
  // Lines of programs sharing the index may stand a little out of order.
  std::stable_sort(newest.begin(), newest.end(), EndsBefore);
  loaded.Added = newest.size();
  MergeInOrder(newest);
  return loaded;
}

std::size_t TJobHistory::Merge(TJobHistory&& other) {
  std::unordered_set<std::string> held = HeldKeys();
  std::deque<THistoryRow> fresh;
  for (THistoryRow& row : other.rows_)
    if (held.insert(JobKey(row)).second) fresh.push_back(std::move(row));
  other.rows_.clear();
  const std::size_t added = fresh.size();
  MergeInOrder(fresh);
  return added;
}

void TJobHistory::DropBeyondBound() {
  if (rows_.size() <= bound_) return;
  rows_.erase(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(rows_.size() - bound_));
}

std::vector<std::size_t> TJobHistory::Matching(std::string_view filter) const {
  std::vector<std::size_t> matching;
  const TFoldedSearch ascii(filter);
  // A filter beyond ASCII can only be in rows beyond it, and only those pay
  // for decoding.
  const bool beyondAscii = !IsAscii(filter);
  TUnicodeSearch unicode(beyondAscii ? filter : std::string_view());
  for (std::size_t index = 0; index < rows_.size(); ++index) {
    const THistoryRow& row = rows_[Stored(index)];
    const bool found =
        beyondAscii ? !row.ascii_ && unicode.In(row.Packed()) : ascii.In(row.Packed());
    if (found) matching.push_back(index);
  }
  return matching;
}

void TJobHistory::Sort(std::vector<std::size_t>& indices, THistoryColumn column,
                       bool ascending) const {
  // Each row is looked up once, not at every comparison.
  struct TKey {
    std::size_t Index;
    int64_t Number;
    std::string_view Text;
  };
  const bool byNumber = IsNumberColumn(column);
  std::vector<TKey> keys;
  keys.reserve(indices.size());
  for (std::size_t index : indices) {
    const THistoryRow& row = Row(index);
    const int64_t number = NumberOf(row, column);
    keys.push_back({index, number, byNumber ? std::string_view() : row.Text(column)});
  }
  const auto before = [byNumber](const TKey& left, const TKey& right) {
    return byNumber ? left.Number < right.Number : CompareNatural(left.Text, right.Text) < 0;
  };
  if (ascending)
    std::stable_sort(keys.begin(), keys.end(), before);
  else
    std::stable_sort(keys.begin(), keys.end(), [&before](const TKey& left, const TKey& right) {
      return before(right, left);
    });
  for (std::size_t i = 0; i < keys.size(); ++i) indices[i] = keys[i].Index;
}

int TJobHistory::Compare(std::size_t left, std::size_t right, THistoryColumn column) const {
  const THistoryRow& a = Row(left);
  const THistoryRow& b = Row(right);
  if (!IsNumberColumn(column)) return CompareNatural(a.Text(column), b.Text(column));
  const int64_t x = NumberOf(a, column), y = NumberOf(b, column);
  return x == y ? 0 : (x < y ? -1 : 1);
}

bool TJobHistory::Matches(std::size_t index, std::string_view filter) const {
  const THistoryRow& row = Row(index);
  if (IsAscii(filter)) return TFoldedSearch(filter).In(row.Packed());
  return !row.ascii_ && TUnicodeSearch(filter).In(row.Packed());
}

bool TJobHistory::CheckGone(std::size_t index) {
  THistoryRow& row = rows_.at(Stored(index));
  const std::string path(row.Text(THistoryColumn::File));
  struct stat status {};
  if (FileCalls().PathStatus(path.c_str(), &status) == 0)
    row.Gone = false;
  else if (errno == ENOENT || errno == ENOTDIR)
    row.Gone = true;
  return row.Gone;
}
