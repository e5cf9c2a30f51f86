#include "ui/log_pane.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QColor>
#include <QPalette>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStyle>
#include <algorithm>
#include <cmath>
#include <string>

#include "support/temp_folder.h"
#include "ui/main_window.h"

namespace {

struct TBurstCase {
  const char* name;
  int readerScroll;  // where the reader put the horizontal scroll bar; 0: never touched
};

class LogPaneBurstTest : public testing::TestWithParam<TBurstCase> {
 protected:
  void SetUp() override { ASSERT_TRUE(folder_.IsValid()); }

  // One job's lines as the monitor writes them, its capture deep in a
  // folder, and the cut the monitor makes once the job is gone. The window
  // hands the queued lines over about every 50 ms, wherever the burst is.
  void AppendJob(TForm1& window, int job) {
    const std::string prefix = "08/12/26 14:30 - ";
    AppendLine(window, prefix + "Connected to: 127.0.0.1 on port 9100");
    AppendLine(window, prefix + "1024 bytes written to " +
                           folder_.FilePath("a/rather/deep/folder/of/captures/for/the/front/"
                                            "office/printer/job-" +
                                            std::to_string(job) + ".prn"));
    AppendLine(window, prefix + "127.0.0.1 disconnected.");
    const int excess = window.MessageLineCount() - 500;
    if (excess > 0) window.DeleteFirstMessageLines(excess);
  }

  void AppendLine(TForm1& window, const std::string& line) {
    window.AppendMessageLine(line);
    if (++lines_ % 37 == 0) window.FlushPanes();
  }

  int lines_ = 0;
  TTempFolder folder_;
};

// A burst of jobs leaves the message log where the reader had it
// horizontally: at the timestamps, or where they scrolled to.
TEST_P(LogPaneBurstTest, KeepsTheHorizontalPlace) {
  TForm1 window(folder_.FilePath("tarnock.ini"));
  window.show();
  auto* pane = window.findChild<QPlainTextEdit*>("MessageMemo");
  QScrollBar* bar = pane->horizontalScrollBar();
  int job = 0;
  for (; job < 20; ++job) AppendJob(window, job);
  window.FlushPanes();
  QApplication::processEvents();
  ASSERT_GT(bar->maximum(), GetParam().readerScroll);
  bar->setValue(GetParam().readerScroll);
  for (; job < 700; ++job) AppendJob(window, job);
  window.FlushPanes();
  QApplication::processEvents();
  EXPECT_EQ(bar->value(), GetParam().readerScroll);
}

INSTANTIATE_TEST_SUITE_P(Readers, LogPaneBurstTest,
                         testing::Values(TBurstCase{"AtTheLeft", 0},
                                         TBurstCase{"ScrolledRight", 40}),
                         [](const auto& info) { return std::string(info.param.name); });

// Relative luminance of an sRGB colour, as contrast ratios are defined on it.
double Luminance(const QColor& colour) {
  const auto linear = [](int channel) {
    const double value = channel / 255.0;
    return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * linear(colour.red()) + 0.7152 * linear(colour.green()) +
         0.0722 * linear(colour.blue());
}

// The contrast of a text colour, drawn with its transparency, on its ground.
double Contrast(const QColor& text, const QColor& ground) {
  const double alpha = text.alphaF();
  const auto blend = [alpha](int over, int under) {
    return static_cast<int>(std::lround(alpha * over + (1 - alpha) * under));
  };
  const QColor drawn(blend(text.red(), ground.red()), blend(text.green(), ground.green()),
                     blend(text.blue(), ground.blue()));
  const double lighter = std::max(Luminance(drawn), Luminance(ground));
  const double darker = std::min(Luminance(drawn), Luminance(ground));
  return (lighter + 0.05) / (darker + 0.05);
}

// A desktop's dark theme: light text, and a light grey placeholder, on a
// dark ground.
QPalette DarkPalette() {
  QPalette dark(QColor(0x35, 0x35, 0x35));
  dark.setColor(QPalette::Base, QColor(0x23, 0x23, 0x23));
  dark.setColor(QPalette::Text, Qt::white);
  dark.setColor(QPalette::WindowText, Qt::white);
  dark.setColor(QPalette::PlaceholderText, QColor(0xBE, 0xBE, 0xBE));
  return dark;
}

struct TPaletteCase {
  const char* name;
  bool dark;
  bool switchedWhileRunning;  // the desktop changes its theme after the window opened
};

class PlaceholderTest : public testing::TestWithParam<TPaletteCase> {
 protected:
  void SetUp() override { ASSERT_TRUE(folder_.IsValid()); }
  void TearDown() override { QApplication::setPalette(QApplication::style()->standardPalette()); }

  static void ApplyDesktopPalette() {
    if (GetParam().dark) QApplication::setPalette(DarkPalette());
  }

  TTempFolder folder_;
};

// The first start's hint in the empty port log reads at 4.5:1 or more
// whatever the desktop's palette, and a screen reader hears it.
TEST_P(PlaceholderTest, IsReadableAndReachesTheAccessibilityInterface) {
  if (!GetParam().switchedWhileRunning) ApplyDesktopPalette();
  TForm1 window(folder_.FilePath("tarnock.ini"));
  window.FlushPanes();
  if (GetParam().switchedWhileRunning) {
    ApplyDesktopPalette();
    QApplication::processEvents();
  }
  auto* ports = window.findChild<QPlainTextEdit*>("PortsMemo");
  const QPalette palette = ports->palette();
  for (const QPalette::ColorRole role : {QPalette::PlaceholderText, QPalette::Text}) {
    EXPECT_GE(Contrast(palette.color(role), palette.color(QPalette::Base)), 4.5) << role;
  }

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
