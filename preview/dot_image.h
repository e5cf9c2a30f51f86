#pragma once

#include <QImage>
#include <cstdint>
#include <vector>

// A one-bit picture of printed dots that grows downwards a row at a time,
// as the paper comes out of a printer. One bit a dot keeps a long receipt
// small; the picture becomes a QImage only when it is done.
class TDotImage {
 public:
  explicit TDotImage(int width = 0);

  int Width() const { return width_; }
  int Height() const { return height_; }

  // Adds blank rows at the bottom.
  void AddRows(int count);
  // Dots outside the picture are dropped, so callers may clip by drawing.
  void SetDot(int x, int y);
  bool Dot(int x, int y) const;
  // Copies the black dots of another picture with its top left at (x, y),
  // each dot drawn as a scaleX by scaleY block.
  void Draw(const TDotImage& source, int x, int y, int scaleX, int scaleY);

  // A one-bit image: index 0 is the white paper, index 1 the black print.
  QImage ToImage() const;

 private:
  std::size_t Offset(int x, int y) const;
  void OrRow(const TDotImage& source, int sourceRow, int x, int row);

  int width_;
  std::size_t bytesPerRow_;
  int height_ = 0;
  std::vector<std::uint8_t> bits_;
};
