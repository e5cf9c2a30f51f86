#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "preview/command_mark.h"

// Finds the ESC/POS commands in a receipt printer's byte stream, window by
// window. A command starts with ESC, GS, DLE or FS (or is one of the
// control bytes LF, CR, FF and HT); its parameters follow, and commands
// that carry an image or a barcode say how long their data is. That data
// is counted, never kept, so a raster of megabytes costs nothing.
class TEscPosCommands {
 public:
  void Scan(std::string_view bytes, uint64_t offset, std::vector<TCommandMark>& marks);
  void Finish(std::vector<TCommandMark>& marks);

 private:
  void TakeHeaderByte(char byte, std::vector<TCommandMark>& marks);
  void MarkUnknown(std::vector<TCommandMark>& marks);
  void EndHeader(uint64_t length, std::vector<TCommandMark>& marks);

  // The command read so far, up to its data: a few bytes, or a barcode's
  // text of at most a few hundred.
  std::string header_;
  uint64_t headerOffset_ = 0;
  // The bytes of the last command's data still to pass.
  uint64_t dataLeft_ = 0;
};
