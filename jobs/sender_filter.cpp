#include "jobs/sender_filter.h"

#include "base/text.h"
#include "net/ip_text.h"

namespace {

// The plain dotted form and nothing more: entries come trimmed, a peer's
// address as the platform prints it, and "010" means 10 as an operator who
// pads a group means it.
constexpr TIPv4TextRules kAddressRules{};

}  // namespace

TSenderFilter::TSenderFilter(std::string_view list) {
  while (true) {
    const std::size_t comma = list.find(',');
    const std::string entry = TrimBlanks(list.substr(0, comma));
    if (!entry.empty()) {
      open_ = false;
      if (const auto block = ParseIPBlock(entry, kAddressRules))
        blocks_.push_back(*block);
      else
        malformed_.push_back(entry);
    }
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
}

// A peer's IPv4 address matches the IPv4 blocks in whichever form it comes,
// dotted or mapped ("::ffff:10.0.0.7"), since both are the one address.
bool TSenderFilter::Allows(std::string_view peerAddress) const {
  if (open_) return true;
  const auto address = ParseIPText(peerAddress, kAddressRules);
  if (!address) return false;
  for (const TIPBlock& block : blocks_)
    if (block.Contains(*address)) return true;
  return false;
}
