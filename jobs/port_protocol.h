#pragma once

#include <optional>
#include <string>
#include <string_view>

// How a port's peers send their jobs, as its section's Protocol key says.
enum class TPortProtocol { Raw, Lpd };

// "raw" (or nothing) and "lpd", in any case and with blanks around; none for
// any other text.
std::optional<TPortProtocol> ParsePortProtocol(std::string_view text);

// "Protocol=<text> is no protocol (raw, lpd)".
std::string UnknownProtocolText(std::string_view text);
