#include "jobs/rule_matcher.h"

#include <algorithm>

TRuleMatcher::TRuleMatcher(std::vector<std::string> patterns) : patterns_(std::move(patterns)) {
  for (const std::string& pattern : patterns_) longest_ = std::max(longest_, pattern.size());
}

std::size_t TRuleMatcher::ScanRegion(std::string_view region, std::size_t from,
                                     uint64_t regionOffset, std::vector<TMatch>& matches) const {
  constexpr std::size_t npos = std::string_view::npos;
  // Each pattern's next occurrence from `from` on; find() looks for the
  // first byte with memchr, so long stretches without it cost little.
  std::vector<std::size_t> next(patterns_.size());
  for (std::size_t i = 0; i < patterns_.size(); ++i) next[i] = region.find(patterns_[i], from);
  while (true) {
    std::size_t best = npos;
    std::size_t bestEnd = npos;
    for (std::size_t i = 0; i < patterns_.size(); ++i) {
      if (next[i] == npos) continue;
      const std::size_t end = next[i] + patterns_[i].size();
      if (end < bestEnd) {
        best = i;
        bestEnd = end;
      }
    }
    if (best == npos) return from;
    matches.push_back({best, regionOffset + bestEnd - 1});
    from = bestEnd;
    for (std::size_t i = 0; i < patterns_.size(); ++i)
      if (next[i] != npos && next[i] < from) next[i] = region.find(patterns_[i], from);
  }
}

void TRuleMatcher::Scan(std::string_view bytes, uint64_t offset, std::vector<TMatch>& matches) {
  if (longest_ == 0 || bytes.empty()) return;
  // A match that starts in the carried tail ends within the first
  // longest_ - 1 bytes of this piece: the joint of the two holds every such
  // match, and every later match lies inside the piece itself.
  const uint64_t carryOffset = offset - carry_.size();
  const std::size_t matchesBefore = matches.size();
  std::string joint = carry_;
  joint.append(bytes.substr(0, longest_ - 1));
  const std::size_t jointEnd = ScanRegion(joint, 0, carryOffset, matches);
  const std::size_t fromInBytes = jointEnd > carry_.size() ? jointEnd - carry_.size() : 0;
  ScanRegion(bytes, fromInBytes, offset, matches);
  const uint64_t unmatchedFrom =
      matches.size() > matchesBefore ? matches.back().End + 1 : carryOffset;
  KeepTail(bytes, offset, unmatchedFrom);
}

void TRuleMatcher::KeepTail(std::string_view bytes, uint64_t offset, uint64_t unmatchedFrom) {
  const std::size_t keep = longest_ - 1;
  std::string tail;
  if (bytes.size() >= keep) {
    tail.assign(bytes.substr(bytes.size() - keep));
  } else {
    tail = carry_;
    tail.append(bytes);
    if (tail.size() > keep) tail.erase(0, tail.size() - keep);
  }
  const uint64_t tailOffset = offset + bytes.size() - tail.size();
  if (unmatchedFrom > tailOffset)
    tail.erase(0, static_cast<std::size_t>(unmatchedFrom - tailOffset));
  carry_ = std::move(tail);
}
