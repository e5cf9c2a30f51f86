#include "ui/add_port.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <ostream>
#include <stdexcept>
#include <string>

#include "support/dialog_driver.h"
#include "support/fault_injection.h"
#include "support/file_contents.h"
#include "support/temp_folder.h"

namespace {

class PortEditorTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.IsValid());
    editor_.show();
    editor_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&editor_));
  }

  std::string Path(const char* relative) const { return folder_.FilePath(relative); }

  void Fill(const std::string& port, const std::string& directory, const std::string& format) {
    editor_.ePort->setText(QString::fromStdString(port));
    editor_.eDirectory->setText(QString::fromStdString(directory));
    editor_.eFormat->setText(QString::fromStdString(format));
  }

  // Entries of the folder, hidden ones included.
  static QStringList Entries(const std::string& folder) {
    return QDir(QString::fromStdString(folder))
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
  }

  std::string FocusName() const {
    return editor_.focusWidget() ? editor_.focusWidget()->objectName().toStdString() : "";
  }

  TTempFolder folder_;
  TForm3 editor_;
  TBoxRecorder boxes_;
};

struct TValidationCase {
  const char* Port;
  const char* Directory;  // "@" stands for the test folder
  const char* Format;
  const char* Message;  // "" when the entry passes
  const char* Focus;    // the field focused after the message
};

class PortEditorValidationTest : public PortEditorTest,
                                 public testing::WithParamInterface<TValidationCase> {};

TEST_P(PortEditorValidationTest, ShowsTheFirstFailingTestsMessageAndFocusesItsField) {
  const TValidationCase& c = GetParam();
  WriteWholeFile(folder_.FilePath("plain"), "");
  std::string directory = c.Directory;
  if (directory.starts_with('@')) directory.replace(0, 1, folder_.Path());
  Fill(c.Port, directory, c.Format);
  editor_.eComment->setFocus();
  editor_.BitBtn1Click();
  if (*c.Message == '\0') {
    EXPECT_TRUE(boxes_.Boxes.empty()) << boxes_.Texts().front();
    EXPECT_EQ(editor_.result(), QDialog::Accepted);
    return;
  }
  ASSERT_EQ(boxes_.Texts(), std::vector<std::string>{c.Message});
  EXPECT_EQ(boxes_.Boxes[0].Kind, TBoxKind::Error);
  EXPECT_EQ(boxes_.Boxes[0].Caption, "Error");
  EXPECT_EQ(FocusName(), c.Focus);
  EXPECT_TRUE(editor_.isVisible());
  EXPECT_EQ(editor_.ePort->text().toStdString(), c.Port);
}

void PrintTo(const TValidationCase& c, std::ostream* out) {
  *out << "port '" << c.Port << "' directory '" << c.Directory << "' format '" << c.Format << "'";
}

constexpr const char* kAllData = "Please Enter all Data";
constexpr const char* kPort = "Please Enter a Valid Port";
constexpr const char* kDirectoryComma = "\",\" is not allowed in the directory name";
constexpr const char* kDirectory = "Please Enter a Valid Directory";
constexpr const char* kFormatComma = "\",\" is not allowed in the file format";
constexpr const char* kFormat = "Please Enter a Valid File Format";

INSTANTIATE_TEST_SUITE_P(Messages, PortEditorValidationTest,
                         testing::Values(
                             // Missing data comes first and moves no focus.
                             TValidationCase{" ", "@/cap", "yymmdd", kAllData, "eComment"},
                             TValidationCase{"9100", "@/cap", "", kAllData, "eComment"},
                             TValidationCase{"9100", " \t", "yymmdd", kAllData, "eComment"},
                             TValidationCase{" ", "@/a,b", "x,y", kAllData, "eComment"},
                             // Only decimal ports from 1 to 65535, leading spaces allowed.
                             TValidationCase{"9100x", "@/cap", "yymmdd", kPort, "ePort"},
                             TValidationCase{"9100 ", "@/cap", "yymmdd", kPort, "ePort"},
                             TValidationCase{"0", "@/cap", "yymmdd", kPort, "ePort"},
                             TValidationCase{"-1", "@/cap", "yymmdd", kPort, "ePort"},
                             TValidationCase{"+80", "@/cap", "yymmdd", kPort, "ePort"},
                             TValidationCase{"0x238C", "@/cap", "yymmdd", kPort, "ePort"},
                             TValidationCase{"$238C", "@/cap", "yymmdd", kPort, "ePort"},
                             TValidationCase{"65536", "@/cap", "yymmdd", kPort, "ePort"},
                             TValidationCase{"70000", "@/cap", "yymmdd", kPort, "ePort"},
                             TValidationCase{"99999999999", "@/cap", "yymmdd", kPort, "ePort"},
                             TValidationCase{"9100x", "@/a,b", "x,y", kPort, "ePort"},
                             TValidationCase{"  9100", "@/cap", "yymmdd", "", ""},
                             TValidationCase{"1", "@/cap", "yymmdd", "", ""},
                             TValidationCase{"65535", "@/cap", "yymmdd", "", ""},
                             // Commas would break the stored definition apart.
                             TValidationCase{"9100", "@/a,b", "yymmdd", kDirectoryComma,
                                             "eDirectory"},
                             TValidationCase{"9100", "@/a,b", "x,y", kDirectoryComma, "eDirectory"},
                             TValidationCase{"9100", "@/cap", "yymmdd,hh", kFormatComma, "eFormat"},
                             // A missing relative directory of one level has no parent to build on.
                             TValidationCase{"9100", "tarnock-missing-relative-folder", "yymmdd",
                                             kDirectory, "eDirectory"},
                             // A name the file system can't create: the directory itself, or a
                             // directory below a plain file.
                             TValidationCase{"9100", "@/cap", "\"\"", kFormat, "eFormat"},
                             TValidationCase{"9100", "@/plain/sub", "yymmdd", kFormat, "eFormat"},
                             TValidationCase{"9100", "@/cap", "yy/mm", kFormat, "eFormat"},
                             TValidationCase{"9100", "@/cap", "yy-mm-dd hhmm", "", ""}));

