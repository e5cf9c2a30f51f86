#include "preview/printer_language.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

struct TLanguageCase {
  const char* name;
  std::string bytes;
  TPrinterLanguage language;
};

class PrinterLanguageTest : public testing::TestWithParam<TLanguageCase> {};

TEST_P(PrinterLanguageTest, TellsTheLanguageFromTheFirstBytes) {
  EXPECT_EQ(PrinterLanguageName(DetectPrinterLanguage(GetParam().bytes)),
            PrinterLanguageName(GetParam().language));
}

INSTANTIATE_TEST_SUITE_P(
    Samples, PrinterLanguageTest,
    testing::Values(
        TLanguageCase{"PjlAroundPostScript",
                      "\x1b%-12345X@PJL JOB\r\n@PJL ENTER LANGUAGE=POSTSCRIPT\r\n%!PS-Adobe-3.0\n",
                      TPrinterLanguage::Pjl},
        TLanguageCase{"PjlWithoutExit", "@PJL INFO ID\r\n", TPrinterLanguage::Pjl},
        TLanguageCase{"Pdf", "%PDF-1.7\n%\xe2\xe3\xcf\xd3\n", TPrinterLanguage::Pdf},
        TLanguageCase{"PostScriptAfterEndOfJob", "\x04%!PS-Adobe-3.0\n",
                      TPrinterLanguage::PostScript},
        TLanguageCase{"Zpl", "^XA^FO50,50^FDHello^FS^XZ", TPrinterLanguage::Zpl},
        TLanguageCase{"ZplAfterTildeCommands", "~SD15^XA^XZ", TPrinterLanguage::Zpl},
        TLanguageCase{"PclReset",
                      "\x1b"
                      "E\x1b&l0O",
                      TPrinterLanguage::Pcl},
        TLanguageCase{"PclRaster", "\x1b*r1A", TPrinterLanguage::Pcl},
        TLanguageCase{"EscPosInitialize", "\x1b@Hello\n\x1dV\x00"s, TPrinterLanguage::EscPos},
        TLanguageCase{"EscPosGroupSeparator",
                      "\x1d!\x11"
                      "Big",
                      TPrinterLanguage::EscPos},
        TLanguageCase{"PlainText", "Invoice 17\r\nTotal 12.00\r\n", TPrinterLanguage::Text},
        TLanguageCase{"Empty", "", TPrinterLanguage::Text},
        TLanguageCase{"TildeWithoutLabel", "~hello", TPrinterLanguage::Text}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
