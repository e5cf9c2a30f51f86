#include "preview/command_mark.h"

#include <algorithm>
#include <limits>

void AddCommandMark(std::vector<TCommandMark>& marks, uint64_t offset, uint64_t length,
                    std::string name) {
  constexpr uint64_t kLongest = std::numeric_limits<uint32_t>::max();
  marks.push_back(
      TCommandMark{offset, static_cast<uint32_t>(std::min(length, kLongest)), std::move(name)});
}

std::string HexByteName(char byte) {
  constexpr std::string_view kDigits = "0123456789abcdef";
  const auto value = static_cast<unsigned char>(byte);
  return std::string("0x") + kDigits[value >> 4] + kDigits[value & 0x0f];
}

std::string CommandByteName(char byte) {
  const auto value = static_cast<unsigned char>(byte);
  return value > 0x20 && value < 0x7f ? std::string(1, byte) : HexByteName(byte);
}

std::size_t TakeAnnouncedData(uint64_t& dataLeft, std::size_t available) {
  const uint64_t step = std::min<uint64_t>(dataLeft, available);
  dataLeft -= step;
  return static_cast<std::size_t>(step);
}
