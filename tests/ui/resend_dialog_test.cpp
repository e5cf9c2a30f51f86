#include "ui/resend_dialog.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <string>
#include <vector>

#include "capture/ini_file.h"
#include "support/dialog_driver.h"
#include "support/file_contents.h"
#include "support/temp_folder.h"

namespace {

class ResendDialogTest : public TempFolderTest {
 protected:
  std::string Path() const { return root_ + "/tarnock.ini"; }
  std::string Remembered() const {
    return TIniFile(Path()).ReadText("Job List", "ResendTo", "<absent>");
  }

  static std::vector<std::string> Offered(const TResendDialog& dialog) {
    const auto* field = dialog.findChild<QComboBox*>("edResendTo");
    std::vector<std::string> items;
    for (int at = 0; at < field->count(); ++at) items.push_back(field->itemText(at).toStdString());
    return items;
  }

  // Types the target and presses OK: the target taken, or "" when refused.
  static std::string Enter(TResendDialog& dialog, const std::string& text) {
    dialog.findChild<QComboBox*>("edResendTo")->setEditText(QString::fromStdString(text));
    dialog.btnOKClick();
    return dialog.result() == QDialog::Accepted ? dialog.Target() : "";
  }

  TBoxRecorder boxes_;
};

// Newest first, each once, a hand-edited list cleaned; the section's other
// keys stay.
TEST_F(ResendDialogTest, RemembersTheTargetsNewestFirst) {
  WriteWholeFile(Path(), "[Job List]\nWidth=700\nResendTo=bad, 10.0.0.1:9100,10.0.0.1:9100\n");
  struct TStep {
    std::string typed;
    std::vector<std::string> offered;
    std::string taken;
    std::string remembered;
  };
  const std::vector<TStep> steps = {
      {" printer-1.local:9100 ",
       {"10.0.0.1:9100"},
       "printer-1.local:9100",
       "printer-1.local:9100,10.0.0.1:9100"},
      {"[::1]:9101",
       {"printer-1.local:9100", "10.0.0.1:9100"},
       "[::1]:9101",
       "[::1]:9101,printer-1.local:9100,10.0.0.1:9100"},
      {"10.0.0.1:9100",
       {"[::1]:9101", "printer-1.local:9100", "10.0.0.1:9100"},
       "10.0.0.1:9100",
       "10.0.0.1:9100,[::1]:9101,printer-1.local:9100"},
  };
  for (const TStep& step : steps) {
    TResendDialog dialog(Path(), 1, nullptr);
    EXPECT_EQ(Offered(dialog), step.offered) << step.typed;
    EXPECT_EQ(Enter(dialog, step.typed), step.taken);
    EXPECT_EQ(Remembered(), step.remembered);
  }
  EXPECT_EQ(TIniFile(Path()).ReadText("Job List", "Width", ""), "700");
  EXPECT_TRUE(boxes_.Boxes.empty());
}

TEST_F(ResendDialogTest, AMalformedTargetIsRefusedAndTheDialogStays) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"nohost",
       "\"nohost\" is no target: the port is missing (host:port, e.g. 192.0.2.5:9100 or "
       "[::1]:9100)"},
      {"host:",
       "\"host:\" is no target: the port is missing (host:port, e.g. 192.0.2.5:9100 or "
       "[::1]:9100)"},
      {"host:70000", "\"host:70000\" is no target: the port must be a number from 1 to 65535"},
      {":9100",
       "\":9100\" is no target: the host is missing (host:port, e.g. 192.0.2.5:9100 or "
       "[::1]:9100)"},
      {"[::1", "\"[::1\" is no target: the \"]\" after the IPv6 address is missing"},
      {"", "Enter a target (host:port, e.g. 192.0.2.5:9100 or [::1]:9100)"},
  };
  for (const auto& [typed, message] : rows) {
    boxes_.Boxes.clear();
    TResendDialog dialog(Path(), 2, nullptr);
    EXPECT_EQ(Enter(dialog, typed), "") << typed;
    EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{message});
    ASSERT_EQ(boxes_.Boxes.size(), 1u);
    EXPECT_EQ(boxes_.Boxes[0].Kind, TBoxKind::Error);
  }
  EXPECT_EQ(Remembered(), "<absent>");
}

TEST_F(ResendDialogTest, SaysHowManyGoAndNamesEveryControl) {
  TResendDialog one(Path(), 1, nullptr);
  TResendDialog three(Path(), 3, nullptr);
  EXPECT_EQ(one.objectName().toStdString(), "ResendDialog");
  EXPECT_EQ(one.windowTitle().toStdString(), "Resend");
  EXPECT_EQ(one.findChild<QLabel*>("lblCaptures")->text().toStdString(),
            "1 capture is sent as it is, byte for byte, over a connection of its own.");
  EXPECT_EQ(three.findChild<QLabel*>("lblCaptures")->text().toStdString(),
            "3 captures are sent as they are, byte for byte, each over a connection of its own, "
            "one after another.");
  for (const char* name : {"edResendTo", "btnOK", "btnCancel"}) {
    auto* control = one.findChild<QWidget*>(name);
    ASSERT_NE(control, nullptr) << name;
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
    ASSERT_NE(accessible, nullptr) << name;
    EXPECT_FALSE(accessible->text(QAccessible::Name).isEmpty()) << name;
  }
}

}  // namespace
