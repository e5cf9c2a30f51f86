#include "preview/printer_commands.h"

#include <gtest/gtest.h>

#include <limits>
#include <ostream>
#include <string>
#include <vector>

// Failures show marks as a person reads them.
void PrintTo(const TCommandMark& mark, std::ostream* out) {
  *out << "{" << mark.offset << ", " << mark.length << ", \"" << mark.name << "\"}";
}

namespace {

using namespace std::string_literals;

// Where a letter or digit follows a control byte the byte is written in
// octal (ESC \033, GS \035): a hexadecimal escape would take the letter in.
const std::string kExit = "\x1b%-12345X";

// A capture written piece by piece, with the mark each command piece must get.
struct TSample {
  std::string bytes;
  std::vector<TCommandMark> marks;

  TSample& Text(const std::string& text) {
    bytes += text;
    return *this;
  }
  TSample& Command(const std::string& command, const std::string& name) {
    marks.push_back(TCommandMark{bytes.size(), static_cast<uint32_t>(command.size()), name});
    bytes += command;
    return *this;
  }
};

// A 48 by 24 dot bitmap whose bytes include command introducers, which
// must stay image data.
std::string Bitmap() {
  std::string bitmap(6 * 24, '\0');
  for (std::size_t i = 0; i < bitmap.size(); ++i) bitmap[i] = static_cast<char>(i * 37);
  bitmap.replace(0, 2, "\x1b@");
  bitmap.replace(10, 3, "\x1dV\x01");
  bitmap[20] = '\n';
  return bitmap;
}

TSample EscPosReceipt() {
  return TSample()
      .Command("\x1b@", "ESC @ initialize")
      .Command("\033a\001", "ESC a alignment")
      .Command("\033E\001", "ESC E emphasis")
      .Text("TARNOCK CAFE")
      .Command("\n", "LF print and line feed")
      .Command("\033E\000"s, "ESC E emphasis")
      .Command("\x1d!\x11", "GS ! character size")
      .Text("Total 12.00")
      .Command("\r", "CR carriage return")
      .Command("\n", "LF print and line feed")
      .Command("\x1dv0\x00\x06\x00\x18\x00"s + Bitmap(), "GS v 0 raster image")
      .Command("\x1b*\x21\x02\x00\x1b\x1b\x1b\x1d\x1d\x1d"s, "ESC * bit image")
      .Command("\035(L\004\0000p\033@"s, "GS ( L graphics")
      .Command("\035k\004CODE39\000"s, "GS k barcode")
      .Command("\035kI\003123", "GS k barcode")
      .Command("\x1b~", "ESC 0x7e (unknown)")
      .Command("\x1dv", "GS 0x76 (unknown)")
      .Command("\033E\001", "ESC E emphasis")
      .Command("\x1dv", "GS 0x76 (unknown)")
      .Text("1")
      .Command("\033d\003", "ESC d print and feed lines")
      .Command("\x1dVA\x10", "GS V cut")
      .Command("\x1dV1", "GS V cut")
      .Command("\x10\x04\x01", "DLE EOT real-time status")
      .Command("\x1b\x1b", "ESC 0x1b (unknown)")
      .Command("\x1b@", "ESC @ initialize");
}

TSample EscPosCutShort() {
  return TSample()
      .Command("\x1b@", "ESC @ initialize")
      .Command("\x1dv0\x00\x06"s, "GS v 0 raster image (cut short)");
}

TSample ZplLabel() {
  return TSample()
      .Command("~SD15", "~SD darkness")
      .Command("^XA", "^XA label start")
      .Text("\n")
      .Command("^FX Shipping label", "^FX comment")
      .Text("\n")
      .Command("^CI28", "^CI character set")
      .Command("^FO50,50", "^FO field origin")
      .Command("^A0N,30,30", "^A font")
      .Command("^FDPrice ~5 each", "^FD field data")
      .Command("^FS", "^FS field separator")
      .Text("\r\n")
      .Command("^BY2", "^BY barcode defaults")
      .Command("^fo50,100", "^FO field origin")
      .Command("^BCN,80,Y,N,N", "^BC Code 128 barcode")
      .Command("^FD12345678", "^FD field data")
      .Command("^FS", "^FS field separator")
      .Command("^FO50,200", "^FO field origin")
      .Command("^GFA,16,16,2,\nFF00FF00FF00FF00\nFF00FF00FF00FF00", "^GF graphic field")
      .Text("\n")
      .Command("^FS", "^FS field separator")
      .Command("^GFB,4,4,1,^~\x00\xff"s, "^GF graphic field")
      .Command("^FS", "^FS field separator")
      .Command("^QQ", "^QQ (unknown)")
      .Text("1,2")
      .Command("^XZ", "^XZ label end")
      .Text("\n")
      .Command("~HS", "~HS host status")
      .Command("^XA", "^XA label start")
      .Command("^PQ2", "^PQ print quantity");
}

TSample PjlAroundPostScript() {
  return TSample()
      .Command(kExit, "UEL universal exit")
      .Command("@PJL JOB NAME=\"Report\"\r\n", "@PJL JOB")
      .Command("@PJL SET COPIES=2\r\n", "@PJL SET")
      .Command("@PJL\r\n", "@PJL")
      .Command("@PJL comment lower case\n", "@PJL COMMENT")
      .Command("@PJL FROB X\r\n", "@PJL FROB (unknown)")
      .Command("@PJL ENTER LANGUAGE = POSTSCRIPT\r\n", "@PJL ENTER LANGUAGE")
      .Text("%!PS-Adobe-3.0\n@PJL SET X=1\n\x1b%-1234 is no exit\nshowpage\n\x1b")
      .Command(kExit, "UEL universal exit")
      .Command("@PJL EOJ\r\n", "@PJL EOJ")
      .Command(kExit, "UEL universal exit")
      .Command("@PJL INFO STATUS", "@PJL INFO");
}

// A language entered without ENTER LANGUAGE starts at the first byte that
// is no PJL.
TSample PjlEnteredWithoutCommand() {
  return TSample()
      .Command(kExit, "UEL universal exit")
      .Text("\r\n@PJX\x1b%-12\n%!PS\n@PJL SET X=1\n")
      .Command(kExit, "UEL universal exit")
      .Text("\r\n");
}

struct TCommandCase {
  const char* name;
  TPrinterLanguage language;
  TSample sample;
};

void PrintTo(const TCommandCase& test, std::ostream* out) { *out << test.name; }

std::vector<TCommandMark> ScanInWindows(TPrinterLanguage language, const std::string& bytes,
                                        const std::vector<std::size_t>& cuts) {
  TCommandScanner scanner(language);
  std::vector<TCommandMark> marks;
  std::size_t start = 0;
  for (std::size_t cut : cuts) {
    scanner.Scan(std::string_view(bytes).substr(start, cut - start), start, marks);
    start = cut;
  }
  scanner.Scan(std::string_view(bytes).substr(start), start, marks);
  scanner.Finish(marks);
  return marks;
}

class CommandScannerTest : public testing::TestWithParam<TCommandCase> {};

TEST_P(CommandScannerTest, MarksEveryCommandWithItsNameAndLength) {
  const TSample& sample = GetParam().sample;
  EXPECT_EQ(ScanInWindows(GetParam().language, sample.bytes, {}), sample.marks);
}

TEST_P(CommandScannerTest, GivesTheSameMarksWhereverTheWindowsEnd) {
  const TSample& sample = GetParam().sample;
  for (std::size_t cut = 0; cut <= sample.bytes.size(); ++cut)
    ASSERT_EQ(ScanInWindows(GetParam().language, sample.bytes, {cut}), sample.marks) << cut;
  std::vector<std::size_t> everyByte;
  for (std::size_t cut = 1; cut < sample.bytes.size(); ++cut) everyByte.push_back(cut);
  EXPECT_EQ(ScanInWindows(GetParam().language, sample.bytes, everyByte), sample.marks);
}

INSTANTIATE_TEST_SUITE_P(
    Samples, CommandScannerTest,
    testing::Values(
        TCommandCase{"EscPosReceipt", TPrinterLanguage::EscPos, EscPosReceipt()},
        TCommandCase{"EscPosCutShort", TPrinterLanguage::EscPos, EscPosCutShort()},
        TCommandCase{"ZplLabel", TPrinterLanguage::Zpl, ZplLabel()},
        TCommandCase{"ZplCutInsideCode", TPrinterLanguage::Zpl,
                     TSample().Command("^XA", "^XA label start").Command("^X", "^X (unknown)")},
        TCommandCase{"PjlAroundPostScript", TPrinterLanguage::Pjl, PjlAroundPostScript()},
        TCommandCase{"PjlEnteredWithoutCommand", TPrinterLanguage::Pjl, PjlEnteredWithoutCommand()},
        TCommandCase{"PostScriptHasNoMarks", TPrinterLanguage::PostScript,
                     TSample().Text("%!PS\n\x1b@^XA\n" + kExit)}),
    [](const auto& info) { return std::string(info.param.name); });

// A command that announces a huge data run: the data is passed window by
// window and only what follows it is marked again.
struct THugeDataCase {
  const char* name;
  TPrinterLanguage language;
  std::string head;
  uint64_t dataSize;
  std::string tail;
  std::vector<TCommandMark> marks;
};

void PrintTo(const THugeDataCase& test, std::ostream* out) { *out << test.name; }

class HugeDataTest : public testing::TestWithParam<THugeDataCase> {};

TEST_P(HugeDataTest, CountsTheDataWithoutMarkingInIt) {
  const THugeDataCase& test = GetParam();
  constexpr std::size_t kWindow = 1 << 20;
  const std::string zeros(kWindow, '\0');
  TCommandScanner scanner(test.language);
  std::vector<TCommandMark> marks;
  scanner.Scan(test.head, 0, marks);
  uint64_t offset = test.head.size();
  for (uint64_t left = test.dataSize; left > 0;) {
    const std::size_t size = static_cast<std::size_t>(std::min<uint64_t>(left, kWindow));
    scanner.Scan(std::string_view(zeros).substr(0, size), offset, marks);
    offset += size;
    left -= size;
  }
  scanner.Scan(test.tail, offset, marks);
  scanner.Finish(marks);
  EXPECT_EQ(marks, test.marks);
}

constexpr uint64_t kHundredMegabytes = 100'000'000;

INSTANTIATE_TEST_SUITE_P(Samples, HugeDataTest,
                         testing::Values(
                             // 12500 bytes a row, 8000 rows.
                             THugeDataCase{"EscPosRaster",
                                           TPrinterLanguage::EscPos,
                                           "\x1dv0\x00\xd4\x30\x40\x1f"s,
                                           kHundredMegabytes,
                                           "\x1b@",
                                           {{0, kHundredMegabytes + 8, "GS v 0 raster image"},
                                            {kHundredMegabytes + 8, 2, "ESC @ initialize"}}},
                             // The largest count there is: past what a mark's length holds.
                             THugeDataCase{
                                 "EscPosGraphicsPast4GiB",
                                 TPrinterLanguage::EscPos,
                                 "\0358L\377\377\377\377",
                                 0xffffffffULL,
                                 "\x1b@",
                                 {{0, std::numeric_limits<uint32_t>::max(), "GS 8 L graphics"},
                                  {0xffffffffULL + 7, 2, "ESC @ initialize"}}},
                             THugeDataCase{"ZplBinaryGraphic",
                                           TPrinterLanguage::Zpl,
                                           "^GFB,100000000,100000000,12500,",
                                           kHundredMegabytes,
                                           "^FS",
                                           {{0, kHundredMegabytes + 31, "^GF graphic field"},
                                            {kHundredMegabytes + 31, 3, "^FS field separator"}}},
                             THugeDataCase{"ZplTextGraphic",
                                           TPrinterLanguage::Zpl,
                                           "^GFA,1,1,1,",
                                           64ULL << 20,
                                           "^FS",
                                           {{0, (64ULL << 20) + 11, "^GF graphic field"},
                                            {(64ULL << 20) + 11, 3, "^FS field separator"}}},
                             THugeDataCase{"PjlEnteredLanguage",
                                           TPrinterLanguage::Pjl,
                                           "@PJL ENTER LANGUAGE=PCL\n",
                                           64ULL << 20,
                                           kExit,
                                           {{0, 24, "@PJL ENTER LANGUAGE"},
                                            {(64ULL << 20) + 24, 9, "UEL universal exit"}}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CommandScannerWindows, AWindowThatJumpsAheadStartsAfresh) {
  TCommandScanner scanner(TPrinterLanguage::EscPos);
  std::vector<TCommandMark> marks;
  scanner.Scan("\x1dv0\x00\xff\xff\xff\xff"s, 0, marks);
  scanner.Scan("\x1b@", 5000, marks);
  EXPECT_EQ(marks, (std::vector<TCommandMark>{{0, 8 + 65535u * 65535u, "GS v 0 raster image"},
                                              {5000, 2, "ESC @ initialize"}}));
}

}  // namespace
