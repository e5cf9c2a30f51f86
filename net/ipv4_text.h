#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// The dotted text of an IPv4 address: four groups of decimal digits joined by
// dots, each group's value at most 255 ("192.168.1.7"). The resolver and the
// sender filter read this one form; what each forgives beyond it is stated in
// its rules rather than in a parser of its own.
struct TIPv4TextRules {
  // Spaces (0x20 only) before and after the four groups.
  bool SpacesAround = false;
  // The most digits a group may have; 0 allows any number of leading zeros.
  std::size_t MaxGroupDigits = 3;
  // A group of two or more digits that starts with 0 is octal, as the C
  // library reads an address: "010" is 8, and "08" is no group at all.
  bool LeadingZeroOctal = false;
};

// The address in host byte order; none for any other text.
std::optional<uint32_t> ParseIPv4Text(std::string_view text, const TIPv4TextRules& rules = {});
