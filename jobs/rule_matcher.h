#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Finds byte patterns in a stream that arrives in pieces. The stream is read
// from left to right and a match is taken as soon as its last byte arrives:
// of the patterns that end first, the one listed first. Matches never
// overlap: the search goes on after the last byte of the previous match. The
// only bytes kept between pieces are the unmatched tail, shorter than the
// longest pattern.
class TRuleMatcher {
 public:
  struct TMatch {
    std::size_t Pattern = 0;  // index into the patterns
    uint64_t End = 0;         // stream offset of the match's last byte
  };

  explicit TRuleMatcher(std::vector<std::string> patterns);

  // The matches that end in bytes, whose first byte is at stream offset
  // offset, appended to matches in stream order.
  void Scan(std::string_view bytes, uint64_t offset, std::vector<TMatch>& matches);

  std::size_t CarriedBytes() const { return carry_.size(); }

 private:
  // Matches in region from position from on; returns the position after the
  // last one (from when there is none).
  std::size_t ScanRegion(std::string_view region, std::size_t from, uint64_t regionOffset,
                         std::vector<TMatch>& matches) const;
  void KeepTail(std::string_view bytes, uint64_t offset, uint64_t unmatchedFrom);

  std::vector<std::string> patterns_;
  std::size_t longest_ = 0;
  std::string carry_;
};
