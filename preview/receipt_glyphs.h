#pragma once

#include <QFont>
#include <unordered_map>

#include "preview/dot_image.h"

// The two character fonts of a receipt printer: font A in 12 by 24 dot
// cells, font B (the narrow one) in 9 by 17.
enum class TReceiptFont { A, B };

int CellWidth(TReceiptFont font);
int CellHeight(TReceiptFont font);

// The dot pattern of each character, drawn once from a fixed-pitch screen
// font into its cell without smoothing, as a thermal head has no greys.
// Larger sizes are these patterns with every dot repeated, which is how the
// printers enlarge characters too.
class TReceiptGlyphs {
 public:
  TReceiptGlyphs();
  const TDotImage& Glyph(char16_t character, TReceiptFont font, bool bold);

 private:
  QFont FontFor(TReceiptFont font, bool bold) const;
  TDotImage Draw(char16_t character, TReceiptFont font, bool bold) const;

  QFont fontA_;
  QFont fontB_;
  std::unordered_map<std::uint32_t, TDotImage> glyphs_;
};
