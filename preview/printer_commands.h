#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "preview/command_mark.h"
#include "preview/printer_language.h"

// Names the printer commands in a capture for its text and hex views, from
// tables of ESC/POS, ZPL and PJL commands; the other languages get no
// marks. The capture is read in consecutive windows: a command may run from
// one window into the next, and what the scanner keeps between them is a
// few hundred bytes at most, however long the data a command announces.
class TCommandScanner {
 public:
  explicit TCommandScanner(TPrinterLanguage language);
  ~TCommandScanner();
  TCommandScanner(const TCommandScanner&) = delete;
  TCommandScanner& operator=(const TCommandScanner&) = delete;

  // Appends the marks of the commands that end in bytes, which start at
  // offset in the capture. A mark is appended once its length is known, so
  // it may start in an earlier window; marks come in the order of their
  // offsets. Plain text between commands gets no mark; an unknown command
  // is marked as its introducer and the byte after it. The length a command
  // announces may run past the end of a capture cut short. A window that
  // does not follow the one before starts the scan afresh at its offset.
  void Scan(std::string_view bytes, uint64_t offset, std::vector<TCommandMark>& marks);

  // Ends the capture: marks a command still open, as far as it went.
  void Finish(std::vector<TCommandMark>& marks);

 private:
  struct TLanguageScanner;

  TPrinterLanguage language_;
  std::unique_ptr<TLanguageScanner> scanner_;
  uint64_t nextOffset_ = 0;
};
