#include "preview/receipt_glyphs.h"

#include <QFontMetrics>
#include <QPainter>

namespace {

// A fixed-pitch face with box drawing and shade characters, installed on
// every desktop we package for.
constexpr const char* kFontFamily = "DejaVu Sans Mono";

// The largest pixel size whose characters fit the cell.
QFont FittedFont(int cellWidth, int cellHeight) {
  QFont font(kFontFamily);
  font.setStyleHint(QFont::Monospace);
  font.setStyleStrategy(QFont::NoAntialias);
  for (int size = cellHeight; size > 4; --size) {
    font.setPixelSize(size);
    const QFontMetrics metrics(font);
    if (metrics.horizontalAdvance(QLatin1Char('M')) <= cellWidth && metrics.height() <= cellHeight)
      break;
  }
  return font;
}

// The grey a drawn pixel may reach and still count as paper.
constexpr int kInkThreshold = 128;

}  // namespace

int CellWidth(TReceiptFont font) { return font == TReceiptFont::A ? 12 : 9; }
int CellHeight(TReceiptFont font) { return font == TReceiptFont::A ? 24 : 17; }

TReceiptGlyphs::TReceiptGlyphs()
    : fontA_(FittedFont(CellWidth(TReceiptFont::A), CellHeight(TReceiptFont::A))),
      fontB_(FittedFont(CellWidth(TReceiptFont::B), CellHeight(TReceiptFont::B))) {}

QFont TReceiptGlyphs::FontFor(TReceiptFont font, bool bold) const {
  QFont result = font == TReceiptFont::A ? fontA_ : fontB_;
  result.setBold(bold);
  return result;
}

const TDotImage& TReceiptGlyphs::Glyph(char16_t character, TReceiptFont font, bool bold) {
  const std::uint32_t key =
      std::uint32_t{character} << 2 | (font == TReceiptFont::B ? 2u : 0u) | (bold ? 1u : 0u);
  auto found = glyphs_.find(key);
  if (found == glyphs_.end()) found = glyphs_.emplace(key, Draw(character, font, bold)).first;
  return found->second;
}

TDotImage TReceiptGlyphs::Draw(char16_t character, TReceiptFont font, bool bold) const {
  const int width = CellWidth(font);
  const int height = CellHeight(font);
  QImage canvas(width, height, QImage::Format_Grayscale8);
  canvas.fill(Qt::white);
  {
    QPainter painter(&canvas);
    const QFont face = FontFor(font, bold);
    painter.setFont(face);
    painter.setPen(Qt::black);
    const QFontMetrics metrics(face);
    // The character's box centred in the cell, so box drawing pieces meet
    // their neighbours above and below.
    const int baseline = (height - metrics.height()) / 2 + metrics.ascent();
    const int left = (width - metrics.horizontalAdvance(QChar(character))) / 2;
    painter.drawText(left, baseline, QString(QChar(character)));
  }
  TDotImage dots(width);
  dots.AddRows(height);
  for (int y = 0; y < height; ++y) {
    const uchar* row = canvas.constScanLine(y);
    for (int x = 0; x < width; ++x)
      if (row[x] < kInkThreshold) dots.SetDot(x, y);
  }
  return dots;
}
