#include "preview/dot_image.h"

#include <algorithm>
#include <cstring>

TDotImage::TDotImage(int width)
    : width_(std::max(width, 0)), bytesPerRow_((static_cast<std::size_t>(width_) + 7) / 8) {}

void TDotImage::AddRows(int count) {
  if (count <= 0) return;
  height_ += count;
  bits_.resize(bytesPerRow_ * static_cast<std::size_t>(height_), 0);
}

std::size_t TDotImage::Offset(int x, int y) const {
  return static_cast<std::size_t>(y) * bytesPerRow_ + static_cast<std::size_t>(x) / 8;
}

void TDotImage::SetDot(int x, int y) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  bits_[Offset(x, y)] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
}

bool TDotImage::Dot(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return false;
  return (bits_[Offset(x, y)] & (0x80u >> (x % 8))) != 0;
}

void TDotImage::Draw(const TDotImage& source, int x, int y, int scaleX, int scaleY) {
  for (int sy = 0; sy < source.Height(); ++sy)
    for (int dy = 0; dy < scaleY; ++dy) {
      const int row = y + sy * scaleY + dy;
      if (row < 0 || row >= height_) continue;
      if (scaleX == 1 && x >= 0) {
        OrRow(source, sy, x, row);
        continue;
      }
      for (int sx = 0; sx < source.Width(); ++sx)
        if (source.Dot(sx, sy))
          for (int dx = 0; dx < scaleX; ++dx) SetDot(x + sx * scaleX + dx, row);
    }
}

// Characters are drawn a byte of dots at a time: this is where a long
// receipt spends its time.
void TDotImage::OrRow(const TDotImage& source, int sourceRow, int x, int row) {
  const std::size_t rowStart = Offset(0, row);
  const int shift = x % 8;
  for (std::size_t byte = 0; byte < source.bytesPerRow_; ++byte) {
    const unsigned dots = source.bits_[source.Offset(0, sourceRow) + byte];
    if (dots == 0) continue;
    const std::size_t target = static_cast<std::size_t>(x / 8) + byte;
    if (target < bytesPerRow_) bits_[rowStart + target] |= static_cast<std::uint8_t>(dots >> shift);
    if (shift != 0 && target + 1 < bytesPerRow_)
      bits_[rowStart + target + 1] |= static_cast<std::uint8_t>(dots << (8 - shift));
  }
  // Dots past the right edge fell into the last byte's spare bits.
  if (const int spare = static_cast<int>(bytesPerRow_ * 8) - width_; spare > 0)
    bits_[rowStart + bytesPerRow_ - 1] &= static_cast<std::uint8_t>(0xffu << spare);
}

QImage TDotImage::ToImage() const {
  QImage image(width_, height_, QImage::Format_Mono);
  image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
  for (int y = 0; y < height_; ++y)
    std::memcpy(image.scanLine(y), bits_.data() + Offset(0, y), bytesPerRow_);
  return image;
}
