#pragma once

#include <string>
#include <string_view>
#include <vector>

class TIniSnapshot;

// The settings file's section of port definitions.
inline constexpr const char* kPortsSection = "Ports";

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

// One port of the [Ports] section: its key, the port text a listener is
// opened for, and its definition.
struct TPortEntry {
  std::string Port;
  TPortDefinition Definition;
};

// Every port of the loaded settings, in file order: each key of [Ports] once
// (keys compared without regard to case; the first value counts, the last
// spelling of the key), except a key whose value is empty. A line without
// "=" names no key, so it is no port.
std::vector<TPortEntry> PortEntries(const TIniSnapshot& settings);
