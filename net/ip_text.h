#pragma once

// IP addresses and blocks of either family as text. An IPv4 address is kept
// as IPv6 maps it (::ffff:a.b.c.d), the form in which a dual-stack socket
// reports an IPv4 peer, so one value and one comparison serve both families.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "net/ipv4_text.h"

struct TIPAddress {
  std::array<uint8_t, 16> Bytes{};

  // The IPv4-mapped range: an IPv4 address, however it was written.
  bool IsIPv4() const;
  // The IPv4 address in host byte order; meaningful only when IsIPv4.
  uint32_t IPv4() const;
  static TIPAddress FromIPv4(uint32_t hostOrder);
  friend bool operator==(const TIPAddress&, const TIPAddress&) = default;
};

// IPv6 text exactly as inet_pton reads it: groups of one to four hex digits,
// at most one "::", an optional dotted IPv4 tail; no zone, no blanks.
std::optional<TIPAddress> ParseIPv6Text(std::string_view text);

// The dotted IPv4 form under ipv4Rules, else IPv6 text.
std::optional<TIPAddress> ParseIPText(std::string_view text, const TIPv4TextRules& ipv4Rules = {});

// How a peer is named: the dotted form for an IPv4 address (mapped or not),
// the RFC 5952 form for any other ("2001:db8::1", "::1").
std::string IPAddressText(const TIPAddress& address);

// An address and how many of its leading bits a peer must share with it.
struct TIPBlock {
  TIPAddress Network;  // the bits past the prefix cleared
  // Counted in the 16-byte form: an IPv4 /24 is 120.
  unsigned PrefixBits = 128;

  // An IPv4 block (inside the mapped range) matches IPv4 peers only, an
  // IPv6 block IPv6 peers only: "::/0" is every IPv6 peer, not every peer.
  bool Contains(const TIPAddress& address) const;
};

// "192.168.1.0/24" (prefix 0 to 32, at most two digits), "fd00::/8" (prefix
// 0 to 128, at most three digits), or an address alone, a block of one.
// Blanks are not read: the caller trims.
std::optional<TIPBlock> ParseIPBlock(std::string_view text, const TIPv4TextRules& ipv4Rules = {});
