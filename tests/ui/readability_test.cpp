#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QPalette>
#include <memory>
#include <string>
#include <vector>

#include "support/temp_folder.h"
#include "ui/add_port.h"
#include "ui/main_window.h"
#include "ui/options.h"
#include "ui/port_help.h"

namespace {

// The four windows, as the program creates them.
struct TWindows {
  explicit TWindows(const std::string& settingsPath)
      : Main(settingsPath), List(settingsPath), Help(), Editor() {}

  QWidget* Find(const char* name) {
    for (QWidget* window : std::initializer_list<QWidget*>{&Main, &List, &Help, &Editor})
      if (auto* found = window->findChild<QWidget*>(name)) return found;
    return nullptr;
  }

  TForm1 Main;
  TForm2 List;
  THelp1 Help;
  TForm3 Editor;
};

class ReadabilityTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(folder_.IsValid()); }
  std::string SettingsPath() const { return folder_.FilePath("tarnock.ini"); }

  TTempFolder folder_;
};

// A screen reader names each field by its label, and the panes, the grid and
// the help text by what they hold.
TEST_F(ReadabilityTest, EveryFieldAndPaneHasAnAccessibleName) {
  struct Case {
    const char* object;
    const char* name;
  };
  const std::vector<Case> cases = {
      {"ePort", "Port:"},
      {"eDirectory", "Directory:"},
      {"eFormat", "File Format:"},
      {"seDays", "Days:"},
      {"eComment", "Comments:"},
      {"cbOverwrite", "Overwrite File if it Exists"},
      {"PortsMemo", "Port log"},
      {"MessageMemo", "Message log"},
      {"StringGrid1", "Port definitions"},
      {"Memo1", "Port definition help"},
  };
  TWindows windows(SettingsPath());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.object);
    QWidget* widget = windows.Find(c.object);
    ASSERT_NE(widget, nullptr);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->text(QAccessible::Name).toStdString(), c.name);
  }
}

// Under a dark theme the panes and the help text keep dark text on silver,
// for windows made before the theme changed and after it.
TEST_F(ReadabilityTest, PanesStayDarkOnSilverUnderADarkTheme) {
  const QPalette original = QApplication::palette();
  QPalette dark(QColor(0x30, 0x30, 0x30), QColor(0x20, 0x20, 0x20));
  dark.setColor(QPalette::Text, QColor(0xE0, 0xE0, 0xE0));
  dark.setColor(QPalette::WindowText, QColor(0xE0, 0xE0, 0xE0));
  auto before = std::make_unique<TWindows>(SettingsPath());
  QApplication::setPalette(dark);
  auto after = std::make_unique<TWindows>(SettingsPath());
  for (TWindows* windows : {before.get(), after.get()}) {
    for (const char* pane : {"PortsMemo", "MessageMemo", "Memo1"}) {
      SCOPED_TRACE(pane);
      const QPalette palette = windows->Find(pane)->palette();
      for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        EXPECT_EQ(palette.color(group, QPalette::Base), QColor(0xC0, 0xC0, 0xC0));
        EXPECT_EQ(palette.color(group, QPalette::Text), QColor(Qt::black));
      }
    }
  }
  QApplication::setPalette(original);
}

}  // namespace
