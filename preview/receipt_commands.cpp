#include "preview/receipt_commands.h"

#include <array>
#include <cstdio>

namespace {

constexpr std::array kEsc = {
    TSkippedCommand{'$', 2, "absolute position ignored"},
    TSkippedCommand{'%', 1, nullptr},
    TSkippedCommand{'<', 0, nullptr},
    TSkippedCommand{'=', 1, nullptr},
    TSkippedCommand{'?', 1, nullptr},
    TSkippedCommand{'L', 0, "page mode drawn as standard mode"},
    TSkippedCommand{'R', 1, "international character set ignored"},
    TSkippedCommand{'S', 0, nullptr},
    TSkippedCommand{'T', 1, nullptr},
    TSkippedCommand{'U', 1, nullptr},
    TSkippedCommand{'V', 1, "rotated printing ignored"},
    TSkippedCommand{'W', 8, nullptr},
    TSkippedCommand{'\\', 2, "relative position ignored"},
    TSkippedCommand{'c', 2, nullptr},
    TSkippedCommand{'e', 1, "reverse feed ignored"},
    TSkippedCommand{'p', 3, nullptr},
    TSkippedCommand{'r', 1, nullptr},
    TSkippedCommand{'u', 1, nullptr},
    TSkippedCommand{'v', 0, nullptr},
    TSkippedCommand{'{', 1, "upside-down printing ignored"},
    TSkippedCommand{'\f', 0, nullptr},
};

constexpr std::array kGs = {
    TSkippedCommand{'$', 2, nullptr},
    TSkippedCommand{'/', 1, "downloaded image not drawn"},
    TSkippedCommand{':', 0, nullptr},
    TSkippedCommand{'B', 1, "reverse printing ignored"},
    TSkippedCommand{'H', 1, nullptr},
    TSkippedCommand{'I', 1, nullptr},
    TSkippedCommand{'L', 2, "left margin ignored"},
    TSkippedCommand{'P', 2, nullptr},
    TSkippedCommand{'T', 1, nullptr},
    TSkippedCommand{'W', 2, "print area width ignored"},
    TSkippedCommand{'\\', 2, "relative position ignored"},
    TSkippedCommand{'^', 3, nullptr},
    TSkippedCommand{'a', 1, nullptr},
    TSkippedCommand{'b', 1, nullptr},
    TSkippedCommand{'f', 1, nullptr},
    TSkippedCommand{'h', 1, nullptr},
    TSkippedCommand{'j', 1, nullptr},
    TSkippedCommand{'r', 1, nullptr},
    TSkippedCommand{'w', 1, nullptr},
};

constexpr std::array kFs = {
    TSkippedCommand{'!', 1, nullptr},
    TSkippedCommand{'&', 0, "Kanji mode ignored"},
    TSkippedCommand{'-', 1, nullptr},
    TSkippedCommand{'.', 0, nullptr},
    TSkippedCommand{'?', 2, nullptr},
    TSkippedCommand{'C', 1, nullptr},
    TSkippedCommand{'S', 2, nullptr},
    TSkippedCommand{'W', 1, nullptr},
    TSkippedCommand{'p', 2, "stored image not drawn"},
};

// Real-time status requests and the pulse to a cash drawer.
constexpr std::array kDle = {
    TSkippedCommand{0x04, 1, nullptr},
    TSkippedCommand{0x05, 1, nullptr},
    TSkippedCommand{0x14, 3, nullptr},
};

}  // namespace

std::span<const TSkippedCommand> SkippedEscCommands() { return kEsc; }
std::span<const TSkippedCommand> SkippedGsCommands() { return kGs; }
std::span<const TSkippedCommand> SkippedFsCommands() { return kFs; }
std::span<const TSkippedCommand> SkippedDleCommands() { return kDle; }

std::string CommandName(std::string_view prefix, unsigned char command) {
  std::string name(prefix);
  if (command == 0x20) return name + " SP";
  if (command > 0x20 && command < 0x7f) return name + " " + static_cast<char>(command);
  char hex[8];
  std::snprintf(hex, sizeof hex, " 0x%02X", command);
  return name + hex;
}
