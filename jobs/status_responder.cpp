#include "jobs/status_responder.h"

#include <algorithm>

#include "jobs/escpos_replies.h"
#include "jobs/pjl_replies.h"
#include "jobs/zpl_replies.h"

namespace {

std::unique_ptr<TReplyProfile> MakeProfile(TReplyLanguage language) {
  switch (language) {
    case TReplyLanguage::EscPos:
      return std::make_unique<TEscPosReplies>();
    case TReplyLanguage::Zpl:
      return std::make_unique<TZplReplies>();
    case TReplyLanguage::Pjl:
      return std::make_unique<TPjlReplies>();
    case TReplyLanguage::None:
      break;
  }
  return nullptr;
}

std::vector<std::string> PatternsOf(const std::vector<TReplyRule>& rules) {
  std::vector<std::string> patterns;
  patterns.reserve(rules.size());
  for (const TReplyRule& rule : rules) patterns.push_back(rule.Pattern);
  return patterns;
}

}  // namespace

TStatusResponder::TStatusResponder(TReplyLanguage language, std::vector<TReplyRule> rules,
                                   TStateReader readState)
    : rules_(std::move(rules)),
      matcher_(PatternsOf(rules_)),
      profile_(MakeProfile(language)),
      readState_(std::move(readState)) {}

TStatusResponder::~TStatusResponder() = default;

std::size_t TStatusResponder::CarriedBytes() const {
  return matcher_.CarriedBytes() + (profile_ ? profile_->CarriedBytes() : 0);
}

TPrinterState TStatusResponder::State() {
  if (!stateThisReceive_) stateThisReceive_ = readState_ ? readState_() : TPrinterState::Ready;
  return *stateThisReceive_;
}

bool TStatusResponder::ClaimedByRule(uint64_t queryStart) const {
  return queryStart < claimedUpTo_;
}

void TStatusResponder::Answer(uint64_t queryEnd, std::string_view reply) {
  ++answered_;
  output_.emplace_back(queryEnd, std::string(reply));
}

void TStatusResponder::Announce(uint64_t end, std::string_view status) {
  output_.emplace_back(end, std::string(status));
}

void TStatusResponder::FlushOutput() {
  std::stable_sort(output_.begin(), output_.end(),
                   [](const auto& left, const auto& right) { return left.first < right.first; });
  for (const auto& [end, reply] : output_) replies_->append(reply);
  output_.clear();
}

void TStatusResponder::FeedProfile(std::string_view bytes, uint64_t offset) {
  if (!profile_ || bytes.empty()) return;
  profile_->Feed(bytes, offset, *this);
  FlushOutput();
}

void TStatusResponder::Received(std::string_view bytes, std::string& replies) {
  replies_ = &replies;
  stateThisReceive_.reset();
  if (profile_) {
    profile_->Resume(*this);
    FlushOutput();
  }
  matches_.clear();
  matcher_.Scan(bytes, offset_, matches_);
  std::size_t fed = 0;
  for (const TRuleMatcher::TMatch& match : matches_) {
    // The profile sees the bytes before the rule's last byte first, so that
    // its queries that end earlier are answered first; a query that takes
    // in the rule's last byte is the rule's.
    const auto last = static_cast<std::size_t>(match.End - offset_);
    FeedProfile(bytes.substr(fed, last - fed), offset_ + fed);
    fed = last;
    claimedUpTo_ = match.End + 1;
    const std::string& reply = rules_[match.Pattern].Reply;
    if (!reply.empty()) {
      ++answered_;
      replies.append(reply);
    }
  }
  FeedProfile(bytes.substr(fed), offset_ + fed);
  offset_ += bytes.size();
  replies_ = nullptr;
}
