#include "ui/job_settings_dialog.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTest>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "capture/ini_file.h"
#include "support/dialog_driver.h"
#include "support/file_contents.h"
#include "support/temp_folder.h"
#include "support/wait.h"
#include "support/x_display.h"

namespace {

constexpr const char* kSettings =
    "[Jobs]\nMaxJobBytes=100\n"
    "[Ports]\n9100=/tmp,yymmdd,F,0,Receipts\n9200=/tmp,yymmdd,F,0,\n"
    "[Port 9100]\nIdleSeconds=30\nCustom=kept\n"
    "[Port 9300]\nJobIndex=1\n";
// Entries of the list for kSettings.
constexpr int kAllPorts = 0;
constexpr int kPort9100 = 1;
constexpr int kPort9200 = 2;

// Refuses any rules holding "zz", as the real check refuses what is not hex.
std::string CheckRules(std::string_view rules) {
  return rules.find("zz") == std::string_view::npos ? "" : "'zz' is not hex";
}

// The field of that name on the page of the selected entry.
template <typename Field>
Field* Shown(const TJobSettingsDialog& dialog, const char* name) {
  auto* area =
      qobject_cast<QScrollArea*>(dialog.findChild<QStackedWidget*>("stPages")->currentWidget());
  return area->widget()->findChild<Field*>(name);
}

class JobSettingsPagesTest : public TempFolderTest {
 protected:
  void Open(const std::string& settings) {
    WriteWholeFile(Path(), settings);
    dialog_.LoadSettings();
  }
  std::string Path() const { return root_ + "/tarnock.ini"; }
  std::string Key(const char* section, const char* key) const {
    return TIniFile(Path()).ReadText(section, key, "<absent>");
  }

