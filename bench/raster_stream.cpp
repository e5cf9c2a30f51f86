#include "raster_stream.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>

#include "loopback_client.h"

namespace bench {
namespace {

constexpr uint64_t kPeriodBlocks = 127;
constexpr uint8_t kDle = 0x10, kEsc = 0x1b, kGs = 0x1d;
constexpr size_t kWidthBytes = 72, kRows = 910;
constexpr size_t kImageSize = kWidthBytes * kRows;
static_assert(TRasterStream::kBlockSize == 8 + kImageSize);
// GS v 0, mode 0, then the width in bytes and the height in rows, low
// byte first; none of these bytes is DLE, ESC or GS either.
constexpr uint8_t kHeader[8] = {
    kGs, 'v', '0', 0, kWidthBytes & 0xff, kWidthBytes >> 8, kRows & 0xff, kRows >> 8};

uint8_t WithoutCommandStart(uint8_t byte) {
  return byte == kDle || byte == kEsc || byte == kGs ? static_cast<uint8_t>(byte + 1) : byte;
}

TCheckResult Failed(TCheckResult result, std::string problem) {
  result.ok = false;
  result.problem = std::move(problem);
  return result;
}

using TUnitAt = std::function<const uint8_t*(uint64_t index)>;

// The file must be `count` units of `unit_size` bytes, unit i equal to
// unit_at(i); the checksums are over the whole file and what it should be.
TCheckResult CheckUnitFile(const std::string& path, size_t unit_size, uint64_t count,
                           const TUnitAt& unit_at) {
  TCheckResult result;
  result.files = 1;
  TChecksum expected, found;
  for (uint64_t index = 0; index < count; ++index) expected.Add(unit_at(index), unit_size);
  result.expected_checksum = expected.Value();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Failed(result, "cannot read " + path);
  std::vector<uint8_t> buffer(unit_size * std::max<size_t>(1, (1u << 20) / unit_size));
  bool same = true;
  for (size_t filled = 0;;) {
    const ssize_t got = ::read(fd, buffer.data() + filled, buffer.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got > 0) filled += static_cast<size_t>(got);
    if (got > 0 && filled < buffer.size()) continue;
    found.Add(buffer.data(), filled);
    for (size_t at = 0; same && at < filled; at += unit_size) {
      const uint64_t index = (result.bytes + at) / unit_size;
      same = index < count && filled - at >= unit_size &&
             std::memcmp(buffer.data() + at, unit_at(index), unit_size) == 0;
    }
    result.bytes += filled;
    filled = 0;
    if (got <= 0) break;
  }
  ::close(fd);
  result.found_checksum = found.Value();
  result.blocks = result.bytes / unit_size;
  if (result.bytes != count * unit_size)
    return Failed(result, path + " holds " + std::to_string(result.bytes) + " bytes, expected " +
                              std::to_string(count * unit_size));
  if (!same || result.found_checksum != result.expected_checksum)
    return Failed(result, path + " holds wrong bytes");
  return result;
}

uint8_t FirstByteOf(const std::string& path) {
  uint8_t byte = 0;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    if (::read(fd, &byte, 1) != 1) byte = 0;
    ::close(fd);
  }
  return byte;
}

// Both connections' figures in one: the sums of their checksums are as
// order-free as the files' names.
void Combine(TCheckResult& total, const TCheckResult& part) {
  total.files += part.files;
  total.bytes += part.bytes;
  total.blocks += part.blocks;
  total.expected_checksum += part.expected_checksum;
  total.found_checksum += part.found_checksum;
  if (part.ok || !total.ok) return;
  total.ok = false;
  total.problem = part.problem;
}

}  // namespace

TRasterStream::TRasterStream() : period_(kPeriodBlocks * kBlockSize) {
  const TStreamPattern pattern;
  for (uint64_t block = 0; block < kPeriodBlocks; ++block) {
    uint8_t* out = period_.data() + block * kBlockSize;
    std::memcpy(out, kHeader, sizeof kHeader);
    size_t contiguous = 0;
    const uint8_t* image = pattern.At(block * kImageSize, &contiguous);
    if (contiguous < kImageSize) throw TBenchError("the raster period outgrows the pattern");
    std::transform(image, image + kImageSize, out + sizeof kHeader, WithoutCommandStart);
  }
}

const uint8_t* TRasterStream::Block(uint64_t index) const {
  return period_.data() + (index % kPeriodBlocks) * kBlockSize;
}

TCheckResult CheckReplyCaptures(const std::string& folder, const std::vector<uint8_t>& query,
                                uint64_t queries, uint64_t raster_blocks,
                                const TRasterStream& raster) {
  TCheckResult total;
  const std::vector<std::string> files = CaptureFilesIn(folder);
  const size_t expected = raster_blocks > 0 ? 2 : 1;
  if (files.size() != expected)
    return Failed(total, folder + " holds " + std::to_string(files.size()) +
                             " captures, expected " + std::to_string(expected));
  for (const std::string& path : files) {
    if (raster_blocks > 0 && FirstByteOf(path) == kGs)
      Combine(total, CheckUnitFile(path, TRasterStream::kBlockSize, raster_blocks,
                                   [&raster](uint64_t index) { return raster.Block(index); }));
    else
      Combine(total, CheckUnitFile(path, query.size(), queries,
                                   [&query](uint64_t) { return query.data(); }));
  }
  return total;
}

}  // namespace bench
