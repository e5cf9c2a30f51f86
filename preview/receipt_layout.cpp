#include "preview/receipt_layout.h"

#include <algorithm>

namespace {

constexpr int kTabCharacters = 8;

// The tear line: a dashed line with a little paper either side.
constexpr int kTearMargin = 6;
constexpr int kTearThickness = 2;
constexpr int kDashLength = 8;

}  // namespace

TReceiptLayout::TReceiptLayout(int paperDots, int maxHeightDots, int maxPages)
    : paperDots_(paperDots),
      maxHeightDots_(maxHeightDots),
      maxPages_(static_cast<std::size_t>(maxPages)),
      page_(paperDots) {}

void TReceiptLayout::AddCharacter(char16_t character, const TPrintStyle& style) {
  TLineItem item;
  item.glyph = &glyphs_.Glyph(character, style.font, style.bold);
  item.scaleX = style.widthScale;
  item.scaleY = style.heightScale;
  item.advance = CellWidth(style.font) * style.widthScale + style.rightSpacing;
  item.underlineDots = style.underlineDots;
  AddItem(std::move(item));
}

void TReceiptLayout::AddTab(const TPrintStyle& style) {
  const int stop = CellWidth(style.font) * kTabCharacters;
  const int next = (lineWidth_ / stop + 1) * stop;
  if (next > paperDots_) return PrintLine(0);
  TLineItem gap;
  gap.advance = next - lineWidth_;
  AddItem(std::move(gap));
}

void TReceiptLayout::AddColumnImage(TDotImage image, int scaleX, int scaleY) {
  TLineItem item;
  item.advance = image.Width() * scaleX;
  item.image = std::move(image);
  item.scaleX = scaleX;
  item.scaleY = scaleY;
  AddItem(std::move(item));
}

void TReceiptLayout::AddItem(TLineItem item) {
  // A character that no longer fits starts the next line, as on paper.
  if (!line_.empty() && lineWidth_ + item.advance > paperDots_) PrintLine(0);
  lineWidth_ += item.advance;
  line_.push_back(std::move(item));
}

void TReceiptLayout::ClearLine() {
  line_.clear();
  lineWidth_ = 0;
}

int TReceiptLayout::AlignedLeft(int width) const {
  const int room = std::max(paperDots_ - width, 0);
  switch (alignment_) {
    case TAlignment::Center:
      return room / 2;
    case TAlignment::Right:
      return room;
    case TAlignment::Left:
      break;
  }
  return 0;
}

void TReceiptLayout::PrintLine(int feedDots) {
  int lineHeight = 0;
  for (const TLineItem& item : line_) lineHeight = std::max(lineHeight, item.Height());
  int band = std::max(lineHeight, feedDots);
  const int top = AddBand(band);
  int x = AlignedLeft(lineWidth_);
  for (const TLineItem& item : line_) {
    // Characters of different heights stand on one baseline at the bottom.
    const int itemTop = top + lineHeight - item.Height();
    if (const TDotImage* dots = item.Dots())
      page_.Draw(*dots, x, itemTop, item.scaleX, item.scaleY);
    for (int row = 0; row < item.underlineDots; ++row)
      for (int dx = 0; dx < item.advance; ++dx) page_.SetDot(x + dx, top + lineHeight - 1 - row);
    x += item.advance;
  }
  ClearLine();
}

void TReceiptLayout::AddRasterRow(std::string_view bits, int scaleX, int scaleY) {
  const int width = std::min(static_cast<int>(bits.size()) * 8 * scaleX, paperDots_);
  const int left = AlignedLeft(width);
  int band = scaleY;
  const int top = AddBand(band);
  for (int x = 0; x < width; ++x) {
    const int source = x / scaleX;
    const auto byte = static_cast<unsigned char>(bits[static_cast<std::size_t>(source / 8)]);
    if ((byte & (0x80u >> (source % 8))) == 0) continue;
    for (int row = 0; row < band; ++row) page_.SetDot(left + x, top + row);
  }
}

void TReceiptLayout::Cut() {
  if (!line_.empty()) PrintLine(0);
  int band = 2 * kTearMargin + kTearThickness;
  const int top = AddBand(band);
  for (int x = 0; x < paperDots_; ++x) {
    if ((x / kDashLength) % 2 != 0) continue;
    for (int row = 0; row < kTearThickness; ++row) page_.SetDot(x, top + kTearMargin + row);
  }
  FinishPage();
}

int TReceiptLayout::AddBand(int& height) {
  height = std::min(height, maxHeightDots_);
  if (page_.Height() + height > maxHeightDots_) FinishPage();
  const int top = page_.Height();
  page_.AddRows(height);
  return top;
}

void TReceiptLayout::FinishPage() {
  if (Full())
    overflowed_ = true;
  else
    pages_.push_back(page_.ToImage());
  page_ = TDotImage(paperDots_);
}

std::vector<QImage> TReceiptLayout::TakePages() {
  if (!line_.empty()) PrintLine(0);
  if (page_.Height() > 0) FinishPage();
  return std::move(pages_);
}
