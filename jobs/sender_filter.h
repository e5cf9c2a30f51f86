#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Which peers may send: a comma-separated list of addresses ("10.0.0.7") and
// blocks ("192.168.1.0/24"). Blanks around entries are ignored, and so are
// empty entries.
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
  struct TBlock {
    uint32_t network = 0;
    uint32_t mask = 0;
  };
  static std::optional<TBlock> ParseEntry(std::string_view entry);

  bool open_ = true;
  std::vector<TBlock> blocks_;
  std::vector<std::string> malformed_;
};
