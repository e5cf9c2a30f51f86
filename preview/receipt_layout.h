#pragma once

#include <QImage>
#include <optional>
#include <string_view>
#include <vector>

#include "preview/dot_image.h"
#include "preview/receipt_glyphs.h"

enum class TAlignment { Left, Center, Right };

// How characters are printed; ESC !, ESC E, ESC -, ESC M, GS ! and ESC SP
// change it.
struct TPrintStyle {
  TReceiptFont font = TReceiptFont::A;
  bool bold = false;
  int underlineDots = 0;  // 0, 1 or 2
  int widthScale = 1;     // 1 to 8
  int heightScale = 1;    // 1 to 8
  int rightSpacing = 0;   // dots after each character
};

// The paper as a printer lays it out in standard mode: characters and
// column images gather in a line buffer until a feed prints the line with
// the alignment then in force; raster images print at once. The roll is
// cut into page images at each cut, and wherever a page would grow beyond
// the height limit.
class TReceiptLayout {
 public:
  TReceiptLayout(int paperDots, int maxHeightDots, int maxPages);

  int PaperDots() const { return paperDots_; }
  void SetAlignment(TAlignment alignment) { alignment_ = alignment; }

  void AddCharacter(char16_t character, const TPrintStyle& style);
  // Moves to the next tab stop, one every eight characters.
  void AddTab(const TPrintStyle& style);
  // A column image, each dot drawn as a scaleX by scaleY block. Wider than
  // the paper, it is cut at the paper's edge.
  void AddColumnImage(TDotImage image, int scaleX, int scaleY);
  // Drops what has not been printed yet.
  void ClearLine();
  // Prints the line buffer and moves the paper by at least feedDots.
  void PrintLine(int feedDots);
  // Prints the line buffer without moving the paper beyond the line.
  void PrintLineWithoutFeed() { PrintLine(0); }
  // One row of a raster image, MSB left, every dot scaleX wide and the
  // row repeated scaleY times. The row is cut at the paper's edge.
  void AddRasterRow(std::string_view bits, int scaleX, int scaleY);
  // Prints the line buffer and draws the tear line that ends the page.
  void Cut();

  // True once the page limit is reached: nothing more is kept.
  bool Full() const { return pages_.size() >= maxPages_; }
  // True when printed paper was dropped for the page limit.
  bool Overflowed() const { return overflowed_; }

  // The pages so far and the one in progress, if anything is on it.
  std::vector<QImage> TakePages();

 private:
  struct TLineItem {
    const TDotImage* glyph = nullptr;
    std::optional<TDotImage> image;
    int scaleX = 1;
    int scaleY = 1;
    int advance = 0;
    int underlineDots = 0;

    const TDotImage* Dots() const { return image ? &*image : glyph; }
    int Height() const { return Dots() ? Dots()->Height() * scaleY : 0; }
  };

  void AddItem(TLineItem item);
  int AlignedLeft(int width) const;
  // Makes room for a band of rows, starting a new page if the band would
  // not fit on this one; returns the first row of the band, whose height
  // is cut to what a page can hold.
  int AddBand(int& height);
  void FinishPage();

  int paperDots_;
  int maxHeightDots_;
  std::size_t maxPages_;
  bool overflowed_ = false;
  TAlignment alignment_ = TAlignment::Left;
  TReceiptGlyphs glyphs_;
  std::vector<TLineItem> line_;
  int lineWidth_ = 0;
  TDotImage page_;
  std::vector<QImage> pages_;
};
