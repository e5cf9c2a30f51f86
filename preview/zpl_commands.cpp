#include "preview/zpl_commands.h"

#include <algorithm>
#include <cstring>

#include "base/text.h"

namespace {

enum class TZplSyntax {
  // The command alone, such as ^XA.
  Bare,
  // Parameters up to the next ^ or ~.
  Parameters,
  // Text up to the next ^: field data and comments.
  FieldText,
  // ^GF: its format says whether its data is text or a counted run of bytes.
  GraphicField,
};

struct TZplCommand {
  std::string_view code;
  std::string_view name;
  TZplSyntax syntax;
};

using enum TZplSyntax;

constexpr TZplCommand kCommands[] = {
    {"^XA", "^XA label start", Bare},
    {"^XZ", "^XZ label end", Bare},
    {"^FO", "^FO field origin", Parameters},
    {"^FT", "^FT field typeset", Parameters},
    {"^FD", "^FD field data", FieldText},
    {"^FV", "^FV field variable data", FieldText},
    {"^FX", "^FX comment", FieldText},
    {"^FS", "^FS field separator", Bare},
    {"^FH", "^FH field hex indicator", Parameters},
    {"^FB", "^FB field block", Parameters},
    {"^FR", "^FR field reverse", Bare},
    {"^FW", "^FW field orientation", Parameters},
    {"^FN", "^FN field number", Parameters},
    {"^A", "^A font", Parameters},
    {"^A@", "^A@ font by name", Parameters},
    {"^CF", "^CF default font", Parameters},
    {"^CI", "^CI character set", Parameters},
    {"^BY", "^BY barcode defaults", Parameters},
    {"^BC", "^BC Code 128 barcode", Parameters},
    {"^B3", "^B3 Code 39 barcode", Parameters},
    {"^B2", "^B2 Interleaved 2 of 5 barcode", Parameters},
    {"^BA", "^BA Code 93 barcode", Parameters},
    {"^BE", "^BE EAN-13 barcode", Parameters},
    {"^BU", "^BU UPC-A barcode", Parameters},
    {"^B7", "^B7 PDF417 barcode", Parameters},
    {"^BQ", "^BQ QR code", Parameters},
    {"^BX", "^BX Data Matrix code", Parameters},
    {"^GB", "^GB graphic box", Parameters},
    {"^GC", "^GC graphic circle", Parameters},
    {"^GD", "^GD graphic diagonal line", Parameters},
    {"^GE", "^GE graphic ellipse", Parameters},
    {"^GF", "^GF graphic field", GraphicField},
    {"^XG", "^XG recall graphic", Parameters},
    {"~DG", "~DG download graphic", Parameters},
    {"^DF", "^DF store format", Parameters},
    {"^XF", "^XF recall format", Parameters},
    {"^SN", "^SN serial number", Parameters},
    {"^LH", "^LH label home", Parameters},
    {"^LL", "^LL label length", Parameters},
    {"^LS", "^LS label shift", Parameters},
    {"^LT", "^LT label top", Parameters},
    {"^LR", "^LR label reverse", Parameters},
    {"^PW", "^PW print width", Parameters},
    {"^PQ", "^PQ print quantity", Parameters},
    {"^PR", "^PR print rate", Parameters},
    {"^PO", "^PO print orientation", Parameters},
    {"^PM", "^PM mirror image", Parameters},
    {"^MN", "^MN media tracking", Parameters},
    {"^MT", "^MT media type", Parameters},
    {"^MM", "^MM print mode", Parameters},
    {"^MD", "^MD media darkness", Parameters},
    {"^JU", "^JU save configuration", Parameters},
    {"^HH", "^HH configuration label", Bare},
    {"~WC", "~WC configuration label", Bare},
    {"~HS", "~HS host status", Bare},
    {"~HI", "~HI host identification", Bare},
    {"~HM", "~HM host memory status", Bare},
    {"~HQ", "~HQ host query", Parameters},
    {"~JA", "~JA cancel all", Bare},
    {"~JC", "~JC calibrate media", Bare},
    {"~JR", "~JR power-on reset", Bare},
    {"~SD", "~SD darkness", Parameters},
    {"~TA", "~TA tear-off position", Parameters},
};

const TZplCommand* FindCommand(std::string_view code) {
  for (const TZplCommand& command : kCommands)
    if (command.code == code) return &command;
  return nullptr;
}

bool IsPrefix(char byte) { return byte == '^' || byte == '~'; }

// A command's letters end at a blank or at the next command.
bool EndsCode(char byte) { return IsPrefix(byte) || IsBlank(byte); }

// ^GF's parameters before its data: format, byte count, field size and
// row size.
constexpr std::size_t kGraphicHeadFields = 4;
constexpr std::size_t kLongestGraphicHead = 64;

// The byte count of a binary graphic field; false for a text one or for a
// head that is no count.
bool BinaryGraphicSize(std::string_view head, uint64_t& size) {
  const std::size_t formatEnd = head.find(',');
  const std::string_view format = TrimBlanksView(head.substr(0, formatEnd));
  if (format != "B" && format != "C" && format != "b" && format != "c") return false;
  const std::size_t countStart = formatEnd + 1;
  const std::string_view count =
      TrimBlanksView(head.substr(countStart, head.find(',', countStart) - countStart));
  if (count.empty() || count.size() > 12 ||
      !std::all_of(count.begin(), count.end(), IsDecimalDigit))
    return false;
  size = 0;
  for (char digit : count) size = size * 10 + static_cast<uint64_t>(digit - '0');
  return true;
}

}  // namespace

