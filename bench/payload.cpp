#include "payload.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "loopback_client.h"

namespace bench {
namespace {

constexpr uint32_t kBlockMagic = 0x424b4e54;  // "TNKB" in memory order
constexpr size_t kStreamPeriod = (8u << 20) + 4093;
constexpr size_t kReadSize = 1u << 20;

uint64_t RotateLeft(uint64_t value, unsigned count) {
  return (value << count) | (value >> (64 - count));
}

// splitmix64: fast, and different seeds give unrelated sequences.
uint64_t NextRandom(uint64_t& state) {
  uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

void FillRandom(uint64_t seed, uint8_t* out, size_t size) {
  uint64_t state = seed;
  size_t at = 0;
  for (; at + 8 <= size; at += 8) {
    const uint64_t word = NextRandom(state);
    std::memcpy(out + at, &word, 8);
  }
  if (at < size) {
    const uint64_t word = NextRandom(state);
    std::memcpy(out + at, &word, size - at);
  }
}

uint64_t BlockChecksum(const uint8_t* block, size_t size) {
  TChecksum sum;
  sum.Add(block, size);
  return sum.Value();
}

struct TFileCloser {
  void operator()(int* fd) const {
    ::close(*fd);
    delete fd;
  }
};
using TFileHandle = std::unique_ptr<int, TFileCloser>;

TFileHandle OpenForReading(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  return fd < 0 ? TFileHandle() : TFileHandle(new int(fd));
}

// Reads up to `size` bytes, retrying short reads; returns how many arrived.
size_t ReadFully(int fd, uint8_t* out, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, out + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out) {
  const TFileHandle file = OpenForReading(path);
  if (!file) return false;
  struct stat info {};
  if (::fstat(*file, &info) != 0) return false;
  out.resize(static_cast<size_t>(info.st_size));
  return ReadFully(*file, out.data(), out.size()) == out.size();
}

TCheckResult Failed(TCheckResult result, std::string problem) {
  result.ok = false;
  result.problem = std::move(problem);
  return result;
}

// Checks one block in place; returns its job and sequence through the
// arguments, or an explanation of what is wrong with it.
std::string CheckBlock(const uint8_t* block, size_t size, std::vector<uint8_t>& scratch,
                       uint32_t* job, uint32_t* sequence) {
  uint32_t magic = 0;
  std::memcpy(&magic, block, 4);
  std::memcpy(job, block + 4, 4);
  std::memcpy(sequence, block + 8, 4);
  if (magic != kBlockMagic) return "a block does not start with the block mark";
  scratch.resize(size);
  FillBlock(*job, *sequence, scratch.data(), size);
  if (std::memcmp(block, scratch.data(), size) != 0)
    return "job " + std::to_string(*job) + " block " + std::to_string(*sequence) +
           " has wrong bytes";
  return {};
}

}  // namespace

std::vector<std::string> CaptureFilesIn(const std::string& folder) {
  std::vector<std::string> paths;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return paths;
  while (const dirent* entry = ::readdir(dir)) {
    if (!IsCaptureName(entry->d_name)) continue;
    const std::string path = folder + "/" + entry->d_name;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) paths.push_back(path);
  }
  ::closedir(dir);
  std::sort(paths.begin(), paths.end());
  return paths;
}

void TChecksum::MixWord(uint64_t word) {
  state_ = RotateLeft(state_ ^ word, 29) * 0x9e3779b97f4a7c15ULL;
}

void TChecksum::Add(const uint8_t* data, size_t size) {
  length_ += size;
  while (size > 0 && pending_count_ != 0) {
    pending_ |= uint64_t{*data++} << (8 * pending_count_);
    --size;
    if (++pending_count_ == 8) {
      MixWord(pending_);
      pending_ = 0;
      pending_count_ = 0;
    }
  }
  for (; size >= 8; size -= 8, data += 8) {
    uint64_t word = 0;
    std::memcpy(&word, data, 8);
    MixWord(word);
  }
  for (; size > 0; --size) pending_ |= uint64_t{*data++} << (8 * pending_count_++);
}

uint64_t TChecksum::Value() const {
  uint64_t state = state_;
  if (pending_count_ != 0) state = RotateLeft(state ^ pending_, 29) * 0x9e3779b97f4a7c15ULL;
  state ^= length_;
  state ^= state >> 33;
  state *= 0xff51afd7ed558ccdULL;
  return state ^ (state >> 33);
}

TStreamPattern::TStreamPattern() : table_(kStreamPeriod) {
  FillRandom(0x5eed, table_.data(), table_.size());
}

const uint8_t* TStreamPattern::At(uint64_t offset, size_t* contiguous) const {
  const size_t start = static_cast<size_t>(offset % table_.size());
  *contiguous = table_.size() - start;
  return table_.data() + start;
}

uint64_t TStreamPattern::ChecksumOf(uint64_t size) const {
  TChecksum sum;
  for (uint64_t offset = 0; offset < size;) {
    size_t contiguous = 0;
    const uint8_t* bytes = At(offset, &contiguous);
    const size_t take = static_cast<size_t>(std::min<uint64_t>(contiguous, size - offset));
    sum.Add(bytes, take);
    offset += take;
  }
  return sum.Value();
}

void FillBlock(uint32_t job, uint32_t sequence, uint8_t* out, size_t size) {
  std::memcpy(out, &kBlockMagic, 4);
  std::memcpy(out + 4, &job, 4);
  std::memcpy(out + 8, &sequence, 4);
  FillRandom((uint64_t{job} << 32) | sequence, out + kBlockHeaderSize, size - kBlockHeaderSize);
}

TCheckResult CheckStreamFile(const std::string& path, uint64_t size,
                             const TStreamPattern& pattern) {
  TCheckResult result;
  result.expected_checksum = pattern.ChecksumOf(size);
  const TFileHandle file = OpenForReading(path);
  if (!file) return Failed(result, "capture file " + path + " is missing");
  result.files = 1;
  TChecksum sum;
  std::vector<uint8_t> buffer(kReadSize);
  bool same = true;
  for (;;) {
    const size_t got = ReadFully(*file, buffer.data(), buffer.size());
    if (got == 0) break;
    sum.Add(buffer.data(), got);
    for (size_t at = 0; same && at < got;) {
      size_t contiguous = 0;
      const uint8_t* expected = pattern.At(result.bytes + at, &contiguous);
      const size_t take = std::min(contiguous, got - at);
      if (result.bytes + at + take > size || std::memcmp(expected, buffer.data() + at, take) != 0)
        same = false;
      at += take;
    }
    result.bytes += got;
  }
  result.found_checksum = sum.Value();
  if (result.bytes != size)
    return Failed(result, path + " holds " + std::to_string(result.bytes) + " bytes, expected " +
                              std::to_string(size));
  if (!same || result.found_checksum != result.expected_checksum)
    return Failed(result, path + " holds wrong bytes");
  return result;
}

TCheckResult CheckBlockFolder(const std::string& folder, uint32_t jobs, uint32_t sequences,
                              size_t block_size) {
  TCheckResult result;
  std::vector<uint8_t> scratch(block_size);
  for (uint32_t job = 0; job < jobs; ++job)
    for (uint32_t sequence = 0; sequence < sequences; ++sequence) {
      FillBlock(job, sequence, scratch.data(), block_size);
      result.expected_checksum += BlockChecksum(scratch.data(), block_size);
    }
  std::vector<bool> seen(size_t{jobs} * sequences, false);
  std::vector<uint8_t> content;
  for (const std::string& path : CaptureFilesIn(folder)) {
    if (!ReadWholeFile(path, content)) return Failed(result, "cannot read " + path);
    ++result.files;
    result.bytes += content.size();
    if (content.size() % block_size != 0)
      return Failed(result, path + " is not a whole number of blocks");
    for (size_t at = 0; at < content.size(); at += block_size) {
      uint32_t job = 0, sequence = 0;
      const std::string problem =
          CheckBlock(content.data() + at, block_size, scratch, &job, &sequence);
      if (!problem.empty()) return Failed(result, path + ": " + problem);
      if (job >= jobs || sequence >= sequences)
        return Failed(result, path + ": block of an unknown job");
      const size_t index = size_t{job} * sequences + sequence;
      if (seen[index]) return Failed(result, path + ": job " + std::to_string(job) + " twice");
      seen[index] = true;
      ++result.blocks;
      result.found_checksum += BlockChecksum(content.data() + at, block_size);
    }
  }
  if (result.blocks != seen.size())
    return Failed(result, std::to_string(seen.size() - result.blocks) + " blocks are missing");
  return result;
}

TCheckResult CheckBlockSequenceFile(const std::string& path, uint32_t jobs, size_t block_size) {
  TCheckResult result;
  std::vector<uint8_t> content;
  std::vector<uint8_t> scratch(block_size);
  if (!ReadWholeFile(path, content)) return Failed(result, "cannot read " + path);
  result.files = 1;
  result.bytes = content.size();
  if (content.size() != size_t{jobs} * block_size)
    return Failed(result, path + " holds " + std::to_string(content.size()) + " bytes, expected " +
                              std::to_string(size_t{jobs} * block_size));
  for (uint32_t job = 0; job < jobs; ++job) {
    FillBlock(job, 0, scratch.data(), block_size);
    result.expected_checksum += BlockChecksum(scratch.data(), block_size);
    const uint8_t* block = content.data() + size_t{job} * block_size;
    result.found_checksum += BlockChecksum(block, block_size);
    if (std::memcmp(block, scratch.data(), block_size) != 0)
      return Failed(result, path + ": probe " + std::to_string(job) + " has wrong bytes");
    ++result.blocks;
  }
  return result;
}

}  // namespace bench
