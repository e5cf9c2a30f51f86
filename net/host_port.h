#pragma once

// A target as the operator types it: "host:port", with an IPv6 address in
// brackets ("[::1]:9100") because its own colons would hide the port.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct THostPort {
  std::string Host;  // a name, dotted IPv4 or IPv6 (without brackets)
  uint16_t Port = 0;

  // "printer.local:9100", "192.0.2.5:9100", "[::1]:9100": the form it is
  // read from, so a line names the target as the operator wrote it.
  std::string Text() const;
};

struct THostPortReading {
  std::optional<THostPort> Target;
  // Why there is none, e.g. "\"host:70000\" is no target: the port must be
  // a number from 1 to 65535".
  std::string Failure;
};

// Blanks around the text are ignored; none are allowed inside it. A host
// name holds letters, digits, ".", "-" and "_" only, so that no text reaches
// the name look-up that it could take for something else.
THostPortReading ReadHostPort(std::string_view text);
