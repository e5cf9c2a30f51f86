#include "preview/receipt_renderer.h"

#include <gtest/gtest.h>

#include <QRect>
#include <string>

namespace {

using namespace std::string_literals;

// The black dots of a receipt and where those of its first page lie.
struct TInk {
  long dots = 0;
  QRect firstPageBox;
};

TInk InkOf(const TReceipt& receipt) {
  TInk ink;
  for (std::size_t page = 0; page < receipt.pages.size(); ++page) {
    const QImage& image = receipt.pages[page];
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) {
        if (image.pixelIndex(x, y) != 1) continue;
        ++ink.dots;
        if (page == 0) ink.firstPageBox |= QRect(x, y, 1, 1);
      }
  }
  return ink;
}

long BlackDots(const std::string& escpos) { return InkOf(RenderReceipt(escpos)).dots; }

// GS v 0 with a 48 by 24 dot image whose left half is black.
std::string HalfBlackRaster(char mode) {
  std::string image = "\x1dv0"s + mode + "\x06\x00\x18\x00"s;
  for (int row = 0; row < 24; ++row) image += "\xff\xff\xff\x00\x00\x00"s;
  return image;
}

struct TRasterCase {
  const char* name;
  std::string escpos;
  long dots;
  QRect box;
};

class ReceiptRasterTest : public testing::TestWithParam<TRasterCase> {};

