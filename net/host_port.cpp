#include "net/host_port.h"

#include <algorithm>
#include <utility>

#include "base/text.h"
#include "net/ip_text.h"

namespace {

constexpr const char* kExample = " (host:port, e.g. 192.0.2.5:9100 or [::1]:9100)";

THostPortReading Refused(std::string_view text, const std::string& why) {
  std::string message(1, '"');
  message.append(text).append("\" is no target: ").append(why);
  return {std::nullopt, std::move(message)};
}

bool IsHostNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_';
}

// 1 to 65535 in at most five decimal digits; port 0 reaches no listener.
std::optional<uint16_t> ReadPortNumber(std::string_view digits) {
  uint16_t value = 0;
  if (digits.size() > 5 || !ParsePortNumber(digits, value) || value == 0) return std::nullopt;
  return value;
}

}  // namespace

std::string THostPort::Text() const {
  // Built piece by piece: GCC 12 at -O3 takes "x" + a temporary for an
  // overlapping copy.
  std::string text;
  if (Host.find(':') != std::string::npos)
    text.append(1, '[').append(Host).append(1, ']');
  else
    text = Host;
  return text.append(1, ':').append(std::to_string(Port));
}

THostPortReading ReadHostPort(std::string_view text) {
  const std::string trimmed = TrimBlanks(text);
  if (trimmed.empty()) return {std::nullopt, std::string("Enter a target") + kExample};
  std::string host;
  std::string_view rest;
  if (trimmed.front() == '[') {
    const std::size_t close = trimmed.find(']');
    if (close == std::string::npos)
      return Refused(trimmed, "the \"]\" after the IPv6 address is missing");
    host = trimmed.substr(1, close - 1);
    if (!ParseIPv6Text(host)) return Refused(trimmed, "[" + host + "] is no IPv6 address");
    rest = std::string_view(trimmed).substr(close + 1);
    if (!rest.empty() && rest.front() != ':')
      return Refused(trimmed, std::string("the port is missing") + kExample);
  } else {
    const std::size_t colon = trimmed.rfind(':');
    if (colon == std::string::npos)
      return Refused(trimmed, std::string("the port is missing") + kExample);
    host = trimmed.substr(0, colon);
    if (host.find(':') != std::string::npos)
      return Refused(trimmed, "an IPv6 address goes in brackets, as [::1]:9100");
    if (host.empty()) return Refused(trimmed, std::string("the host is missing") + kExample);
    if (!std::all_of(host.begin(), host.end(), IsHostNameCharacter))
      return Refused(trimmed, "a host name holds only letters, digits, \".\", \"-\" and \"_\"");
    rest = std::string_view(trimmed).substr(colon);
  }
  if (rest.size() <= 1) return Refused(trimmed, std::string("the port is missing") + kExample);
  const std::optional<uint16_t> port = ReadPortNumber(rest.substr(1));
  if (!port) return Refused(trimmed, "the port must be a number from 1 to 65535");
  return {THostPort{std::move(host), *port}, ""};
}
