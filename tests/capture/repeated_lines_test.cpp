#include "capture/repeated_lines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "support/wait.h"

namespace {

using namespace std::chrono_literals;

struct TOffer {
  const char* key;
  std::chrono::milliseconds at;
  // What is shown; nullptr when the line is held back.
  const char* shown;
};

// Lines are "line" with the key, so every row reads as what the pane gets.
TEST(RepeatedLinesTest, ShowsEachKeyOnceASecondWithTheCountHeldBack) {
  const std::vector<TOffer> offers = {
      {"a", 0ms, "a"},        {"a", 10ms, nullptr},
      {"b", 20ms, "b"},  // another failure is never held back by the first
      {"a", 999ms, nullptr},  {"a", 1000ms, "a (and 2 more)"},
      {"a", 1500ms, nullptr}, {"a", 5000ms, "a (and 1 more)"},
      {"a", 7000ms, "a"},  // nothing held back since: no count
      {"b", 7000ms, "b"},
  };
  TRepeatedLines::TClock::time_point now{};
  TRepeatedLines lines(TRepeatedLines::kInterval, [&] { return now; });
  for (const TOffer& offer : offers) {
    now = TRepeatedLines::TClock::time_point{} + offer.at;
    std::optional<std::string> shown;
    lines.Offer(offer.key, offer.key, [&](const std::string& line) { shown = line; });
    if (offer.shown == nullptr)
      EXPECT_FALSE(shown) << offer.key << " at " << offer.at.count();
    else
      EXPECT_EQ(shown.value_or("<held back>"), offer.shown) << offer.at.count();
  }
}

// A flood of distinct failures never grows the memory of keys past its
// bound, and a key forgotten that way is shown again at once.
TEST(RepeatedLinesTest, ManyDistinctKeysAreAllShownWithinTheBound) {
  TRepeatedLines::TClock::time_point now{};
  TRepeatedLines lines(TRepeatedLines::kInterval, [&] { return now; });
  const std::size_t keys = TRepeatedLines::kMaxKeys * 3;
  std::size_t shown = 0;
  for (std::size_t i = 0; i < keys; ++i) {
    const std::string key = "port " + std::to_string(i);
    now = TRepeatedLines::TClock::time_point{} + std::chrono::milliseconds(i);
    lines.Offer(key, key, [&](const std::string&) { ++shown; });
  }
  EXPECT_EQ(shown, keys);
}

struct TOfferStep {
  const char* key;
  // The line offered; nullptr flushes instead (every key's lines when the
  // key is "*").
  const char* line;
  std::chrono::milliseconds at;
  std::vector<std::string> shown;
};

// Held lines are shown by the flush once their key's interval has run out,
// the last of them standing for itself and counting the others.
TEST(RepeatedLinesTest, HeldLinesAreShownWhenTheIntervalRunsOut) {
  const std::vector<TOfferStep> steps = {
      {"a", "a0", 0ms, {"a0"}},
      {"a", "a1", 10ms, {}},
      {"a", "a2", 20ms, {}},
      {"b", "b0", 30ms, {"b0"}},
      {"", nullptr, 999ms, {}},
      {"", nullptr, 1000ms, {"a2 (and 1 more)"}},
      {"a", "a3", 1500ms, {}},  // the flush counts as shown
      {"", nullptr, 2500ms, {"a3"}},
      {"a", "a4", 3600ms, {"a4"}},
      {"a", "a5", 3700ms, {}},
      // The failure comes back before the flush: counted with the new line.
      {"a", "a6", 4600ms, {"a6 (and 1 more)"}},
      {"", nullptr, 9000ms, {}},
      {"a", "a7", 9000ms, {"a7"}},
      {"a", "a8", 9100ms, {}},
      {"*", nullptr, 9200ms, {"a8"}},  // at the end: everything held, now
  };
  TRepeatedLines::TClock::time_point now{};
  TRepeatedLines lines(TRepeatedLines::kInterval, [&] { return now; });
  std::vector<std::string> shown;
  const auto show = [&](const std::string& line) { shown.push_back(line); };
  for (const TOfferStep& step : steps) {
    now = TRepeatedLines::TClock::time_point{} + step.at;
    shown.clear();
    if (step.line == nullptr && std::string(step.key) == "*")
      lines.FlushAll();
    else if (step.line == nullptr)
      lines.Flush(now);
    else
      lines.Offer(step.key, step.line, show);
    EXPECT_EQ(shown, step.shown) << step.at.count();
  }
}

// The count of the last burst is written though the failure never comes
// back: the timer shows it.
TEST(RepeatedLinesTest, TheTimerShowsTheLastBurst) {
  TRepeatedLines lines(20ms);
  std::vector<std::string> shown;
  const auto show = [&](const std::string& line) { shown.push_back(line); };
  for (const char* line : {"x0", "x1", "x2"}) lines.Offer("x", line, show);
  ASSERT_EQ(shown, std::vector<std::string>{"x0"});
  ASSERT_TRUE(WaitUntil([&] { return shown.size() == 2; }));
  EXPECT_EQ(shown[1], "x2 (and 1 more)");
}

// Past the bound of keys, within one interval, held counts are shown
// before their keys are forgotten.
TEST(RepeatedLinesTest, ForgettingKeysShowsTheirHeldCountsFirst) {
  TRepeatedLines lines(TRepeatedLines::kInterval,
                       [] { return TRepeatedLines::TClock::time_point{}; });
  std::vector<std::string> shown;
  const auto show = [&](const std::string& line) { shown.push_back(line); };
  lines.Offer("held", "held0", show);
  lines.Offer("held", "held1", show);
  for (std::size_t i = 0; i < TRepeatedLines::kMaxKeys; ++i)
    lines.Offer(std::to_string(i), std::to_string(i), show);
  ASSERT_EQ(shown.size(), TRepeatedLines::kMaxKeys + 2);
  EXPECT_EQ(shown[0], "held0");
  EXPECT_EQ(std::count(shown.begin(), shown.end(), "held1"), 1);
}

}  // namespace
