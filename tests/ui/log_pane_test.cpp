#include "ui/log_pane.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStyle>
#include <algorithm>
#include <cmath>
#include <string>

#include "support/temp_folder.h"
#include "ui/main_window.h"

namespace {

// Where the reader put the message log's horizontal scroll bar (0: never
// touched), which a burst of jobs must leave as it is.
class LogPaneBurstTest : public testing::TestWithParam<int> {};

TEST_P(LogPaneBurstTest, KeepsTheHorizontalPlace) {
  TTempFolder folder;
  TForm1 window(folder.FilePath("tarnock.ini"));
  window.show();
  QScrollBar* bar = window.findChild<QPlainTextEdit*>("MessageMemo")->horizontalScrollBar();
  int lines = 0;
  // Each job's lines as the monitor writes them, its capture deep in a
  // folder, and its cut; the window hands lines over wherever a burst is.
  const auto appendJob = [&](int job) {
    for (const std::string& line :
         {std::string("Connected to: 127.0.0.1 on port 9100"),
          "1024 bytes written to " + folder.FilePath("a/rather/deep/folder/of/captures/for/the/"
                                                     "front/office/printer/job-" +
                                                     std::to_string(job) + ".prn"),
          std::string("127.0.0.1 disconnected.")}) {
      window.AppendMessageLine("08/12/26 14:30 - " + line);
      if (++lines % 37 == 0) window.FlushPanes();
    }
    window.DeleteFirstMessageLines(std::max(0, window.MessageLineCount() - 500));
  };
  for (int job = 0; job < 700; ++job) {
    if (job == 20) {
      window.FlushPanes();
      ASSERT_GT(bar->maximum(), GetParam());
      bar->setValue(GetParam());
    }
    appendJob(job);
  }
  window.FlushPanes();
  QApplication::processEvents();
  EXPECT_EQ(bar->value(), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Readers, LogPaneBurstTest, testing::Values(0, 40), [](const auto& info) {
  return info.param == 0 ? "AtTheLeft" : "ScrolledRight";
});

// Relative luminance of an sRGB colour, which contrast ratios are made of.
double Luminance(double red, double green, double blue) {
  const auto linear = [](double value) {
    return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * linear(red) + 0.7152 * linear(green) + 0.0722 * linear(blue);
}

// The contrast of a text colour, drawn with its transparency, on its ground.
double Contrast(const QColor& text, const QColor& ground) {
  const double alpha = text.alphaF();
  const auto over = [alpha](double top, double below) { return alpha * top + (1 - alpha) * below; };
  const double drawn =
      Luminance(over(text.redF(), ground.redF()), over(text.greenF(), ground.greenF()),
                over(text.blueF(), ground.blueF()));
  const double under = Luminance(ground.redF(), ground.greenF(), ground.blueF());
  return (std::max(drawn, under) + 0.05) / (std::min(drawn, under) + 0.05);
}

struct TPaletteCase {
  const char* name;
  bool dark;
  bool switchedWhileRunning;  // the desktop changes its theme after the window opened
};

class PlaceholderTest : public testing::TestWithParam<TPaletteCase> {
 protected:
  void TearDown() override { QApplication::setPalette(QApplication::style()->standardPalette()); }

  // A dark theme: light text, and a light grey placeholder, on a dark ground.
  static void ApplyDesktopPalette() {
    if (!GetParam().dark) return;
    QPalette dark(QColor(0x35, 0x35, 0x35));
    dark.setColor(QPalette::Base, QColor(0x23, 0x23, 0x23));
    dark.setColor(QPalette::Text, Qt::white);
    dark.setColor(QPalette::PlaceholderText, QColor(0xBE, 0xBE, 0xBE));
    QApplication::setPalette(dark);
    QApplication::processEvents();
  }
};

// The first start's hint in the empty port log reads at 4.5:1 or more
// whatever the desktop's palette, and a screen reader hears it.
TEST_P(PlaceholderTest, IsReadableAndReachesTheAccessibilityInterface) {
  if (!GetParam().switchedWhileRunning) ApplyDesktopPalette();
  TTempFolder folder;
  TForm1 window(folder.FilePath("tarnock.ini"));
  window.FlushPanes();
  if (GetParam().switchedWhileRunning) ApplyDesktopPalette();
  auto* ports = window.findChild<QPlainTextEdit*>("PortsMemo");
  const QPalette palette = ports->palette();
  for (const QPalette::ColorRole role : {QPalette::PlaceholderText, QPalette::Text})
    EXPECT_GE(Contrast(palette.color(role), palette.color(QPalette::Base)), 4.5) << role;

  QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(ports);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->text(QAccessible::Description).toStdString(), TForm1::kNoPortsHint);
  // Once the log holds a line, the hint is gone for the eye and the ear.
  window.AppendPortLine("Listening on port 9100");
  window.FlushPanes();
  EXPECT_EQ(reader->text(QAccessible::Description).toStdString(), "");
  window.ClearPortLog();
  EXPECT_EQ(reader->text(QAccessible::Description).toStdString(), TForm1::kNoPortsHint);
}

INSTANTIATE_TEST_SUITE_P(Palettes, PlaceholderTest,
                         testing::Values(TPaletteCase{"Light", false, false},
                                         TPaletteCase{"Dark", true, false},
                                         TPaletteCase{"SwitchedToDark", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
