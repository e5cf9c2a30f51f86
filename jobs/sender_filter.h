#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "net/ip_text.h"

// Which peers may send: a comma-separated list of IPv4 and IPv6 addresses
// ("10.0.0.7", "::1") and blocks ("192.168.1.0/24", "fd00::/8"). Blanks
// around entries are ignored, and so are empty entries. An IPv4 entry
// matches an IPv4 peer however it reached the port, IPv6 entries match IPv6
// peers.
class TSenderFilter {
 public:
  explicit TSenderFilter(std::string_view list);

  // True for an empty list. A list that holds any text allows only the
  // addresses its well-formed entries name, so a list that is all typos
  // allows nobody rather than everybody.
  bool Allows(std::string_view peerAddress) const;
  // The entries that are neither an address nor a block, as written.
  const std::vector<std::string>& Malformed() const { return malformed_; }

 private:
  bool open_ = true;
  std::vector<TIPBlock> blocks_;
  std::vector<std::string> malformed_;
};
