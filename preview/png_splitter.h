#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Cuts a stream of PNG images, written one after another, into one file per
// image (page-0001.png, ...) in a folder. Each image ends after its IEND
// chunk; its bytes go to its file as they arrive, so a large page costs no
// memory. Anything that is no PNG stops the splitting.
class TPngSplitter {
 public:
  enum class TState { Images, NoPng, WriteFailed };

  explicit TPngSplitter(std::string folder);
  ~TPngSplitter();
  TPngSplitter(const TPngSplitter&) = delete;
  TPngSplitter& operator=(const TPngSplitter&) = delete;

  // The next bytes of the stream; ignored once the state is no longer Images.
  void Take(std::string_view bytes);
  // The stream has ended: an image left unfinished makes it NoPng.
  void Finish();

  TState State() const { return state_; }
  // What a failed write said (strerror), for WriteFailed.
  const std::string& WriteError() const { return writeError_; }
  // The finished images' files, in order.
  const std::vector<std::string>& Pages() const { return pages_; }

 private:
  enum class TPart { Signature, ChunkHeader, ChunkBody };

  std::size_t TakeHeader(std::string_view bytes, std::size_t wanted);
  void HeaderComplete();
  bool StartImage();
  void EndImage();
  bool Write(std::string_view bytes);
  void Fail(TState state);

  std::string folder_;
  TState state_ = TState::Images;
  TPart part_ = TPart::Signature;
  std::string header_;
  std::string chunkType_;
  // Chunk data and CRC still to come.
  uint64_t bodyLeft_ = 0;
  bool firstChunk_ = true;
  int handle_ = -1;
  std::string currentPage_;
  std::string writeError_;
  std::vector<std::string> pages_;
};

// "page-0001.png": the name of a page's image; Ghostscript is given the same
// pattern, so cached pages read alike whoever drew them.
std::string PageFileName(std::size_t pageNumber);
