#pragma once

#include <QImage>
#include <string>
#include <string_view>
#include <vector>

struct TReceiptOptions {
  int paperDots = 576;        // 80 mm at 203 dpi; 384 for 58 mm (kept within 48 to 4096)
  int maxHeightDots = 20000;  // one image at most this tall; further images follow
  int maxPages = 20;          // drawing stops here: about 29 MB of images at the defaults
};

struct TReceipt {
  std::vector<QImage> pages;       // one per cut, or per maxHeightDots
  std::vector<std::string> notes;  // what was skipped, e.g. "GS k barcode not drawn"
};

// Draws a receipt printer's command stream as the paper would come out:
// a white roll with black print, one-bit images (index 0 white, 1 black),
// each ended by a cut drawn as a dashed tear line. Input that prints nothing
// gives no pages. Each note is given once, in the order first met. Needs a
// QGuiApplication for its font; memory follows the drawn paper, not the
// input's size.
TReceipt RenderReceipt(std::string_view escpos, const TReceiptOptions& options = {});
