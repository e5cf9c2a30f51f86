#include "jobs/sender_filter.h"

#include "base/text.h"
#include "net/ipv4_text.h"

namespace {

// The plain dotted form and nothing more: entries come trimmed, a peer's
// address as the platform prints it, and "010" means 10 as an operator who
// pads a group means it.
constexpr TIPv4TextRules kAddressRules{};

// A decimal number of one to maxDigits digits, nothing else.
std::optional<uint32_t> ParseSmallNumber(std::string_view text, std::size_t maxDigits) {
  if (text.empty() || text.size() > maxDigits) return std::nullopt;
  uint32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  return value;
}

}  // namespace

TSenderFilter::TSenderFilter(std::string_view list) {
  while (true) {
    const std::size_t comma = list.find(',');
    const std::string entry = TrimBlanks(list.substr(0, comma));
    if (!entry.empty()) {
      open_ = false;
      if (const auto block = ParseEntry(entry))
        blocks_.push_back(*block);
      else
        malformed_.push_back(entry);
    }
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
}

std::optional<TSenderFilter::TBlock> TSenderFilter::ParseEntry(std::string_view entry) {
  const std::size_t slash = entry.find('/');
  const auto address = ParseIPv4Text(entry.substr(0, slash), kAddressRules);
  if (!address) return std::nullopt;
  uint32_t prefix = 32;
  if (slash != std::string_view::npos) {
    const auto bits = ParseSmallNumber(entry.substr(slash + 1), 2);
    if (!bits || *bits > 32) return std::nullopt;
    prefix = *bits;
  }
  // A shift by 32 is undefined: a /0 block has the empty mask.
  const uint32_t mask = prefix == 0 ? 0 : ~uint32_t{0} << (32 - prefix);
  return TBlock{*address & mask, mask};
}

bool TSenderFilter::Allows(std::string_view peerAddress) const {
  if (open_) return true;
  const auto address = ParseIPv4Text(peerAddress, kAddressRules);
  if (!address) return false;
  for (const TBlock& block : blocks_)
    if ((*address & block.mask) == block.network) return true;
  return false;
}
