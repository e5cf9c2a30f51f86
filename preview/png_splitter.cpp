#include "preview/png_splitter.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "base/system_calls.h"

namespace {

constexpr std::string_view kSignature("\x89PNG\r\n\x1a\n", 8);
constexpr std::size_t kChunkHeaderBytes = 8;
constexpr std::size_t kCrcBytes = 4;
// No chunk may be longer than this.
constexpr uint64_t kLongestChunk = 0x7fffffff;

uint32_t BigEndian(std::string_view bytes) {
  uint32_t value = 0;
  for (std::size_t at = 0; at < 4; ++at)
    value = (value << 8) | static_cast<unsigned char>(bytes[at]);
  return value;
}

bool IsChunkType(std::string_view type) {
  return std::all_of(type.begin(), type.end(), [](char letter) {
    return (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
  });
}

}  // namespace

std::string PageFileName(std::size_t pageNumber) {
  char name[32];
  std::snprintf(name, sizeof name, "page-%04zu.png", pageNumber);
  return name;
}

TPngSplitter::TPngSplitter(std::string folder) : folder_(std::move(folder)) {}

TPngSplitter::~TPngSplitter() {
  if (handle_ >= 0) CloseOnce(handle_);
}

void TPngSplitter::Take(std::string_view bytes) {
  std::size_t at = 0;
  while (at < bytes.size() && state_ == TState::Images) {
    const std::string_view rest = bytes.substr(at);
    if (part_ == TPart::Signature) {
      at += TakeHeader(rest, kSignature.size());
    } else if (part_ == TPart::ChunkHeader) {
      at += TakeHeader(rest, kChunkHeaderBytes);
    } else {
      const std::size_t taken =
          static_cast<std::size_t>(std::min<uint64_t>(bodyLeft_, rest.size()));
      if (!Write(rest.substr(0, taken))) return;
      at += taken;
      bodyLeft_ -= taken;
      if (bodyLeft_ == 0) {
        part_ = TPart::ChunkHeader;
        if (chunkType_ == "IEND") EndImage();
      }
    }
  }
}

void TPngSplitter::Finish() {
  if (state_ != TState::Images) return;
  if (part_ != TPart::Signature || !header_.empty()) Fail(TState::NoPng);
}

// Gathers a signature or a chunk header, which may arrive in pieces; answers
// how many bytes it took.
std::size_t TPngSplitter::TakeHeader(std::string_view bytes, std::size_t wanted) {
  const std::size_t taken = std::min(wanted - header_.size(), bytes.size());
  header_.append(bytes.substr(0, taken));
  if (header_.size() == wanted) HeaderComplete();
  return taken;
}

void TPngSplitter::HeaderComplete() {
  const std::string header = std::exchange(header_, {});
  if (part_ == TPart::Signature) {
    if (header != kSignature) return Fail(TState::NoPng);
    if (!StartImage() || !Write(header)) return;
    part_ = TPart::ChunkHeader;
    firstChunk_ = true;
    return;
  }
  const uint64_t length = BigEndian(header);
  chunkType_ = header.substr(4, 4);
  // Every image starts with its header chunk.
  if (length > kLongestChunk || !IsChunkType(chunkType_) || (firstChunk_ && chunkType_ != "IHDR"))
    return Fail(TState::NoPng);
  firstChunk_ = false;
  if (!Write(header)) return;
  bodyLeft_ = length + kCrcBytes;
  part_ = TPart::ChunkBody;
}

bool TPngSplitter::StartImage() {
  const std::string path = folder_ + "/" + PageFileName(pages_.size() + 1);
  handle_ = OpenRetrying(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (handle_ < 0) {
    writeError_ = std::strerror(errno);
    Fail(TState::WriteFailed);
    return false;
  }
  currentPage_ = path;
  return true;
}

// The page counts once it is whole: it is moved to Pages() only here.
void TPngSplitter::EndImage() {
  const int handle = std::exchange(handle_, -1);
  if (CloseOnce(handle) != 0) {
    writeError_ = std::strerror(errno);
    Fail(TState::WriteFailed);
    return;
  }
  part_ = TPart::Signature;
  pages_.push_back(std::exchange(currentPage_, {}));
}

bool TPngSplitter::Write(std::string_view bytes) {
  if (bytes.empty()) return true;
  if (WriteAll(handle_, bytes.data(), bytes.size()) == 0) return true;
  writeError_ = std::strerror(errno);
  Fail(TState::WriteFailed);
  return false;
}

void TPngSplitter::Fail(TState state) { state_ = state; }