  TBoxRecorder boxes_;
  TJobSettingsDialog dialog_{root_ + "/tarnock.ini", CheckRules};
};

// A key expected in the file after the step: section, key, value or
// "<absent>".
struct TKeyAfter {
  const char* section;
  const char* key;
  const char* value;
};

struct TPortPagesCase {
  const char* name;
  std::function<void(TJobSettingsDialog&)> step;
  bool ok;
  std::vector<TKeyAfter> after;
};

class PortPagesTest : public JobSettingsPagesTest,
                      public testing::WithParamInterface<TPortPagesCase> {};

// Own values write their keys to the port's section and followed ones take
// them out; a page never shown, a section of a port no longer listed and
// keys no option knows stay as they are.
TEST_P(PortPagesTest, WritesOwnValuesAndDropsFollowedOnes) {
  const TPortPagesCase& c = GetParam();
  Open(kSettings);
  c.step(dialog_);
  if (c.ok)
    dialog_.btnOKClick();
  else
    dialog_.reject();
  EXPECT_TRUE(boxes_.Boxes.empty()) << boxes_.Texts().front();
  EXPECT_EQ(dialog_.result(), c.ok ? QDialog::Accepted : QDialog::Rejected);
  if (!c.ok) {
    EXPECT_EQ(ReadWholeFile(Path()), kSettings);
  }
  for (const TKeyAfter& key : c.after)
    EXPECT_EQ(Key(key.section, key.key), key.value) << key.section << " " << key.key;
  EXPECT_EQ(Key("Port 9100", "Custom"), "kept");
  EXPECT_EQ(Key("Port 9300", "JobIndex"), "1");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PortPagesTest,
    testing::Values(
        TPortPagesCase{"OwnValueWritesTheKey",
                       [](TJobSettingsDialog& dialog) {
                         dialog.SelectEntry(kPort9200);
                         EXPECT_FALSE(Shown<QCheckBox>(dialog, "cbJobIndex")->isEnabled());
                         Shown<QCheckBox>(dialog, "cbOwnJobIndex")->setChecked(true);
                         Shown<QCheckBox>(dialog, "cbJobIndex")->setChecked(true);
                       },
                       true,
                       {{"Port 9200", "JobIndex", "1"},
                        {"Port 9200", "MaxJobBytes", "<absent>"},
                        {"Port 9100", "IdleSeconds", "30"},
                        {"Jobs", "JobIndex", "0"}}},
        TPortPagesCase{"FollowingDropsTheKey",
                       [](TJobSettingsDialog& dialog) {
                         dialog.SelectEntry(kPort9100);
                         auto* idle = Shown<QSpinBox>(dialog, "eIdleSeconds");
                         EXPECT_EQ(idle->value(), 30);
                         Shown<QCheckBox>(dialog, "cbOwnIdleSeconds")->setChecked(false);
                         EXPECT_EQ(idle->value(), 0);
                         EXPECT_FALSE(idle->isEnabled());
                       },
                       true,
                       {{"Port 9100", "IdleSeconds", "<absent>"}}},
        TPortPagesCase{"EditsSurviveSwitchingEntries",
                       [](TJobSettingsDialog& dialog) {
                         dialog.SelectEntry(kPort9100);
                         Shown<QSpinBox>(dialog, "eIdleSeconds")->setValue(45);
                         dialog.SelectEntry(kAllPorts);
                         Shown<QLineEdit>(dialog, "eMaxJobBytes")->setText("500");
                         dialog.SelectEntry(kPort9100);
                         EXPECT_EQ(Shown<QSpinBox>(dialog, "eIdleSeconds")->value(), 45);
                         EXPECT_EQ(Shown<QLineEdit>(dialog, "eMaxJobBytes")->text(), "500");
                       },
                       true,
                       {{"Port 9100", "IdleSeconds", "45"},
                        {"Port 9100", "MaxJobBytes", "<absent>"},
                        {"Jobs", "MaxJobBytes", "500"}}},
        TPortPagesCase{"RenderersGoToJobsAndOnlyWhenGiven",
                       [](TJobSettingsDialog& dialog) {
                         dialog.SelectEntry(kAllPorts);
                         Shown<QLineEdit>(dialog, "eRendererZPL")->setText(" zpl2png --dpmm 8 ");
                         dialog.SelectEntry(kPort9100);
                         EXPECT_EQ(Shown<QLineEdit>(dialog, "eRendererZPL"), nullptr);
                       },
                       true,
                       {{"Jobs", "Renderer.ZPL", "zpl2png --dpmm 8"},
                        {"Jobs", "Renderer.PCL", "<absent>"},
                        {"Port 9100", "Renderer.ZPL", "<absent>"}}},
        TPortPagesCase{"CancelWritesNothing",
                       [](TJobSettingsDialog& dialog) {
                         dialog.SelectEntry(kPort9100);
                         Shown<QCheckBox>(dialog, "cbOwnIdleSeconds")->setChecked(false);
                       },
                       false,
                       {{"Port 9100", "IdleSeconds", "30"}}}),
    [](const auto& info) { return std::string(info.param.name); });

struct TRefusedCase {
  const char* name;
  int entry;
  const char* own;  // the Own value box to tick first, "" for none
  const char* field;
  const char* text;
  const char* box;
};

class RefusedFieldTest : public JobSettingsPagesTest,
                         public testing::WithParamInterface<TRefusedCase> {};

// A field of a port that does not parse: the box names the port, the port's
// page comes back with the field focused, and nothing is written.
TEST_P(RefusedFieldTest, NamesThePortAndPutsTheOperatorBack) {
  const TRefusedCase& c = GetParam();
  Open(kSettings);
  dialog_.show();
  dialog_.SelectEntry(c.entry);
  if (*c.own != '\0') Shown<QCheckBox>(dialog_, c.own)->setChecked(true);
  auto* field = Shown<QLineEdit>(dialog_, c.field);
  field->setText(c.text);
  dialog_.SelectEntry(kAllPorts);
  QTest::mouseClick(dialog_.findChild<QPushButton*>("btnOK"), Qt::LeftButton);
  EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{c.box});
  EXPECT_TRUE(dialog_.isVisible());
  EXPECT_EQ(dialog_.findChild<QListWidget*>("lbEntries")->currentRow(), c.entry);
  EXPECT_EQ(dialog_.focusWidget(), field);
  EXPECT_EQ(ReadWholeFile(Path()), kSettings);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RefusedFieldTest,
    testing::Values(TRefusedCase{"MalformedRule", kPort9200, "", "eReplyRules", "1B 76 => zz",
                                 "Port 9200: 'zz' is not hex"},
                    TRefusedCase{"OwnSenders", kPort9100, "cbOwnAllowedSenders", "eAllowedSenders",
                                 "10.0.0.0/33",
                                 "Port 9100: '10.0.0.0/33' is not an IP address or a block such as "
                                 "192.168.1.0/24 or fd00::/8"}),
    [](const auto& info) { return std::string(info.param.name); });

struct TChoiceCase {
  const char* name;
  const char* inFile;  // the [Port 9100] lines
  const char* replies;
  const char* state;  // what the boxes show
};

