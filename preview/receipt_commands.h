#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

// A receipt command with a fixed number of parameter bytes that changes
// nothing a receipt image shows (a sensor, a drawer, a status query) or
// that this renderer does not draw. The note, if any, says what a reader
// of the image misses.
struct TSkippedCommand {
  unsigned char command;
  std::size_t parameters;
  const char* note;
};

// The skipped commands after ESC, GS, FS and DLE.
std::span<const TSkippedCommand> SkippedEscCommands();
std::span<const TSkippedCommand> SkippedGsCommands();
std::span<const TSkippedCommand> SkippedFsCommands();
std::span<const TSkippedCommand> SkippedDleCommands();

// "ESC a", or "ESC 0x1F" when the command byte is not printable.
std::string CommandName(std::string_view prefix, unsigned char command);
