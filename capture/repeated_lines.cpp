#include "capture/repeated_lines.h"

#include "base/text.h"

std::optional<std::string> TRepeatedLines::Pass(const std::string& key, const std::string& line,
                                                TClock::time_point now) {
  const auto found = entries_.find(key);
  if (found == entries_.end()) {
    if (entries_.size() >= kMaxKeys) ForgetQuietKeys(now);
    entries_.emplace(key, TEntry{now, 0});
    return line;
  }
  TEntry& entry = found->second;
  if (now - entry.shownAt < kInterval) {
    ++entry.heldBack;
    return std::nullopt;
  }
  const int64_t heldBack = entry.heldBack;
  entry = TEntry{now, 0};
  if (heldBack == 0) return line;
  return line + " (and " + FormatInteger(heldBack) + " more)";
}

void TRepeatedLines::ForgetQuietKeys(TClock::time_point now) {
  std::erase_if(entries_, [now](const auto& entry) {
    return entry.second.heldBack == 0 && now - entry.second.shownAt >= kInterval;
  });
  // Every key still counts lines from the last second: the oldest counts go,
  // rather than memory.
  if (entries_.size() >= kMaxKeys) entries_.clear();
}
