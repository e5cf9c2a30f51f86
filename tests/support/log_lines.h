#pragma once

#include <string>

// Whether the line is a timestamp prefix ("dd/mm/yy hh:nn - ") followed by
// exactly the text.
bool HasPrefixThen(const std::string& line, const std::string& text);