// A failure nobody foresaw stays inside the editor's own loop.
TEST_F(PortEditorTest, AnUnforeseenFailureOfOkIsShownAndTheEditorStaysOpen) {
  Fill("9100", folder_.Path(), "yymmdd");
  TFileCallStandIn<&TFileCalls::PathStatus> failing(
      [](const char*, struct stat*) -> int { throw std::runtime_error("stat went wrong"); });
  QTest::mouseClick(editor_.findChild<QPushButton*>("BitBtn1"), Qt::LeftButton);
  ASSERT_EQ(boxes_.Boxes.size(), 1u);
  EXPECT_EQ(boxes_.Boxes[0].Kind, TBoxKind::GeneralError);
  EXPECT_EQ(boxes_.Boxes[0].Text, "stat went wrong.");
  EXPECT_TRUE(editor_.isVisible());
}

TEST_F(PortEditorTest, ACommaInTheDirectoryCreatesNothing) {
  Fill("9100", Path("new,deep"), "yymmdd");
  editor_.BitBtn1Click();
  EXPECT_TRUE(Entries(folder_.Path()).isEmpty());
}

TEST_F(PortEditorTest, AMissingDirectoryChainIsCreatedAndKeptWhenALaterTestFails) {
  const std::string deep = Path("cap/new/deep");
  Fill("9100", deep, "yymmdd,hh");
  editor_.BitBtn1Click();
  EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{kFormatComma});
  editor_.reject();
  EXPECT_TRUE(QDir(QString::fromStdString(deep)).exists());
  EXPECT_TRUE(Entries(deep).isEmpty()) << "no trial file after a refused pattern";
}

TEST_F(PortEditorTest, TheTrialFileLeavesNothingBehind) {
  Fill("9100", Path("cap") + "/", "yy-mm-dd hhmm");
  editor_.BitBtn1Click();
  EXPECT_TRUE(boxes_.Boxes.empty());
  EXPECT_EQ(editor_.result(), QDialog::Accepted);
  EXPECT_TRUE(Entries(Path("cap")).isEmpty());
}

TEST_F(PortEditorTest, AnExistingFileOfTheTrialNameStaysUnchanged) {
  std::filesystem::create_directory(Path("cap"));
  ASSERT_TRUE(WriteWholeFile(Path("cap/fixed"), "earlier capture"));
  Fill("9100", Path("cap"), "\"fixed\"");
  editor_.BitBtn1Click();
  EXPECT_TRUE(boxes_.Boxes.empty());
  EXPECT_EQ(ReadWholeFile(Path("cap/fixed")), "earlier capture");
  EXPECT_EQ(Entries(Path("cap")), QStringList{"fixed"});
}

TEST_F(PortEditorTest, DaysTypedOutOfRangeArriveAsTheNearerBound) {
  Fill("9100", Path("cap"), "yymmdd");
  editor_.seDays->setFocus();
  editor_.seDays->selectAll();
  QTest::keyClicks(editor_.seDays, "1500");
  EXPECT_EQ(editor_.seDays->text().toStdString(), "1500");
  QTest::mouseClick(editor_.findChild<QPushButton*>("BitBtn1"), Qt::LeftButton);
  EXPECT_EQ(editor_.result(), QDialog::Accepted);
  EXPECT_EQ(editor_.seDays->Value(), 999);
  EXPECT_EQ(editor_.seDays->text().toStdString(), "999");
}

struct TDaysCase {
  const char* Typed;
  const char* Shown;  // the text after leaving the box
  int Value;
  int Beeps;  // keys dropped
};

void PrintTo(const TDaysCase& c, std::ostream* out) { *out << "typed '" << c.Typed << "'"; }

class PortEditorDaysTest : public PortEditorTest, public testing::WithParamInterface<TDaysCase> {};