void TZplCommands::Scan(std::string_view bytes, uint64_t offset, std::vector<TCommandMark>& marks) {
  std::size_t position = 0;
  while (position < bytes.size()) {
    if (dataLeft_ > 0) {
      position += TakeAnnouncedData(dataLeft_, bytes.size() - position);
      continue;
    }
    switch (state_) {
      case TState::Text:
        position = ScanText(bytes, position, offset);
        break;
      case TState::Code:
        position = ScanCode(bytes, position, marks);
        break;
      case TState::Parameters:
        position = ScanParameters(bytes, position, marks);
        break;
      case TState::GraphicHead:
        position = ScanGraphicHead(bytes, position, marks);
        break;
    }
  }
}

std::size_t TZplCommands::ScanText(std::string_view bytes, std::size_t position, uint64_t offset) {
  const std::size_t start = bytes.find_first_of("^~", position);
  if (start == std::string_view::npos) return bytes.size();
  prefix_ = bytes[start];
  code_.clear();
  commandOffset_ = offset + start;
  commandLength_ = 1;
  trailingLineEnds_ = 0;
  state_ = TState::Code;
  return start + 1;
}

std::size_t TZplCommands::ScanCode(std::string_view bytes, std::size_t position,
                                   std::vector<TCommandMark>& marks) {
  const char byte = bytes[position];
  if (EndsCode(byte)) {
    ResolveCode(marks);
    return position;
  }
  code_.push_back(UpperAscii(byte));
  ++commandLength_;
  if (code_.size() == 2) ResolveCode(marks);
  return position + 1;
}

// The end of a command's parameters is found with memchr: a graphic
// field's text runs to megabytes.
std::size_t TZplCommands::ScanParameters(std::string_view bytes, std::size_t position,
                                         std::vector<TCommandMark>& marks) {
  const char* begin = bytes.data() + position;
  std::size_t length = bytes.size() - position;
  const void* caret = std::memchr(begin, '^', length);
  if (caret != nullptr) length = static_cast<std::size_t>(static_cast<const char*>(caret) - begin);
  const void* tilde = tildeEnds_ ? std::memchr(begin, '~', length) : nullptr;
  if (tilde != nullptr) length = static_cast<std::size_t>(static_cast<const char*>(tilde) - begin);
  Count(bytes.substr(position, length));
  if (caret != nullptr || tilde != nullptr) CloseCommand(marks);
  return position + length;
}

std::size_t TZplCommands::ScanGraphicHead(std::string_view bytes, std::size_t position,
                                          std::vector<TCommandMark>& marks) {
  const char byte = bytes[position];
  if (IsPrefix(byte)) {
    CloseCommand(marks);
    return position;
  }
  graphicHead_.push_back(byte);
  Count(bytes.substr(position, 1));
  if (std::count(graphicHead_.begin(), graphicHead_.end(), ',') ==
      static_cast<std::ptrdiff_t>(kGraphicHeadFields)) {
    StartGraphicData(marks);
  } else if (graphicHead_.size() >= kLongestGraphicHead) {
    state_ = TState::Parameters;
  }
  return position + 1;
}

void TZplCommands::ResolveCode(std::vector<TCommandMark>& marks) {
  const std::string code = prefix_ + code_;
  const TZplCommand* command = FindCommand(code);
  // ^A takes its font's name as its first parameter: ^A0 is ^A with font 0.
  if (command == nullptr && code_.size() == 2) command = FindCommand(code.substr(0, 2));
  if (command == nullptr) {
    std::string name(1, prefix_);
    for (char byte : code_) name += CommandByteName(byte);
    AddCommandMark(marks, commandOffset_, commandLength_,
                   name + std::string(kUnknownCommandSuffix));
    state_ = TState::Text;
    return;
  }
  name_ = command->name;
  tildeEnds_ = command->syntax != FieldText;
  if (command->syntax == Bare) {
    CloseCommand(marks);
  } else if (command->syntax == GraphicField) {
    graphicHead_.clear();
    state_ = TState::GraphicHead;
  } else {
    state_ = TState::Parameters;
  }
}

void TZplCommands::StartGraphicData(std::vector<TCommandMark>& marks) {
  uint64_t size = 0;
  if (!BinaryGraphicSize(graphicHead_, size)) {
    state_ = TState::Parameters;
    return;
  }
  AddCommandMark(marks, commandOffset_, commandLength_ + size, name_);
  dataLeft_ = size;
  state_ = TState::Text;
}

void TZplCommands::Count(std::string_view bytes) {
  commandLength_ += bytes.size();
  const std::size_t last = bytes.find_last_not_of("\r\n");
  if (last == std::string_view::npos)
    trailingLineEnds_ += bytes.size();
  else
    trailingLineEnds_ = bytes.size() - 1 - last;
}

void TZplCommands::CloseCommand(std::vector<TCommandMark>& marks) {
  AddCommandMark(marks, commandOffset_, commandLength_ - trailingLineEnds_, name_);
  state_ = TState::Text;
}

// At the end of the capture the open command ends with it; a command cut
// off inside its letters is marked as far as it went.
void TZplCommands::Finish(std::vector<TCommandMark>& marks) {
  if (state_ == TState::Code) ResolveCode(marks);
  if (state_ == TState::Parameters || state_ == TState::GraphicHead) CloseCommand(marks);
  state_ = TState::Text;
  dataLeft_ = 0;
}
