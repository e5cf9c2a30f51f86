#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "preview/command_mark.h"

// Finds the ZPL commands in a label printer's byte stream, window by
// window. A command is ^ or ~ and two letters (^A, the font, takes one);
// its parameters run to the next ^ or ~. Field data and comments run to
// the next ^ (the ^FS that ends them), so a tilde in a field stays text.
// A graphic field's hexadecimal data follows the same rule; its binary data
// is as long as its byte count says, counted and never kept.
class TZplCommands {
 public:
  void Scan(std::string_view bytes, uint64_t offset, std::vector<TCommandMark>& marks);
  void Finish(std::vector<TCommandMark>& marks);

 private:
  enum class TState { Text, Code, Parameters, GraphicHead };

  std::size_t ScanText(std::string_view bytes, std::size_t position, uint64_t offset);
  std::size_t ScanCode(std::string_view bytes, std::size_t position,
                       std::vector<TCommandMark>& marks);
  std::size_t ScanParameters(std::string_view bytes, std::size_t position,
                             std::vector<TCommandMark>& marks);
  std::size_t ScanGraphicHead(std::string_view bytes, std::size_t position,
                              std::vector<TCommandMark>& marks);
  void ResolveCode(std::vector<TCommandMark>& marks);
  void StartGraphicData(std::vector<TCommandMark>& marks);
  void Count(std::string_view bytes);
  void CloseCommand(std::vector<TCommandMark>& marks);

  TState state_ = TState::Text;
  char prefix_ = '^';
  // Up to two letters after the prefix.
  std::string code_;
  std::string name_;
  uint64_t commandOffset_ = 0;
  uint64_t commandLength_ = 0;
  // Line ends at the end of a command's parameters, which are layout, not
  // part of the command.
  uint64_t trailingLineEnds_ = 0;
  bool tildeEnds_ = true;
  // A graphic field's parameters up to its data, bounded.
  std::string graphicHead_;
  // The bytes of a binary graphic field still to pass.
  uint64_t dataLeft_ = 0;
};
