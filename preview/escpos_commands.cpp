#include "preview/escpos_commands.h"

#include <algorithm>
#include <optional>

namespace {

// How long a command is, from its header; nothing while the header still
// lacks the bytes that say so.
using TLengthRule = std::optional<uint64_t> (*)(std::string_view header);

struct TEscPosCommand {
  std::string_view introducer;
  std::string_view name;
  // Parameter bytes after the introducer, before the length rule applies.
  std::size_t parameters;
  // None: the command is the introducer and its parameters.
  TLengthRule length;
};

uint64_t At(std::string_view header, std::size_t index) {
  return static_cast<unsigned char>(header[index]);
}

// Two bytes, low first, as the commands give their counts.
uint64_t Word(std::string_view header, std::size_t index) {
  return At(header, index) + 256 * At(header, index + 1);
}

std::optional<uint64_t> NeedsByte(std::string_view header, std::size_t index, uint64_t length) {
  if (header.size() <= index) return std::nullopt;
  return length;
}

std::optional<uint64_t> EndsWithNul(std::string_view header, std::size_t headerSize) {
  if (header.size() <= headerSize || header.back() != '\0') return std::nullopt;
  return header.size();
}

// ESC * m nL nH: n columns of one byte, or of three in the 24-dot modes.
std::optional<uint64_t> BitImageLength(std::string_view header) {
  return 5 + Word(header, 3) * (At(header, 2) >= 32 ? 3 : 1);
}

// GS v 0 m xL xH yL yH: x bytes a row, y rows.
std::optional<uint64_t> RasterImageLength(std::string_view header) {
  return 8 + Word(header, 4) * Word(header, 6);
}

// GS ( X pL pH: p bytes of function data.
std::optional<uint64_t> BlockLength(std::string_view header) { return 5 + Word(header, 3); }

// GS 8 L p1 p2 p3 p4: a four-byte count.
std::optional<uint64_t> LongBlockLength(std::string_view header) {
  return 7 + Word(header, 3) + 65536 * Word(header, 5);
}

// GS * x y: x times y times eight bytes.
std::optional<uint64_t> DefinedImageLength(std::string_view header) {
  return 4 + At(header, 2) * At(header, 3) * 8;
}

// GS V m, and GS V m n for the forms that feed before cutting.
std::optional<uint64_t> CutLength(std::string_view header) {
  constexpr std::string_view kFeedingForms = "ABabgh";
  if (kFeedingForms.find(header[2]) == std::string_view::npos) return 3;
  return NeedsByte(header, 3, 4);
}

// GS k m: text ended by NUL in the old forms (m 0 to 6), a counted text in
// the new ones (m 65 on).
std::optional<uint64_t> BarcodeLength(std::string_view header) {
  const uint64_t system = At(header, 2);
  if (system <= 6) return EndsWithNul(header, 3);
  if (system < 65) return 3;
  if (header.size() < 4) return std::nullopt;
  return 4 + At(header, 3);
}

// ESC D n1 ... NUL.
std::optional<uint64_t> TabStopsLength(std::string_view header) { return EndsWithNul(header, 2); }

// DLE EOT n, and DLE EOT n a for the requests 7 and 8.
std::optional<uint64_t> RealTimeStatusLength(std::string_view header) {
  if (header[2] != 7 && header[2] != 8) return 3;
  return NeedsByte(header, 3, 4);
}

// The introducers in octal: ESC \033, GS \035, FS \034, DLE \020 (a
// hexadecimal escape would swallow a following letter A to F).
constexpr TEscPosCommand kCommands[] = {
    {"\n", "LF print and line feed", 0, nullptr},
    {"\r", "CR carriage return", 0, nullptr},
    {"\f", "FF print page", 0, nullptr},
    {"\t", "HT horizontal tab", 0, nullptr},
    {"\033 ", "ESC SP character spacing", 1, nullptr},
    {"\033!", "ESC ! print mode", 1, nullptr},
    {"\033$", "ESC $ absolute position", 2, nullptr},
    {"\033%", "ESC % user characters", 1, nullptr},
    {"\033*", "ESC * bit image", 3, BitImageLength},
    {"\033-", "ESC - underline", 1, nullptr},
    {"\0332", "ESC 2 default line spacing", 0, nullptr},
    {"\0333", "ESC 3 line spacing", 1, nullptr},
    {"\033=", "ESC = select peripheral", 1, nullptr},
    {"\033?", "ESC ? cancel user character", 1, nullptr},
    {"\033@", "ESC @ initialize", 0, nullptr},
    {"\033D", "ESC D tab stops", 0, TabStopsLength},
    {"\033E", "ESC E emphasis", 1, nullptr},
    {"\033G", "ESC G double strike", 1, nullptr},
    {"\033J", "ESC J print and feed", 1, nullptr},
    {"\033K", "ESC K print and reverse feed", 1, nullptr},
    {"\033L", "ESC L page mode", 0, nullptr},
    {"\033M", "ESC M font", 1, nullptr},
    {"\033R", "ESC R international character set", 1, nullptr},
    {"\033S", "ESC S standard mode", 0, nullptr},
    {"\033T", "ESC T page direction", 1, nullptr},
    {"\033U", "ESC U unidirectional printing", 1, nullptr},
    {"\033V", "ESC V rotation", 1, nullptr},
    {"\033W", "ESC W page area", 8, nullptr},
    {"\033\\", "ESC \\ relative position", 2, nullptr},
    {"\033a", "ESC a alignment", 1, nullptr},
    {"\033c3", "ESC c 3 paper-out sensors", 1, nullptr},
    {"\033c4", "ESC c 4 paper stop sensors", 1, nullptr},
    {"\033c5", "ESC c 5 panel buttons", 1, nullptr},
    {"\033d", "ESC d print and feed lines", 1, nullptr},
    {"\033e", "ESC e print and reverse feed lines", 1, nullptr},
    {"\033i", "ESC i partial cut", 0, nullptr},
    {"\033m", "ESC m partial cut", 0, nullptr},
    {"\033p", "ESC p drawer pulse", 3, nullptr},
    {"\033r", "ESC r print color", 1, nullptr},
    {"\033t", "ESC t code page", 1, nullptr},
    {"\033u", "ESC u peripheral status", 1, nullptr},
    {"\033v", "ESC v paper status", 0, nullptr},
    {"\033{", "ESC { upside-down printing", 1, nullptr},
    {"\035!", "GS ! character size", 1, nullptr},
    {"\035$", "GS $ vertical position", 2, nullptr},
    {"\035(A", "GS ( A test print", 2, BlockLength},
    {"\035(C", "GS ( C user memory", 2, BlockLength},
    {"\035(D", "GS ( D real-time commands", 2, BlockLength},
    {"\035(E", "GS ( E user setup", 2, BlockLength},
    {"\035(H", "GS ( H response request", 2, BlockLength},
    {"\035(K", "GS ( K print control", 2, BlockLength},
    {"\035(L", "GS ( L graphics", 2, BlockLength},
    {"\035(M", "GS ( M printer settings", 2, BlockLength},
    {"\035(N", "GS ( N character style", 2, BlockLength},
    {"\035(P", "GS ( P page area", 2, BlockLength},
    {"\035(Q", "GS ( Q graphic lines", 2, BlockLength},
    {"\035(k", "GS ( k 2D code", 2, BlockLength},
    {"\035*", "GS * define image", 2, DefinedImageLength},
    {"\035/", "GS / print defined image", 1, nullptr},
    {"\0358L", "GS 8 L graphics", 4, LongBlockLength},
    {"\035:", "GS : macro", 0, nullptr},
    {"\035B", "GS B reverse printing", 1, nullptr},
    {"\035H", "GS H barcode text position", 1, nullptr},
    {"\035I", "GS I printer ID", 1, nullptr},
    {"\035L", "GS L left margin", 2, nullptr},
    {"\035P", "GS P motion units", 2, nullptr},
    {"\035V", "GS V cut", 1, CutLength},
    {"\035W", "GS W print width", 2, nullptr},
    {"\035\\", "GS \\ relative vertical position", 2, nullptr},
    {"\035^", "GS ^ run macro", 3, nullptr},
    {"\035a", "GS a automatic status", 1, nullptr},
    {"\035b", "GS b smoothing", 1, nullptr},
    {"\035f", "GS f barcode text font", 1, nullptr},
    {"\035h", "GS h barcode height", 1, nullptr},
    {"\035k", "GS k barcode", 1, BarcodeLength},
    {"\035r", "GS r status", 1, nullptr},
    {"\035v0", "GS v 0 raster image", 5, RasterImageLength},
    {"\035w", "GS w barcode width", 1, nullptr},
    {"\020\004", "DLE EOT real-time status", 1, RealTimeStatusLength},
    {"\020\005", "DLE ENQ real-time request", 1, nullptr},
    {"\020\0241", "DLE DC4 1 real-time pulse", 2, nullptr},
    {"\020\0242", "DLE DC4 2 power off", 2, nullptr},
    {"\034!", "FS ! kanji print mode", 1, nullptr},
    {"\034&", "FS & kanji mode", 0, nullptr},
    {"\034-", "FS - kanji underline", 1, nullptr},
    {"\034.", "FS . kanji mode off", 0, nullptr},
    {"\034C", "FS C kanji code", 1, nullptr},
    {"\034p", "FS p print stored image", 2, nullptr},
};

// Every byte that starts a command; a plain text scan jumps between them.
constexpr std::string_view kFirstBytes = "\033\035\034\020\n\r\f\t";

// A barcode's text or a tab stop list ends with NUL; a stream that never
// sends it ends the command here.
constexpr std::size_t kLongestHeader = 288;

// The command whose introducer the header starts with; growing tells
// whether the header may still become a longer introducer.
const TEscPosCommand* FindCommand(std::string_view header, bool& growing) {
  growing = false;
  for (const TEscPosCommand& command : kCommands) {
    if (header.starts_with(command.introducer)) return &command;
    if (command.introducer.starts_with(header)) growing = true;
  }
  return nullptr;
}

std::optional<uint64_t> CommandLength(const TEscPosCommand& command, std::string_view header) {
  const std::size_t fixed = command.introducer.size() + command.parameters;
  if (header.size() < fixed) return std::nullopt;
  if (command.length == nullptr) return fixed;
  return command.length(header);
}

std::string IntroducerName(char byte) {
  switch (byte) {
    case '\033':
      return "ESC";
    case '\035':
      return "GS";
    case '\034':
      return "FS";
    case '\020':
      return "DLE";
    default:
      return HexByteName(byte);
  }
}

}  // namespace

