#include "net/resolvers.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <optional>
#include <string>
#include <utility>

#include "base/text.h"
#include "net/ipv4_text.h"

namespace {

[[noreturn]] void Raise(std::string message) { throw ESocketException(std::move(message)); }

// What makes a host text an address rather than a name: the dotted form with
// spaces around and any number of leading zeros, read in decimal.
constexpr TIPv4TextRules kDottedForm{.SpacesAround = true, .MaxGroupDigits = 0};
// How such a text is then read: as the C library reads an address, so a
// leading zero makes a group octal, and one such as "09" is no address.
constexpr TIPv4TextRules kCLibraryReading{
    .SpacesAround = true, .MaxGroupDigits = 0, .LeadingZeroOctal = true};

}  // namespace

int32_t LeadingNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  uint32_t value = 0;  // unsigned so that the wrap is defined
  for (; i < text.size() && IsDecimalDigit(text[i]); ++i)
    value = value * 10u + uint32_t(text[i] - '0');
  return static_cast<int32_t>(value);
}

bool IsDottedAddress(std::string_view text) { return ParseIPv4Text(text, kDottedForm).has_value(); }

int WSocketResolveProto(std::string_view proto) {
  if (proto.empty() || proto.size() >= 32) Raise("WSocketResolveProto: Invalid Protocol.");
  std::string trimmed = TrimBlanks(proto);
  if (trimmed.empty()) Raise("WSocketResolveProto: Invalid Protocol.");
  if (IsDecimalDigit(trimmed[0])) return LeadingNumber(trimmed);
  if (const protoent* entry = ::getprotobyname(trimmed.c_str())) return entry->p_proto;
  // A minimal system may lack the protocol database; these two are fixed.
  if (trimmed == "tcp") return IPPROTO_TCP;
  if (trimmed == "udp") return IPPROTO_UDP;
  Raise("WSocketResolveProto: Cannot convert protocol '" + trimmed + "'");
}

uint16_t WSocketResolvePort(std::string_view port, std::string_view proto) {
  if (port.empty() || port.size() >= 32) Raise("WSocketResolvePort: Invalid Port.");
  if (IsDecimalDigit(port[0])) {
    uint16_t value = 0;
    if (!ParsePortNumber(port, value)) Raise("WSocketResolvePort: Invalid Port.");
    return value;
  }
  std::string name = TrimBlanks(port);
  std::string protoName = TrimBlanks(proto);
  const servent* entry =
      ::getservbyname(name.c_str(), protoName.empty() ? nullptr : protoName.c_str());
  if (entry == nullptr)
    Raise("WSocketResolvePort: Cannot convert port '" + std::string(port) + "'");
  return ntohs(static_cast<uint16_t>(entry->s_port));
}

uint32_t WSocketResolveHost(std::string_view host) {
  if (host.empty() || host.size() > 256)
    Raise("WSocketResolveHost: '" + std::string(host) + "' Invalid Hostname.");
  if (IsDottedAddress(host)) {
    const std::optional<uint32_t> address = ParseIPv4Text(host, kCLibraryReading);
    if (!address) Raise("WSocketResolveHost: '" + std::string(host) + "' Invalid IP address.");
    return htonl(*address);
  }
  const std::string trimmed = TrimBlanks(host);
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* result = nullptr;
  if (::getaddrinfo(trimmed.c_str(), nullptr, &hints, &result) != 0 || result == nullptr)
    Raise("WSocketResolveHost: Cannot convert host address '" + std::string(host) + "'");
  uint32_t address = reinterpret_cast<const sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
  ::freeaddrinfo(result);
  return address;
}
