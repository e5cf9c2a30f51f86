#include "jobs/reply_language.h"

#include <array>
#include <utility>

#include "base/text.h"

std::optional<TReplyLanguage> ParseReplyLanguage(std::string_view text) {
  static constexpr std::array<std::pair<std::string_view, TReplyLanguage>, 4> kNames{{
      {"none", TReplyLanguage::None},
      {"escpos", TReplyLanguage::EscPos},
      {"zpl", TReplyLanguage::Zpl},
      {"pjl", TReplyLanguage::Pjl},
  }};
  const std::string_view trimmed = TrimBlanksView(text);
  for (const auto& [name, language] : kNames)
    if (SameTextIgnoringCase(trimmed, name)) return language;
  return std::nullopt;
}