void TEscPosCommands::Scan(std::string_view bytes, uint64_t offset,
                           std::vector<TCommandMark>& marks) {
  std::size_t position = 0;
  while (position < bytes.size()) {
    if (dataLeft_ > 0) {
      position += TakeAnnouncedData(dataLeft_, bytes.size() - position);
      continue;
    }
    if (header_.empty()) {
      position = bytes.find_first_of(kFirstBytes, position);
      if (position == std::string_view::npos) return;
      headerOffset_ = offset + position;
    }
    TakeHeaderByte(bytes[position++], marks);
  }
}

void TEscPosCommands::TakeHeaderByte(char byte, std::vector<TCommandMark>& marks) {
  header_.push_back(byte);
  bool growing = false;
  const TEscPosCommand* command = FindCommand(header_, growing);
  if (command == nullptr) {
    if (!growing) MarkUnknown(marks);
    return;
  }
  std::optional<uint64_t> length = CommandLength(*command, header_);
  if (!length && header_.size() >= kLongestHeader) length = header_.size();
  if (!length) return;
  AddCommandMark(marks, headerOffset_, *length, std::string(command->name));
  EndHeader(*length, marks);
}

// An unknown command shows as its introducer and the byte after it; what
// followed is read again, as it may start a command of its own.
void TEscPosCommands::MarkUnknown(std::vector<TCommandMark>& marks) {
  const std::size_t length = std::min<std::size_t>(header_.size(), 2);
  std::string name = IntroducerName(header_[0]);
  // Appended piece by piece: " " + a temporary makes GCC 12 at -O3 warn of
  // an overlap that cannot happen.
  if (length == 2) {
    name += ' ';
    name += HexByteName(header_[1]);
  }
  name += kUnknownCommandSuffix;
  AddCommandMark(marks, headerOffset_, length, name);
  EndHeader(length, marks);
}

void TEscPosCommands::EndHeader(uint64_t length, std::vector<TCommandMark>& marks) {
  if (length >= header_.size()) {
    dataLeft_ = length - header_.size();
    header_.clear();
    return;
  }
  const std::string rest = header_.substr(static_cast<std::size_t>(length));
  const uint64_t restOffset = headerOffset_ + length;
  header_.clear();
  Scan(rest, restOffset, marks);
}

void TEscPosCommands::Finish(std::vector<TCommandMark>& marks) {
  if (!header_.empty()) {
    bool growing = false;
    const TEscPosCommand* command = FindCommand(header_, growing);
    const std::string name =
        command != nullptr ? std::string(command->name) : IntroducerName(header_[0]);
    AddCommandMark(marks, headerOffset_, header_.size(),
                   name + std::string(kCutShortCommandSuffix));
  }
  header_.clear();
  dataLeft_ = 0;
}
