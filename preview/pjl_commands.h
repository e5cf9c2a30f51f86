#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "preview/command_mark.h"

// Finds the job control commands in a PJL-wrapped job, window by window:
// each universal exit and each "@PJL" line. After ENTER LANGUAGE, or after
// any other line that is no PJL, the bytes belong to the entered language
// and nothing is marked in them up to the next universal exit.
class TPjlCommands {
 public:
  void Scan(std::string_view bytes, uint64_t offset, std::vector<TCommandMark>& marks);
  void Finish(std::vector<TCommandMark>& marks);

 private:
  enum class TState { LineStart, Line, Entered };

  std::size_t ScanLineStart(std::string_view bytes, std::size_t position, uint64_t offset,
                            std::vector<TCommandMark>& marks);
  std::size_t ScanLine(std::string_view bytes, std::size_t position,
                       std::vector<TCommandMark>& marks);
  std::size_t ScanEntered(std::string_view bytes, std::size_t position, uint64_t offset,
                          std::vector<TCommandMark>& marks);
  void MarkLine(std::vector<TCommandMark>& marks);

  TState state_ = TState::LineStart;
  // The first bytes of a line, until they tell a universal exit, a PJL
  // line or the entered language apart.
  std::string lookahead_;
  uint64_t lookaheadOffset_ = 0;
  // A PJL line's first bytes (enough for its command words) and its length.
  std::string line_;
  uint64_t lineOffset_ = 0;
  uint64_t lineLength_ = 0;
  // How much of a universal exit the entered language's bytes have shown.
  std::size_t exitMatched_ = 0;
  uint64_t exitOffset_ = 0;
};
