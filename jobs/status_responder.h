#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "jobs/printer_state.h"
#include "jobs/reply_language.h"
#include "jobs/reply_profile.h"
#include "jobs/reply_rules.h"
#include "jobs/rule_matcher.h"

// Answers the status queries in one connection's bytes: the custom rules
// first, at every position, then the language's own queries. A query split
// across receives is answered once, when its last byte arrives. Pure byte
// logic: the caller receives, writes the replies and keeps the capture.
class TStatusResponder : private TReplyHost {
 public:
  using TStateReader = std::function<TPrinterState()>;

  TStatusResponder(TReplyLanguage language, std::vector<TReplyRule> rules, TStateReader readState);
  ~TStatusResponder() override;

  // Feeds the bytes of one receive, as they arrive; appends to replies the
  // answers to every query these bytes complete, in the order of the
  // queries (after any status that waited for a state change). The state is
  // read at most once per call, and only when a query or a watched status
  // needs it.
  void Received(std::string_view bytes, std::string& replies);
  // Queries answered so far, custom rules included; a rule with an empty
  // reply answers nothing and is not counted.
  int64_t Answered() const { return answered_; }
  // What the connection keeps of the stream between receives, for the tests
  // of its bound.
  std::size_t CarriedBytes() const;

 private:
  TPrinterState State() override;
  bool ClaimedByRule(uint64_t queryStart) const override;
  void Answer(uint64_t queryEnd, std::string_view reply) override;
  void Announce(uint64_t end, std::string_view status) override;

  void FeedProfile(std::string_view bytes, uint64_t offset);
  void FlushOutput();

  std::vector<TReplyRule> rules_;
  TRuleMatcher matcher_;
  std::unique_ptr<TReplyProfile> profile_;
  TStateReader readState_;
  std::optional<TPrinterState> stateThisReceive_;
  uint64_t offset_ = 0;
  // One past the stream offset of the last byte a rule answered (0: none).
  uint64_t claimedUpTo_ = 0;
  int64_t answered_ = 0;
  // Answers of the bytes fed so far in this receive, by the offset of
  // their last byte, put in stream order before they go out.
  std::vector<std::pair<uint64_t, std::string>> output_;
  std::vector<TRuleMatcher::TMatch> matches_;
  std::string* replies_ = nullptr;
};
