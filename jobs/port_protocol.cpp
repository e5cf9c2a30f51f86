#include "jobs/port_protocol.h"

#include "base/text.h"

std::optional<TPortProtocol> ParsePortProtocol(std::string_view text) {
  const std::string name = UpperAscii(TrimBlanksView(text));
  if (name.empty() || name == "RAW") return TPortProtocol::Raw;
  if (name == "LPD") return TPortProtocol::Lpd;
  return std::nullopt;
}

std::string UnknownProtocolText(std::string_view text) {
  return "Protocol=" + std::string(text) + " is no protocol (raw, lpd)";
}
