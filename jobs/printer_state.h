#pragma once

#include <optional>
#include <string_view>

// The condition a port's simulated printer reports in its status replies.
enum class TPrinterState { Ready, PaperOut, CoverOpen, Offline };

// "ready", "paper out", "cover open" or "offline", with blanks around and
// letter case ignored; nothing for any other text.
std::optional<TPrinterState> ParsePrinterState(std::string_view text);
