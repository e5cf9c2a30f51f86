#include "net/ip_text.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

namespace {

// The IPv4-mapped range ::ffff:0:0/96: ten zero bytes, then two 0xff.
constexpr unsigned kMappedPrefixBits = 96;
constexpr std::size_t kMappedPrefixBytes = kMappedPrefixBits / 8;
constexpr std::array<uint8_t, kMappedPrefixBytes> kMappedPrefix = {0, 0, 0, 0, 0,    0,
                                                                   0, 0, 0, 0, 0xff, 0xff};

// A decimal number of one to maxDigits digits, nothing else.
std::optional<unsigned> ParsePrefixLength(std::string_view text, std::size_t maxDigits) {
  if (text.empty() || text.size() > maxDigits) return std::nullopt;
  unsigned value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value;
}

TIPAddress Masked(TIPAddress address, unsigned prefixBits) {
  for (std::size_t i = 0; i < address.Bytes.size(); ++i) {
    const unsigned bitsBefore = static_cast<unsigned>(i) * 8;
    if (prefixBits >= bitsBefore + 8) continue;
    const unsigned kept = prefixBits > bitsBefore ? prefixBits - bitsBefore : 0;
    address.Bytes[i] &= static_cast<uint8_t>(0xFF00u >> kept);
  }
  return address;
}

bool IsIPv4Block(const TIPBlock& block) {
  return block.PrefixBits >= kMappedPrefixBits && block.Network.IsIPv4();
}

}  // namespace

bool TIPAddress::IsIPv4() const {
  return std::memcmp(Bytes.data(), kMappedPrefix.data(), kMappedPrefixBytes) == 0;
}

uint32_t TIPAddress::IPv4() const {
  uint32_t value = 0;
  for (std::size_t i = kMappedPrefixBytes; i < Bytes.size(); ++i) value = (value << 8) | Bytes[i];
  return value;
}

TIPAddress TIPAddress::FromIPv4(uint32_t hostOrder) {
  TIPAddress address;
  std::memcpy(address.Bytes.data(), kMappedPrefix.data(), kMappedPrefixBytes);
  for (std::size_t i = address.Bytes.size(); i-- > kMappedPrefixBytes; hostOrder >>= 8)
    address.Bytes[i] = static_cast<uint8_t>(hostOrder & 0xFF);
  return address;
}

std::optional<TIPAddress> ParseIPv6Text(std::string_view text) {
  // The platform's reading stops at a zero byte; the whole text must count.
  if (text.find('\0') != std::string_view::npos) return std::nullopt;
  TIPAddress address;
  if (::inet_pton(AF_INET6, std::string(text).c_str(), address.Bytes.data()) != 1)
    return std::nullopt;
  return address;
}

std::optional<TIPAddress> ParseIPText(std::string_view text, const TIPv4TextRules& ipv4Rules) {
  if (const auto ipv4 = ParseIPv4Text(text, ipv4Rules)) return TIPAddress::FromIPv4(*ipv4);
  return ParseIPv6Text(text);
}

std::string IPAddressText(const TIPAddress& address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.IsIPv4()) {
    const in_addr ipv4{htonl(address.IPv4())};
    ::inet_ntop(AF_INET, &ipv4, text, sizeof text);
  } else {
    ::inet_ntop(AF_INET6, address.Bytes.data(), text, sizeof text);
  }
  return text;
}

bool TIPBlock::Contains(const TIPAddress& address) const {
  if (IsIPv4Block(*this) != address.IsIPv4()) return false;
  return Masked(address, PrefixBits) == Network;
}

std::optional<TIPBlock> ParseIPBlock(std::string_view text, const TIPv4TextRules& ipv4Rules) {
  const std::size_t slash = text.find('/');
  const std::string_view addressText = text.substr(0, slash);
  const std::optional<uint32_t> ipv4 = ParseIPv4Text(addressText, ipv4Rules);
  const std::optional<TIPAddress> address =
      ipv4 ? TIPAddress::FromIPv4(*ipv4) : ParseIPv6Text(addressText);
  if (!address) return std::nullopt;
  // An IPv4 prefix counts the four bytes behind the mapped ones.
  const unsigned maxBits = ipv4 ? 32 : 128;
  unsigned prefixBits = maxBits;
  if (slash != std::string_view::npos) {
    const auto bits = ParsePrefixLength(text.substr(slash + 1), ipv4 ? 2 : 3);
    if (!bits || *bits > maxBits) return std::nullopt;
    prefixBits = *bits;
  }
  if (ipv4) prefixBits += kMappedPrefixBits;
  return TIPBlock{Masked(*address, prefixBits), prefixBits};
}