TEST_P(PortEditorDaysTest, TheBoxTakesNumberKeysAndBeepsAtOthers) {
  int beeps = 0;
  QObject::connect(editor_.seDays, &TSpinEdit::KeyRefused, [&] { ++beeps; });
  editor_.seDays->setFocus();
  editor_.seDays->selectAll();
  QTest::keyClicks(editor_.seDays, GetParam().Typed);
  EXPECT_EQ(beeps, GetParam().Beeps);
  editor_.eComment->setFocus();
  EXPECT_EQ(editor_.seDays->text().toStdString(), GetParam().Shown);
  EXPECT_EQ(editor_.seDays->Value(), GetParam().Value);
}

INSTANTIATE_TEST_SUITE_P(Typed, PortEditorDaysTest,
                         testing::Values(TDaysCase{"42", "42", 42, 0},
                                         TDaysCase{"4a2", "42", 42, 1},
                                         TDaysCase{"4 x,2", "42", 42, 3},
                                         TDaysCase{"-5", "0", 0, 0}, TDaysCase{"+7", "7", 7, 0},
                                         TDaysCase{"1000", "999", 999, 0},
                                         TDaysCase{"", "0", 0, 0}));

TEST_F(PortEditorTest, SettingDaysPullsTheValueIntoRange) {
  editor_.seDays->SetValue(1500);
  EXPECT_EQ(editor_.seDays->Value(), 999);
  editor_.seDays->SetValue(-3);
  EXPECT_EQ(editor_.seDays->Value(), 0);
}

// Enter in a field runs OK, whose validation here refuses the port; Enter or
// Space on a focused button runs that button; Escape cancels.
TEST_F(PortEditorTest, KeysRunTheFocusedButtonOrOk) {
  struct Case {
    const char* focus;
    Qt::Key key;
    std::vector<std::string> boxes;
    bool open;  // still open afterwards
  };
  const std::vector<Case> cases = {
      {"ePort", Qt::Key_Return, {kPort}, true},   {"eFormat", Qt::Key_Enter, {kPort}, true},
      {"seDays", Qt::Key_Return, {kPort}, true},  {"cbOverwrite", Qt::Key_Return, {kPort}, true},
      {"BitBtn1", Qt::Key_Return, {kPort}, true}, {"BitBtn2", Qt::Key_Return, {}, false},
      {"BitBtn2", Qt::Key_Space, {}, false},      {"ePort", Qt::Key_Escape, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.focus) + " key " + std::to_string(c.key));
    boxes_.Boxes.clear();
    editor_.show();
    editor_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&editor_));
    Fill("bad", Path("cap"), "yymmdd");
    auto* target = editor_.findChild<QWidget*>(c.focus);
    target->setFocus(Qt::TabFocusReason);
    QTest::keyClick(editor_.focusWidget(), c.key);
    EXPECT_EQ(boxes_.Texts(), c.boxes);
    EXPECT_EQ(editor_.isVisible(), c.open);
    if (!c.open) {
      EXPECT_EQ(editor_.result(), QDialog::Rejected);
    }
  }
}

TEST_F(PortEditorTest, EnterInAFieldAcceptsValidValues) {
  Fill("9100", Path("cap"), "yymmdd");
  QTest::keyClick(editor_.eFormat, Qt::Key_Return);
  EXPECT_EQ(editor_.result(), QDialog::Accepted);
}

// Each label keeps its design place and ends clear of its field's border in
// whatever font the desktop gives.
TEST_F(PortEditorTest, LabelsKeepTheirPlacesAndEndBeforeTheirFields) {
  struct Case {
    const char* text;
    int top;
    const char* field;
  };
  const std::vector<Case> cases = {{"Port:", 27, "ePort"},
                                   {"Directory:", 51, "eDirectory"},
                                   {"File Format:", 75, "eFormat"},
                                   {"Days:", 99, "seDays"},
                                   {"Comments:", 125, "eComment"}};
  const QList<QLabel*> labels = editor_.findChildren<QLabel*>();
  ASSERT_EQ(labels.size(), static_cast<qsizetype>(cases.size()));
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.text);
    const QLabel* label = labels[static_cast<qsizetype>(i)];
    EXPECT_EQ(label->text().toStdString(), c.text);
    EXPECT_EQ(label->pos(), QPoint(8, c.top));
    ASSERT_NE(label->buddy(), nullptr);
    EXPECT_EQ(label->buddy()->objectName().toStdString(), c.field);
    const int textEnd = label->x() + label->fontMetrics().horizontalAdvance(label->text());
    EXPECT_LE(textEnd, label->buddy()->x() - 3);
  }
}

TEST_F(PortEditorTest, OldPortHoldsAtMost255Characters) {
  editor_.OldPort->setText(QString(300, '7'));
  EXPECT_EQ(editor_.OldPort->text().size(), 255);
  EXPECT_FALSE(editor_.OldPort->isVisible());
}

}  // namespace
