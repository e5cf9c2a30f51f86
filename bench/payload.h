// The bytes the load generator sends and the checks that prove they all
// arrived: one long stream for the throughput runs, and self-describing
// blocks for the runs with many connections, whose files may hold several
// jobs in whatever order they were accepted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// A 64-bit checksum over a byte sequence, fed in pieces of any size.
class TChecksum {
 public:
  void Add(const uint8_t* data, size_t size);
  uint64_t Value() const;

 private:
  void MixWord(uint64_t word);

  uint64_t state_ = 0x6a09e667f3bcc909ULL;
  uint64_t pending_ = 0;
  unsigned pending_count_ = 0;
  uint64_t length_ = 0;
};

// The stream is a random table repeated; its period is no power of two, so a
// piece stored at the wrong offset does not match by chance. About one byte in
// 256 is zero, which a capture of binary data must keep.
class TStreamPattern {
 public:
  TStreamPattern();
  // Bytes from offset on, and how many of them follow before the table wraps.
  const uint8_t* At(uint64_t offset, size_t* contiguous) const;
  uint64_t ChecksumOf(uint64_t size) const;

 private:
  std::vector<uint8_t> table_;
};

// A block starts with a magic word, the job number and the sequence number
// within the job; the rest follows from those two, so every block can be
// checked on its own wherever it landed.
void FillBlock(uint32_t job, uint32_t sequence, uint8_t* out, size_t size);
inline constexpr size_t kBlockHeaderSize = 12;

struct TCheckResult {
  bool ok = true;
  std::string problem;
  uint64_t files = 0;
  uint64_t bytes = 0;
  uint64_t blocks = 0;
  uint64_t expected_checksum = 0;
  uint64_t found_checksum = 0;
};

// The capture files in the folder (IsCaptureName), sorted by path: the
// folder may also hold the index of finished jobs.
std::vector<std::string> CaptureFilesIn(const std::string& folder);

// The file must hold exactly `size` bytes of the stream.
TCheckResult CheckStreamFile(const std::string& path, uint64_t size, const TStreamPattern& pattern);

// Every capture file in the folder (IsCaptureName) must be a whole number of
// blocks, and every block (job 0..jobs-1, sequence 0..sequences-1) must
// appear exactly once; other files (jobs.csv) are no capture's.
TCheckResult CheckBlockFolder(const std::string& folder, uint32_t jobs, uint32_t sequences,
                              size_t block_size);

// Blocks of one job each, in job order, as sequential probes append them.
TCheckResult CheckBlockSequenceFile(const std::string& path, uint32_t jobs, size_t block_size);

}  // namespace bench
