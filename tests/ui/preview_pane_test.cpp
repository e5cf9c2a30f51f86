#include "ui/preview_pane.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QAccessible>
#include <QLabel>
#include <QListWidget>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <cstdlib>
#include <optional>
#include <string>

#include "preview/renderer_choice.h"
#include "support/environment_override.h"
#include "support/file_contents.h"
#include "support/temp_folder.h"
#include "support/wait.h"
#include "ui/byte_view.h"
#include "ui/page_view.h"

namespace {

using namespace std::string_literals;

constexpr int kPagesTab = 2;
const std::string kReceipt =
    "\x1b@Hello\n\x1d"
    "V\x00"s;
const std::string kTwoPages =
    "%!PS\n<< /PageSize [612 792] >> setpagedevice\n72 72 moveto showpage\nshowpage\n";

class PreviewPaneTest : public TempFolderTest {
 protected:
  PreviewPaneTest() : cache_("XDG_CACHE_HOME", folder_.FilePath("cache")) {
    pane_.resize(800, 600);
  }

  std::string Capture(const std::string& bytes) {
    const std::string path = folder_.FilePath("capture.prn");
    EXPECT_TRUE(WriteWholeFile(path, bytes));
    return path;
  }

  QString Text(const char* label) const { return pane_.findChild<QLabel*>(label)->text(); }
  TByteView* View(const char* name) const { return pane_.findChild<TByteView*>(name); }

  void ShowPages() { pane_.findChild<QTabWidget*>("tabPreview")->setCurrentIndex(kPagesTab); }

  // Waits for the Pages tab to say how many pages it has or why it has none.
  bool WaitForPages() {
    return WaitUntil([&] {
      return Text("lblPageNumber").startsWith("Page ") || !Text("lblPageFailure").isEmpty();
    });
  }

  TEnvironmentOverride cache_;
  TPreviewPane pane_{folder_.FilePath("tarnock.ini")};
};

TEST_F(PreviewPaneTest, EscPosDrawsAReceiptOnlyWhenThePagesAreShown) {
  pane_.ShowCapture(Capture(kReceipt));
  EXPECT_EQ(Text("lblLanguage"), "Language: ESC/POS");
  EXPECT_EQ(Text("lblSize"), "11 bytes");
  EXPECT_EQ(Text("lblPageNumber"), "No pages");
  ShowPages();
  ASSERT_TRUE(WaitForPages());
  EXPECT_EQ(Text("lblPageNumber"), "Page 1 of 1");
  EXPECT_FALSE(pane_.findChild<TPageView*>("PageView")->ShownImage().isNull());
  // Another capture forgets the pages of the one before.
  pane_.ShowCapture("");
  EXPECT_EQ(Text("lblLanguage"), "");
  EXPECT_EQ(Text("lblPageNumber"), "No pages");
}

// A capture that is no receipt at all: what was skipped is said in a few
// notes, wrapped, and the pane never asks for more width than it had.
TEST_F(PreviewPaneTest, ManySkippedCommandsMakeOneShortNote) {
  std::string bytes = "\x1b@";
  for (int byte = 0x80; byte < 0x100; ++byte) bytes += {'\x1b', static_cast<char>(byte), '\n'};
  pane_.ShowCapture(Capture(bytes));
  ShowPages();
  ASSERT_TRUE(WaitForPages());
  const QString notes = Text("lblPageNotes");
  EXPECT_EQ(notes.count("; "), 5) << notes.toStdString();
  EXPECT_TRUE(notes.endsWith(" more")) << notes.toStdString();
  EXPECT_LT(pane_.minimumSizeHint().width(), 800);
}

TEST_F(PreviewPaneTest, NamesTheCommandsInViewAndColoursTheirBytes) {
  pane_.ShowCapture(Capture(kReceipt));
  auto* list = pane_.findChild<QListWidget*>("lstCommands");
  QStringList names;
  for (int row = 0; row < list->count(); ++row) names << list->item(row)->text();
  EXPECT_EQ(names, QStringList({"0000000000000000  ESC @ initialize",
                                "0000000000000007  LF print and line feed",
                                "0000000000000008  GS V cut"}));
  pane_.findChild<QTabWidget*>("tabPreview")->setCurrentIndex(1);
  EXPECT_EQ(View("HexView")->MarksInView().size(), 3u);
  EXPECT_EQ(list->count(), 3);
  // Choosing a command brings its row to the top of the view.
  emit list->itemActivated(list->item(2));
  EXPECT_EQ(View("HexView")->TopOffset(), 0u);
  std::string longer = "\x1b@";
  for (int line = 0; line < 200; ++line) longer += "receipt line\n";
  pane_.ShowCapture(Capture(longer + "\x1dV\x00"s));
  ASSERT_GT(list->count(), 2);
  emit list->itemActivated(list->item(2));
  EXPECT_EQ(View("HexView")->TopOffset(), 0x10u);
}

TEST_F(PreviewPaneTest, HexShowsOffsetsBytesAndCharacters) {
  pane_.ShowCapture(Capture("0123456789abcdef\x1b@Hello\n"));
  const auto& rows = View("HexView")->RowsInView();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].text,
            "0000000000000000  30 31 32 33 34 35 36 37  38 39 61 62 63 64 65 66  "
            "|0123456789abcdef|");
  EXPECT_EQ(rows[1].text,
            "0000000000000010  1b 40 48 65 6c 6c 6f 0a                           |.@Hello.|");
}

