#include "ui/port_help.h"

#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <string>
#include <vector>

#include "support/dialog_driver.h"

namespace {

std::vector<std::string> HelpLines(const THelp1& help) {
  std::vector<std::string> lines;
  for (const QString& line : help.findChild<QPlainTextEdit*>("Memo1")->toPlainText().split('\n'))
    lines.push_back(line.toStdString());
  return lines;
}

std::vector<std::string> Range(const std::vector<std::string>& lines, size_t first, size_t last) {
  return {lines.begin() + static_cast<long>(first - 1), lines.begin() + static_cast<long>(last)};
}

TEST(PortHelpTest, HoldsTheFieldTextsAndTheSpecifierReferenceInOrder) {
  THelp1 help;
  const std::vector<std::string> lines = HelpLines(help);
  ASSERT_EQ(lines.size(), 76u);
  EXPECT_EQ(Range(lines, 1, 12),
            (std::vector<std::string>{
                "Port:", "", "    Indicate a port that is to be listened on.", "", "Directory:", "",
                "    Indicate the directory file received on this port are saved to.", "",
                "File Format:", "", "    This indicated the format of the file name.", ""}));
  EXPECT_EQ(Range(lines, 53, 76),
            (std::vector<std::string>{
                "",
                "     Example",
                "",
                "      yy-mm-dd hhmm \"Quenvale\"",
                "",
                "      on January 12, 1998 at 2:30pm will result in:",
                "",
                "      98-01-12 1430 Quenvale.txt",
                "",
                "      Note: Be sure to honor file naming restrictions on the volumes you",
                "                save these files.",
                "",
                "Overwrite:",
                "",
                "   If this field is true, then any existing file bearing the same name as a",
                "   new file will be overwritten.  If it is false the new information will be",
                "   appended to the existing file.",
                "",
                "      ",
                "Days:",
                "",
                "    This is an option to have files deleted after a given amount of time.",
                "    Indicate here how many days you wish to keep the file.  If the file is",
                "    to be kept indefinitely enter 0."}));

  // Lines 13 to 49: each entry opens with four blanks, the specifier and a
  // tab; its continuation lines are indented by 17 blanks.
  const std::vector<std::pair<std::string, int>> entries = {
      {"c", 4},      {"d", 1}, {"dd", 1}, {"ddd", 2},   {"dddd", 2},  {"ddddd", 2},
      {"dddddd", 2}, {"m", 3}, {"mm", 3}, {"mmm", 2},   {"mmmm", 2},  {"yy", 1},
      {"yyyy", 1},   {"h", 1}, {"hh", 1}, {"n", 1},     {"nn", 1},    {"s", 1},
      {"ss", 1},     {"t", 1}, {"tt", 1}, {"am/pm", 1}, {"\"xx\"", 2}};
  size_t line = 13;
  for (const auto& [specifier, count] : entries) {
    EXPECT_EQ(lines[line - 1].rfind("    " + specifier + "\t", 0), 0u) << "line " << line;
    for (int more = 1; more < count; ++more)
      EXPECT_EQ(lines[line - 1 + more].rfind(std::string(17, ' '), 0), 0u)
          << "line " << line + more;
    line += count;
  }
  EXPECT_EQ(line, 50u);
  EXPECT_EQ(lines[49], "");
  EXPECT_EQ(lines[50].rfind("     ", 0), 0u);
  EXPECT_EQ(lines[51].rfind("     ", 0), 0u);
}

TEST(PortHelpTest, NamesTheSettingsEachSpecifierUses) {
  THelp1 help;
  const std::vector<std::string> lines = HelpLines(help);
  std::string reference;
  for (size_t i = 12; i < 49; ++i) reference += lines[i] + "\n";
  size_t position = 0;
  for (const char* setting : {"ShortDateFormat", "LongTimeFormat", "ShortDayNames", "LongDayNames",
                              "ShortDateFormat", "LongDateFormat", "ShortMonthNames",
                              "LongMonthNames", "ShortTimeFormat", "LongTimeFormat"}) {
    position = reference.find(setting, position);
    ASSERT_NE(position, std::string::npos) << setting;
    ++position;
  }
}

TEST(PortHelpTest, OkHasTheFocusFirstSoEnterClosesAtOnce) {
  THelp1 help;
  TModalScript<THelp1> script(help);
  std::string focused;
  script.Then([&](THelp1& shown) {
    focused = shown.focusWidget() ? shown.focusWidget()->objectName().toStdString() : "";
    QTest::keyClick(shown.focusWidget(), Qt::Key_Return);
  });
  EXPECT_EQ(help.exec(), QDialog::Accepted);
  EXPECT_EQ(focused, "BitBtn1");
  EXPECT_EQ(script.Unexpected, 0);
}

TEST(PortHelpTest, WhatTheOperatorTypedStaysForTheNextShowing) {
  THelp1 help;
  auto* memo = help.findChild<QPlainTextEdit*>("Memo1");
  help.show();
  memo->appendPlainText("my note");
  help.close();
  help.show();
  EXPECT_TRUE(memo->toPlainText().endsWith("my note"));
  EXPECT_FALSE(memo->isReadOnly());
}

}  // namespace
