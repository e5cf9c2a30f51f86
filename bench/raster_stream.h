// What a receipt client sends while it prints a picture, for the status
// reply runs: the bulk traffic beside the queries, and the check that the
// captures of both connections hold every byte sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "payload.h"

namespace bench {

// Raster image commands (GS v 0, normal density) of 576 dots by 910 rows
// each, one after the other. The image bytes hold no DLE, ESC or GS, so no
// status query hides in them, whether a server parses the commands or scans
// the bytes for queries. The blocks repeat after a prime number of them, so
// a piece stored at the wrong place does not match by chance.
class TRasterStream {
 public:
  static constexpr size_t kBlockSize = 8 + 72 * 910;

  TRasterStream();
  // Block `index` of the stream, kBlockSize bytes.
  const uint8_t* Block(uint64_t index) const;

 private:
  std::vector<uint8_t> period_;
};

// The folder must hold one capture of `queries` copies of `query` and, when
// `raster_blocks` is above 0, one of that many blocks of the raster stream:
// each connection its own file, whichever name it got.
TCheckResult CheckReplyCaptures(const std::string& folder, const std::vector<uint8_t>& query,
                                uint64_t queries, uint64_t raster_blocks,
                                const TRasterStream& raster);

}  // namespace bench
