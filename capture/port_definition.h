#pragma once

#include <string>
#include <string_view>

// One [Ports] entry's value: Directory "," FileFormat "," OverwriteMark ","
// Days "," Comments. The key (the port text) is not part of it.
struct TPortDefinition {
  std::string Directory;
  std::string FileFormat;
  std::string OverwriteMark;  // "T" or "F" as stored
  std::string Days;
  std::string Comments;

  // True exactly when the mark is "T" (upper case only).
  bool Overwrite() const { return OverwriteMark == "T"; }
};

// Cuts a value into its fields, from its first character; never fails.
TPortDefinition DecodePortDefinition(std::string_view value);

// Joins the fields with exactly four commas; nothing is escaped.
std::string EncodePortDefinition(const TPortDefinition& definition);
