#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One printer command found in a capture: where it starts, how many bytes it
// takes (its parameters and, where the command says how long its data is,
// the data too) and what a person calls it, such as "ESC @ initialize".
struct TCommandMark {
  uint64_t offset = 0;
  uint32_t length = 0;
  std::string name;

  bool operator==(const TCommandMark&) const = default;
};

// Appends a mark. A command whose announced data passes 4 GiB is marked
// with the longest length a mark holds; the scan itself still counts the
// whole of it.
void AddCommandMark(std::vector<TCommandMark>& marks, uint64_t offset, uint64_t length,
                    std::string name);

// Steps over the data a command announced, as far as the bytes at hand go:
// answers how many of the available bytes it takes, and counts them off.
std::size_t TakeAnnouncedData(uint64_t& dataLeft, std::size_t available);

// A byte in hexadecimal, as "0x1b".
std::string HexByteName(char byte);

// A byte as a command's name shows it: a printable ASCII character as it
// is, any other byte in hexadecimal.
std::string CommandByteName(char byte);

// The suffixes of a command the tables do not hold, and of one the end of
// the capture cut off before its parameters were complete.
constexpr std::string_view kUnknownCommandSuffix = " (unknown)";
constexpr std::string_view kCutShortCommandSuffix = " (cut short)";