TEST_P(ReceiptRasterTest, DrawsExactlyTheImagesDots) {
  const TReceipt receipt = RenderReceipt(GetParam().escpos);
  ASSERT_EQ(receipt.pages.size(), 1u);
  EXPECT_EQ(receipt.pages[0].width(), 576);
  const TInk ink = InkOf(receipt);
  EXPECT_EQ(ink.dots, GetParam().dots);
  EXPECT_EQ(ink.firstPageBox, GetParam().box);
  EXPECT_TRUE(receipt.notes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Images, ReceiptRasterTest,
    testing::Values(
        TRasterCase{"Left", HalfBlackRaster(0), 24 * 24, QRect(0, 0, 24, 24)},
        TRasterCase{"Centered",
                    "\x1b"
                    "a\x01" +
                        HalfBlackRaster(0),
                    24 * 24, QRect(264, 0, 24, 24)},
        TRasterCase{"Right",
                    "\x1b"
                    "a2" +
                        HalfBlackRaster(0),
                    24 * 24, QRect(528, 0, 24, 24)},
        TRasterCase{"DoubleWidth", HalfBlackRaster(1), 48 * 24, QRect(0, 0, 48, 24)},
        TRasterCase{"Quadruple", HalfBlackRaster('3'), 48 * 48, QRect(0, 0, 48, 48)},
        // Feeds: a line (30 dots unless set), n lines, n dots; an overlong line
        // wraps onto a second one.
        TRasterCase{"BelowAFedLine", "\n"s + HalfBlackRaster(0), 24 * 24, QRect(0, 30, 24, 24)},
        TRasterCase{"BelowFedLines",
                    "\x1b"
                    "d\x02" +
                        HalfBlackRaster(0),
                    24 * 24, QRect(0, 60, 24, 24)},
        TRasterCase{"BelowFedDots", "\x1bJ\x05" + HalfBlackRaster(0), 24 * 24, QRect(0, 5, 24, 24)},
        TRasterCase{"BelowASetLineSpacing",
                    "\x1b"
                    "3\x10\n" +
                        HalfBlackRaster(0),
                    24 * 24, QRect(0, 16, 24, 24)},
        TRasterCase{"ResetRestoresLineSpacing",
                    "\x1b"
                    "3\x10\x1b@\n" +
                        HalfBlackRaster(0),
                    24 * 24, QRect(0, 30, 24, 24)},
        TRasterCase{"BelowAWrappedLine", std::string(49, ' ') + "\n" + HalfBlackRaster(0), 24 * 24,
                    QRect(0, 54, 24, 24)},
        TRasterCase{"WithoutWidth", "\x1dv0\x00\x00\x00\x10\x00"s + HalfBlackRaster(0), 24 * 24,
                    QRect(0, 0, 24, 24)},
        // 24-dot columns at full density, and 8-dot columns at single
        // density, where every dot is 2 wide and 3 tall.
        TRasterCase{"Columns24Dot", "\x1b*\x21\x0a\x00"s + std::string(30, '\xff') + "\n", 240,
                    QRect(0, 0, 10, 24)},
        TRasterCase{"Columns8DotSingleDensity", "\x1b*\x00\x0a\x00"s + std::string(10, '\xff'), 480,
                    QRect(0, 0, 20, 24)}),
    [](const auto& info) { return std::string(info.param.name); });

struct TInkRatioCase {
  const char* name;
  std::string escpos;
  std::string reference;
  double lowest;
  double highest;
};

class ReceiptTextTest : public testing::TestWithParam<TInkRatioCase> {};

TEST_P(ReceiptTextTest, InksInProportionToTheStyle) {
  const long dots = BlackDots(GetParam().escpos);
  const long reference = BlackDots(GetParam().reference);
  ASSERT_GT(reference, 0);
  const double ratio = static_cast<double>(dots) / static_cast<double>(reference);
  EXPECT_GE(ratio, GetParam().lowest);
  EXPECT_LE(ratio, GetParam().highest);
}

const std::string kText = "Total 12.50\n";

INSTANTIATE_TEST_SUITE_P(
    Styles, ReceiptTextTest,
    testing::Values(
        TInkRatioCase{"DoubleSizeByPrintMode", "\x1b!\x30" + kText, kText, 3.6, 4.4},
        TInkRatioCase{"DoubleSizeByCharacterSize", "\x1d!\x11" + kText, kText, 3.6, 4.4},
        TInkRatioCase{"DoubleHeightOnly", "\x1b!\x10" + kText, kText, 1.8, 2.2},
        TInkRatioCase{"Emphasis",
                      "\x1b"
                      "E\x01" +
                          kText,
                      kText, 1.1, 3.0},
        TInkRatioCase{"EmphasisByPrintMode", "\x1b!\x08" + kText, kText, 1.1, 3.0},
        TInkRatioCase{"Underline", "\x1b-\x01" + kText, kText, 1.1, 3.0},
        TInkRatioCase{"FontBIsSmaller", "\x1bM\x01" + kText, kText, 0.2, 0.9},
        TInkRatioCase{"ResetEndsDoubleSize", "\x1b!\x30\x1b@" + kText, kText, 1.0, 1.0},
        TInkRatioCase{"ResetDropsUnprintedText", "Lost\x1b@" + kText, kText, 1.0, 1.0},
        TInkRatioCase{"CarriageReturnPrintsNothing", "Total 12.50\r\n", kText, 1.0, 1.0},
        TInkRatioCase{"AlignmentMovesWithoutChangingInk",
                      "\x1b"
                      "a\x01" +
                          kText,
                      kText, 1.0, 1.0},
        // Code page characters are drawn as themselves, not as '?'.
        TInkRatioCase{"Pc437Shade", "\xb0\xb0\n", "??\n", 1.5, 20.0},
        // The broken bar of the multilingual table, the left half block of
        // the original one.
        TInkRatioCase{"Pc850", "\x1bt\x02\xdd\n", "\xdd\n", 0.0, 0.6},
        TInkRatioCase{"Wpc1252Euro", "\x1bt\x10\x80\n", "\x1bt\x10?\n", 1.05, 5.0},
        // A circumflexed U where the original table has a full block.
        TInkRatioCase{"Wpc1252Letter", "\x1bt\x10\xdb\n", "\xdb\n", 0.0, 0.7},
        TInkRatioCase{"ResetSelectsPc437", "\x1bt\x10\x1b@\xdb\n", "\xdb\n", 1.0, 1.0}),
    [](const auto& info) { return std::string(info.param.name); });

struct TPagesCase {
  const char* name;
  std::string escpos;
  TReceiptOptions options;
  std::size_t pages;
  std::vector<std::string> notes;
};

class ReceiptPagesTest : public testing::TestWithParam<TPagesCase> {};

TEST_P(ReceiptPagesTest, SplitsThePaperAndSaysWhatItSkipped) {
  const TReceipt receipt = RenderReceipt(GetParam().escpos, GetParam().options);
  EXPECT_EQ(receipt.pages.size(), GetParam().pages);
  EXPECT_EQ(receipt.notes, GetParam().notes);
  for (const QImage& page : receipt.pages) {
    EXPECT_EQ(page.width(), GetParam().options.paperDots);
    EXPECT_LE(page.height(), GetParam().options.maxHeightDots);
  }
}

std::string Lines(int count) {
  std::string lines;
  for (int i = 0; i < count; ++i) lines += "Line\n";
  return lines;
}

const TReceiptOptions kNarrow{384, 1000, 3};

INSTANTIATE_TEST_SUITE_P(
    Receipts, ReceiptPagesTest,
    testing::Values(
        // Nothing printed, no paper shown.
        TPagesCase{"Empty", "", {}, 0, {}}, TPagesCase{"OnlyInitialize", "\x1b@", {}, 0, {}},
        TPagesCase{"FullCut", "One\n\x1dV\x00Two\n"s, {}, 2, {}},
        TPagesCase{"FeedAndCut", "One\n\x1dV\x41\x10Two\n"s, {}, 2, {}},
        TPagesCase{"PartialCutOldStyle", "One\n\x1bmTwo\n", {}, 2, {}},
        TPagesCase{"CutAtTheEnd", "One\n\x1bi", {}, 1, {}},
        // 33 lines of 30 dots fill a page of 1000; a line is never split.
        TPagesCase{"TallerThanAPage", Lines(90), kNarrow, 3, {}},
        TPagesCase{"LongerThanThePageLimit",
                   Lines(100),
                   kNarrow,
                   3,
                   {"Receipt longer than 3 pages: the rest is not drawn"}},
        TPagesCase{"PageLimitReachedByTheLastLine", Lines(99), kNarrow, 3, {}},
        TPagesCase{"UnknownCommandNotedOnce",
                   "\x1bZ\x1bZ",
                   {},
                   0,
                   {"ESC Z command not understood, skipped"}},
        TPagesCase{
            "Barcode", "\x1dk\x04*123*\x00\x1dk\x49\x03{A1"s, {}, 0, {"GS k barcode not drawn"}},
        TPagesCase{"TwoDimensionalCode",
                   "\x1d(k\x04\x00\x31\x41\x32\x00"s,
                   {},
                   0,
                   {"GS ( k 2D code not drawn"}},
        TPagesCase{"UnsupportedCodePage",
                   "\x1bt\x63\xb0\n",
                   {},
                   1,
                   {"ESC t 99 code page not supported, drawn as PC437"}},
        TPagesCase{"SettingsWithoutNotes",
                   "\x1b=\x01\x1bp\x00\x19\xfa\x1d\x61\x00\x10\x04\x01"s,
                   {},
                   0,
                   {}},
        TPagesCase{"ColumnImageCutShort",
                   "\x1b*\x21\x0a\x00\xff",
                   {},
                   0,
                   {"ESC * cut short by the end of the input"}},
        TPagesCase{"AbsurdRasterCutShort",
                   "\x1dv0\x00\xff\xff\xff\xff"s + std::string(200000, 'U'),
                   kNarrow,
                   1,
                   {"GS v 0 image of 524280x65535 dots clipped to 384x1000 dots",
                    "GS v 0 cut short by the end of the input"}},
        // The rows that came are drawn.
        TPagesCase{"RasterCutShort",
                   HalfBlackRaster(0).substr(0, 8 + 6 * 10 + 3),
                   {},
                   1,
                   {"GS v 0 cut short by the end of the input"}},
        TPagesCase{"ColumnsWiderThanThePaper",
                   "\x1b*\x00\xff\x00"s + std::string(255, '\x01'),
                   kNarrow,
                   1,
                   {"ESC * image clipped to the paper width"}},
        TPagesCase{"TallRasterClipped",
                   "\x1dv0\x00\x64\x00\xd0\x07"s + std::string(100 * 2000, '\xff'),
                   kNarrow,
                   1,
                   {"GS v 0 image of 800x2000 dots clipped to 384x1000 dots"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReceiptRendererTest, ClipsAnAbsurdRasterToOnePageOfInk) {
  const std::string escpos = "\x1dv0\x00\x64\x00\xd0\x07"s + std::string(100 * 2000, '\xff');
  const TInk ink = InkOf(RenderReceipt(escpos, kNarrow));
  EXPECT_EQ(ink.dots, 384L * 1000L);
}

TEST(ReceiptRendererTest, EndsACutPageWithADashedTearLine) {
  const TReceipt receipt = RenderReceipt("\x1dV\x01");
  ASSERT_EQ(receipt.pages.size(), 1u);
  const QImage& page = receipt.pages[0];
  int dashedRows = 0;
  for (int y = 0; y < page.height(); ++y) {
    int black = 0;
    for (int x = 0; x < page.width(); ++x) black += page.pixelIndex(x, y);
    if (black > page.width() / 3 && black < page.width()) ++dashedRows;
  }
  EXPECT_GT(dashedRows, 0);
}

}  // namespace