class ReplyChoicesTest : public JobSettingsPagesTest,
                         public testing::WithParamInterface<TChoiceCase> {};

// What the file holds is shown as it is, a value no choice knows included,
// and OK writes it back unchanged.
TEST_P(ReplyChoicesTest, ShowsTheFileAsItIsAndKeepsIt) {
  const TChoiceCase& c = GetParam();
  Open(std::string("[Ports]\n9100=/tmp,yymmdd,F,0,\n[Port 9100]\n") + c.inFile);
  dialog_.SelectEntry(kPort9100);
  EXPECT_EQ(Shown<QComboBox>(dialog_, "cbReplies")->currentText(), c.replies);
  EXPECT_EQ(Shown<QComboBox>(dialog_, "cbPrinterState")->currentText(), c.state);
  dialog_.btnOKClick();
  EXPECT_EQ(dialog_.result(), QDialog::Accepted);
  std::vector<std::string> lines;
  TIniFile(Path()).ListEntries("Port 9100", lines);
  std::string section;
  for (const std::string& line : lines) section += line + "\n";
  EXPECT_EQ(section, c.inFile);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ReplyChoicesTest,
    testing::Values(
        TChoiceCase{"Absent", "", "none", "ready"},
        TChoiceCase{"Known", "Replies=zpl\nPrinterState=paper out\n", "zpl", "paper out"},
        TChoiceCase{"Unknown", "Replies=dymo\nPrinterState=on fire\n", "dymo", "on fire"}),
    [](const auto& info) { return std::string(info.param.name); });

// Only a size the operator gave the dialog is kept; one the screen cut is
// not, and a file nobody resized the dialog in stays byte for byte.
TEST_F(JobSettingsPagesTest, KeepsOnlyASizeTheOperatorGaveIt) {
  Open(kSettings);
  dialog_.show();
  dialog_.reject();
  EXPECT_EQ(ReadWholeFile(Path()), kSettings);

  TJobSettingsDialog resized(Path(), CheckRules);
  resized.LoadSettings();
  resized.show();
  resized.resize(500, 400);
  resized.reject();
  EXPECT_EQ(Key(TJobSettingsDialog::kSizeSection, "Width"), "500");
  EXPECT_EQ(Key(TJobSettingsDialog::kSizeSection, "Height"), "400");

  TJobSettingsDialog again(Path(), CheckRules);
  again.LoadSettings();
  again.show();
  EXPECT_EQ(again.size(), QSize(500, 400));
}

// ---------------------------------------------------------------------------
// On a real screen: this binary again, on a private X server under a window
// manager, at the scale the parent asks for.

constexpr const char* kScaleVariable = "TARNOCK_DIALOG_SCALE";
constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;
constexpr int kChildTimeoutMs = 120000;

QString WithoutAccessKeys(QString text) { return text.remove('&'); }

std::string Name(QWidget* widget) {
  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
  return accessible ? accessible->text(QAccessible::Name).toStdString() : "";
}

// Whether the field's accessible relations say the label labels it.
bool LabelledBy(QWidget* field, QLabel* label) {
  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(field);
  for (const auto& [other, relation] : accessible->relations(QAccessible::Label))
    if (other->object() == label) return true;
  return false;
}

// Every label names its field, every check box by its own text or name,
// and nothing that takes the focus goes unnamed. A combo box's name is its
// current text; its label reaches a screen reader through the relation.
void ExpectEveryFieldNamed(QWidget* page) {
  for (QLabel* label : page->findChildren<QLabel*>()) {
    if (label->buddy() == nullptr) continue;
    if (qobject_cast<QComboBox*>(label->buddy()) != nullptr) {
      EXPECT_TRUE(LabelledBy(label->buddy(), label)) << label->text().toStdString();
      continue;
    }
    EXPECT_EQ(Name(label->buddy()), WithoutAccessKeys(label->text()).toStdString());
  }
  for (QCheckBox* box : page->findChildren<QCheckBox*>()) {
    const QString expected =
        box->accessibleName().isEmpty() ? WithoutAccessKeys(box->text()) : box->accessibleName();
    EXPECT_EQ(Name(box), expected.toStdString());
  }
  for (QWidget* widget : page->findChildren<QWidget*>()) {
    // The inner parts of a spin box or a combo box are named through it.
    if (widget->focusPolicy() == Qt::NoFocus || !widget->isVisibleTo(page) ||
        qobject_cast<QAbstractSpinBox*>(widget->parentWidget()) != nullptr ||
        qobject_cast<QScrollBar*>(widget) != nullptr ||
        qobject_cast<QScrollArea*>(widget) != nullptr)
      continue;
    EXPECT_FALSE(Name(widget).empty())
        << widget->metaObject()->className() << " " << widget->objectName().toStdString();
  }
}

