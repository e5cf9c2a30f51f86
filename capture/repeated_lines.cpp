#include "capture/repeated_lines.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "base/text.h"

namespace {

std::string WithCount(const std::string& line, int64_t more) {
  if (more == 0) return line;
  return line + " (and " + FormatInteger(more) + " more)";
}

}  // namespace

TRepeatedLines::TRepeatedLines(std::chrono::milliseconds interval, TNow now)
    : interval_(interval), now_(std::move(now)) {
  timer_.setSingleShot(true);
  QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { Flush(now_()); });
}

void TRepeatedLines::Offer(const std::string& key, const std::string& line, TShow show) {
  const TClock::time_point now = now_();
  if (std::optional<std::string> shown = Admit(key, line, now, show)) {
    show(*shown);
    return;
  }
  const TClock::time_point due = entries_.at(key).shownAt + interval_;
  if (!timer_.isActive() || due < aimedAt_) AimAt(due, now);
}

std::optional<std::string> TRepeatedLines::Admit(const std::string& key, const std::string& line,
                                                 TClock::time_point now, const TShow& show) {
  const auto found = entries_.find(key);
  if (found == entries_.end()) {
    if (entries_.size() >= kMaxKeys) ForgetQuietKeys(now);
    entries_.emplace(key, TEntry{now});
    return line;
  }
  TEntry& entry = found->second;
  if (now - entry.shownAt < interval_) {
    ++entry.heldBack;
    entry.lastHeld = line;
    entry.show = show;
    return std::nullopt;
  }
  // The lines held back are counted here rather than shown by themselves.
  const int64_t heldBack = entry.heldBack;
  entry = TEntry{now};
  return WithCount(line, heldBack);
}

// The last line held stands for itself; the count is of the others, so
// every line held back is accounted for once.
TRepeatedLines::TDue TRepeatedLines::TakeHeld(TEntry& entry, TClock::time_point now) {
  TDue due{std::move(entry.show), WithCount(entry.lastHeld, entry.heldBack - 1)};
  entry = TEntry{now};
  return due;
}

std::vector<TRepeatedLines::TDue> TRepeatedLines::TakeDue(TClock::time_point now, bool all) {
  std::vector<TDue> due;
  for (auto& [key, entry] : entries_) {
    if (entry.show && (all || now - entry.shownAt >= interval_))
      due.push_back(TakeHeld(entry, now));
  }
  return due;
}

// The lines are shown only after the walk: a show may offer a line of its
// own.
void TRepeatedLines::Flush(TClock::time_point now) {
  const std::vector<TDue> due = TakeDue(now, false);
  AimTimer(now);
  for (const TDue& held : due) held.show(held.line);
}

void TRepeatedLines::FlushAll() {
  const std::vector<TDue> due = TakeDue(now_(), true);
  timer_.stop();
  for (const TDue& held : due) held.show(held.line);
}

void TRepeatedLines::AimTimer(TClock::time_point now) {
  std::optional<TClock::time_point> earliest;
  for (const auto& [key, entry] : entries_) {
    if (entry.show && (!earliest || entry.shownAt < *earliest)) earliest = entry.shownAt;
  }
  if (earliest)
    AimAt(*earliest + interval_, now);
  else
    timer_.stop();
}

void TRepeatedLines::AimAt(TClock::time_point due, TClock::time_point now) {
  aimedAt_ = due;
  const auto wait =
      std::chrono::ceil<std::chrono::milliseconds>(std::max(due - now, TClock::duration::zero()));
  timer_.start(wait);
}

void TRepeatedLines::ForgetQuietKeys(TClock::time_point now) {
  std::erase_if(entries_, [now, this](const auto& entry) {
    return entry.second.heldBack == 0 && now - entry.second.shownAt >= interval_;
  });
  if (entries_.size() < kMaxKeys) return;
  // Every key still counts lines from the last interval: they are shown
  // early rather than lost, and then forgotten, rather than memory grown.
  const std::vector<TDue> due = TakeDue(now, true);
  entries_.clear();
  timer_.stop();
  for (const TDue& held : due) held.show(held.line);
}
