#include "jobs/printer_state.h"

#include <array>
#include <utility>

#include "base/text.h"

std::optional<TPrinterState> ParsePrinterState(std::string_view text) {
  static constexpr std::array<std::pair<std::string_view, TPrinterState>, 4> kNames{{
      {"ready", TPrinterState::Ready},
      {"paper out", TPrinterState::PaperOut},
      {"cover open", TPrinterState::CoverOpen},
      {"offline", TPrinterState::Offline},
  }};
  const std::string_view trimmed = TrimBlanksView(text);
  for (const auto& [name, state] : kNames)
    if (SameTextIgnoringCase(trimmed, name)) return state;
  return std::nullopt;
}
