#include "support/log_lines.h"

#include <regex>

bool HasPrefixThen(const std::string& line, const std::string& text) {
  static const std::regex prefix(R"(\d\d/\d\d/\d\d \d\d:\d\d - )");
  std::smatch match;
  return std::regex_search(line, match, prefix, std::regex_constants::match_continuous) &&
         line.substr(static_cast<std::size_t>(match.length())) == text;
}
