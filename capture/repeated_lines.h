#pragma once

#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// Holds back error lines that a flood of peers repeats: a line whose key
// (its text, port and cause) was shown less than an interval ago is only
// counted. A distinct failure always gets its line at once.
//
// Offer shows what it holds back by itself: once a key's interval has run
// out, its last held line is shown with " (and N more)" for the others, so
// the count of a burst is written even when the failure never comes back.
class TRepeatedLines {
 public:
  using TClock = std::chrono::steady_clock;
  using TNow = std::function<TClock::time_point()>;
  // Shows one line; called at once or, for a held line, by the timer.
  using TShow = std::function<void(const std::string& line)>;
  static constexpr std::chrono::milliseconds kInterval{1000};
  // Keys remembered at most; past that, keys with nothing held back that
  // were last shown long enough ago are forgotten, so a flood of distinct
  // failures cannot grow memory.
  static constexpr std::size_t kMaxKeys = 4096;

  explicit TRepeatedLines(std::chrono::milliseconds interval = kInterval, TNow now = &TClock::now);
  TRepeatedLines(const TRepeatedLines&) = delete;
  TRepeatedLines& operator=(const TRepeatedLines&) = delete;

  // Shows line through show now, or holds it back and shows it (with the
  // count of the others held back with it) within the interval.
  void Offer(const std::string& key, const std::string& line, TShow show);

  // Shows the lines Offer holds back for every key whose interval has run
  // out by now. The timer calls it; an owner may call it too.
  void Flush(TClock::time_point now);
  // Shows every line Offer holds back now, whatever its interval: at the
  // end, so that the counts of the last second are not lost.
  void FlushAll();

 private:
  struct TEntry {
    explicit TEntry(TClock::time_point at) : shownAt(at) {}
    TClock::time_point shownAt;
    int64_t heldBack = 0;
    // What Offer held last, and where it goes.
    std::string lastHeld;
    TShow show;
  };
  // A held line made ready to show.
  struct TDue {
    TShow show;
    std::string line;
  };
  std::optional<std::string> Admit(const std::string& key, const std::string& line,
                                   TClock::time_point now, const TShow& show);
  TDue TakeHeld(TEntry& entry, TClock::time_point now);
  // Takes the held lines whose interval has run out, or all of them.
  std::vector<TDue> TakeDue(TClock::time_point now, bool all);
  // Aims the timer at the earliest key that holds a line for Offer.
  void AimTimer(TClock::time_point now);
  void AimAt(TClock::time_point due, TClock::time_point now);
  void ForgetQuietKeys(TClock::time_point now);

  const std::chrono::milliseconds interval_;
  const TNow now_;
  std::unordered_map<std::string, TEntry> entries_;
  QTimer timer_;
  TClock::time_point aimedAt_{};
};