// The part the child runs: the dialog framed by the window manager stays
// within the screen, its pages scroll where the screen is too small, and
// Try's output never makes it grow.
TEST(JobSettingsDialogOnScreen, FitsTheScreenAndNamesEveryField) {
  if (!qEnvironmentVariableIsSet(kScaleVariable))
    GTEST_SKIP() << "runs as a child of JobSettingsDialogUnderWindowManager";
  const int scale = qEnvironmentVariableIntValue(kScaleVariable);
  TTempFolder folder;
  WriteWholeFile(folder.FilePath("tarnock.ini"), kSettings);
  TJobSettingsDialog dialog(folder.FilePath("tarnock.ini"), CheckRules);
  dialog.LoadSettings();
  dialog.show();
  // Framed, and placed again once the frame's size is known.
  const QRect screen = dialog.screen()->availableGeometry();
  ASSERT_TRUE(WaitUntil(
      [&] {
        return dialog.frameGeometry() != dialog.geometry() &&
               screen.contains(dialog.frameGeometry());
      },
      30000))
      << "frame " << dialog.frameGeometry().width() << "x" << dialog.frameGeometry().height()
      << " on " << screen.width() << "x" << screen.height();
  for (int entry : {kAllPorts, kPort9100}) {
    dialog.SelectEntry(entry);
    QWidget* page =
        qobject_cast<QScrollArea*>(dialog.findChild<QStackedWidget*>("stPages")->currentWidget())
            ->widget();
    ExpectEveryFieldNamed(page);
  }
  auto* area =
      qobject_cast<QScrollArea*>(dialog.findChild<QStackedWidget*>("stPages")->currentWidget());
  if (scale == 1) {
    EXPECT_TRUE(QRect(0, 0, kScreenWidth, kScreenHeight).contains(dialog.frameGeometry()));
  } else {
    EXPECT_GT(area->verticalScrollBar()->maximum(), 0) << "the port's page does not scroll";
  }
  dialog.SelectEntry(kAllPorts);
  Shown<QLineEdit>(dialog, "edAfterJob")->setText("seq 1 40");
  const QSize before = dialog.size();
  Shown<QPushButton>(dialog, "btnTryAfterJob")->click();
  ASSERT_TRUE(WaitUntil(
      [&] { return Shown<QLabel>(dialog, "lblTryResult")->text().startsWith("Ran:"); }, 30000));
  EXPECT_EQ(dialog.size(), before);
  EXPECT_TRUE(screen.contains(dialog.frameGeometry()))
      << "frame " << dialog.frameGeometry().width() << "x" << dialog.frameGeometry().height()
      << " on " << screen.width() << "x" << screen.height();
  dialog.reject();
  // Nobody resized it: the file stays byte for byte.
  EXPECT_EQ(ReadWholeFile(folder.FilePath("tarnock.ini")), kSettings);
}

TEST(JobSettingsDialogUnderWindowManager, FitsAtScaleOneAndTwo) {
  if (qEnvironmentVariableIsSet(kScaleVariable)) GTEST_SKIP() << "the child runs only its part";
  if (!TXDisplay::Available()) GTEST_SKIP() << "no X server can start here";
  const std::optional<std::string> missing = TXTools::MissingTool();
  ASSERT_FALSE(missing) << *missing << " is missing; scripts/setup.sh installs it";
  TXDisplay display;
  ASSERT_TRUE(display.Start(kScreenWidth, kScreenHeight));
  for (const char* scale : {"1", "2"}) {
    SCOPED_TRACE(std::string("scale ") + scale);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", QString::fromStdString(display.Name()));
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("QT_SCALE_FACTOR", scale);
    environment.insert(kScaleVariable, scale);
    // The X client libraries keep their allocations until the process ends.
    environment.insert("ASAN_OPTIONS", "detect_leaks=0");
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=JobSettingsDialogOnScreen.*"});
    ASSERT_TRUE(child.waitForFinished(kChildTimeoutMs));
    const std::string output = child.readAll().toStdString();
    EXPECT_EQ(child.exitCode(), 0) << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test."), std::string::npos) << output;
  }
}

}  // namespace
