#include "capture/repeated_lines.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

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
  TRepeatedLines lines;
  const TRepeatedLines::TClock::time_point start{};
  for (const TOffer& offer : offers) {
    const std::optional<std::string> shown = lines.Pass(offer.key, offer.key, start + offer.at);
    if (offer.shown == nullptr)
      EXPECT_FALSE(shown) << offer.key << " at " << offer.at.count();
    else
      EXPECT_EQ(shown.value_or("<held back>"), offer.shown) << offer.at.count();
  }
}

// A flood of distinct failures never grows the memory of keys past its
// bound, and a key forgotten that way is shown again at once.
TEST(RepeatedLinesTest, ManyDistinctKeysAreAllShownWithinTheBound) {
  TRepeatedLines lines;
  const TRepeatedLines::TClock::time_point start{};
  const std::size_t keys = TRepeatedLines::kMaxKeys * 3;
  std::size_t shown = 0;
  for (std::size_t i = 0; i < keys; ++i) {
    const std::string key = "port " + std::to_string(i);
    shown += lines.Pass(key, key, start + std::chrono::milliseconds(i)).has_value();
  }
  EXPECT_EQ(shown, keys);
}

}  // namespace