// A capture of 4 GiB, all of it a hole: it opens and scrolls to its end
// with the view reading only what it shows.
TEST_F(PreviewPaneTest, FourGibibyteCaptureScrollsToItsLastOffset) {
  const std::string path = folder_.FilePath("huge.prn");
  const int handle = ::open(path.c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(handle, 0);
  ASSERT_EQ(::ftruncate(handle, off_t{4} << 30), 0);
  ::close(handle);
  pane_.ShowCapture(path);
  EXPECT_EQ(Text("lblSize"), "4294967296 bytes");
  for (const char* name : {"HexView", "TextView"}) {
    TByteView* view = View(name);
    QTest::keyClick(view, Qt::Key_End);
    ASSERT_FALSE(view->RowsInView().empty()) << name;
    EXPECT_EQ(view->verticalScrollBar()->value(), view->verticalScrollBar()->maximum()) << name;
  }
  EXPECT_EQ(View("HexView")->RowsInView().back().text.left(16), "00000000fffffff0");
  EXPECT_EQ(View("TextView")->RowsInView().back().byteOfCharacter.back(), (int64_t{4} << 30) - 1);
  // A step back from the end lands one row before it.
  TByteView* hex = View("HexView");
  const uint64_t end = hex->TopOffset();
  hex->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_EQ(hex->TopOffset(), end - 16);
  QTest::keyClick(hex, Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(hex->TopOffset(), 0u);
}

TEST_F(PreviewPaneTest, PostScriptIsDrawnByGhostscript) {
  if (FindProgram("gs").empty()) GTEST_SKIP() << "Ghostscript is not installed";
  pane_.ShowCapture(Capture(kTwoPages));
  ShowPages();
  ASSERT_TRUE(WaitUntil([&] { return Text("lblPageNumber") == "Page 1 of 2"; }, 30000))
      << Text("lblPageFailure").toStdString();
  pane_.findChild<QAbstractButton*>("btnNextPage")->click();
  EXPECT_EQ(Text("lblPageNumber"), "Page 2 of 2");
}

struct TFailureCase {
  const char* name;
  std::string capture;
  std::string settings;
  std::string failure;
};

class PreviewPaneFailureTest : public PreviewPaneTest,
                               public testing::WithParamInterface<TFailureCase> {};

// Without Ghostscript on the PATH, and with renderers that fail, the pane
// says what the renderer said, word for word.
TEST_P(PreviewPaneFailureTest, ShowsTheRenderersFailureLine) {
  if (!GetParam().settings.empty()) {
    ASSERT_TRUE(WriteWholeFile(folder_.FilePath("tarnock.ini"), GetParam().settings));
  }
  const TEnvironmentOverride noGhostscript("PATH", folder_.Path());
  pane_.ShowCapture(Capture(GetParam().capture));
  ShowPages();
  ASSERT_TRUE(WaitForPages());
  EXPECT_EQ(Text("lblPageFailure").toStdString(), GetParam().failure);
  EXPECT_EQ(Text("lblPageNumber"), "No pages");
}

INSTANTIATE_TEST_SUITE_P(
    Renderers, PreviewPaneFailureTest,
    testing::Values(TFailureCase{"GhostscriptMissing", kTwoPages, "", kGhostscriptMissing},
                    TFailureCase{"NoRendererNamesTheKey", "^XA^FDx^FS^XZ", "",
                                 "No renderer for ZPL: name one in Job Settings (Renderer.ZPL=)"},
                    TFailureCase{"UserCommandWinsOverTheReceipt", kReceipt,
                                 "[Jobs]\nRenderer.ESCPOS=exit 3\n", "exit failed: exit status 3"},
                    TFailureCase{"ReceiptPrintsNothing", "\x1b@"s, "",
                                 "The capture prints nothing"}),
    [](const testing::TestParamInfo<TFailureCase>& info) { return info.param.name; });

TEST_F(PreviewPaneTest, UnreadableCaptureSaysWhy) {
  pane_.ShowCapture(folder_.Path());
  EXPECT_EQ(Text("lblLanguage").toStdString(),
            "File access denied: " + folder_.Path() + " is not a regular file");
}

// Every control a screen reader can reach has a name.
TEST_F(PreviewPaneTest, EveryControlHasAnAccessibleName) {
  pane_.ShowCapture(Capture(kReceipt));
  pane_.show();
  ShowPages();
  ASSERT_TRUE(WaitForPages());
  int controls = 0;
  for (QWidget* widget : pane_.findChildren<QWidget*>()) {
    const bool control = widget->focusPolicy() != Qt::NoFocus ||
                         qobject_cast<QAbstractSlider*>(widget) || qobject_cast<QLabel*>(widget);
    if (!control) continue;
    ++controls;
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    ASSERT_NE(accessible, nullptr) << widget->metaObject()->className();
    EXPECT_FALSE(accessible->text(QAccessible::Name).isEmpty())
        << widget->metaObject()->className() << " " << widget->objectName().toStdString();
  }
  EXPECT_GT(controls, 10);
}

}  // namespace
