#pragma once

#include <optional>
#include <string_view>

// Which printer command language a port answers the status queries of.
enum class TReplyLanguage { None, EscPos, Zpl, Pjl };

// "none", "escpos", "zpl" or "pjl", with blanks around and letter case
// ignored; nothing for any other text, so that a typo is told apart from
// "none".
std::optional<TReplyLanguage> ParseReplyLanguage(std::string_view text);
