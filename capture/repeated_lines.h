#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

// Holds back error lines that a flood of peers repeats: a line whose key
// (its text, port and cause) was shown less than a second ago is only
// counted, and the next line of that key that is shown says how many were
// held back. A distinct failure always gets its line at once.
class TRepeatedLines {
 public:
  using TClock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kInterval{1000};
  // Keys remembered at most; past that, keys with nothing held back that
  // were last shown long enough ago are forgotten, so a flood of distinct
  // failures cannot grow memory.
  static constexpr std::size_t kMaxKeys = 4096;

  // The line to show now, with " (and N more)" when N lines of the key were
  // held back since the last one shown; nothing when this one is held back.
  std::optional<std::string> Pass(const std::string& key, const std::string& line,
                                  TClock::time_point now);

 private:
  struct TEntry {
    TClock::time_point shownAt;
    int64_t heldBack = 0;
  };
  void ForgetQuietKeys(TClock::time_point now);

  std::unordered_map<std::string, TEntry> entries_;
};
