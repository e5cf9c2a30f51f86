#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>
#include <memory>
#include <string>

#include "support/file_contents.h"
#include "support/temp_folder.h"
#include "support/wait.h"
#include "ui/job_settings_dialog.h"

namespace {

constexpr int kCommandWaitMs = 20000;

// What the tester does while the command runs.
enum class TAction { Nothing, PressStop, CloseDialog };

struct TTryCase {
  const char* name;
  const char* command;  // %R: the test's folder; writes its $$ to %R/pid
  TAction action;
  const char* result;  // "" when the dialog has gone
};

class AfterJobTryTest : public TempFolderTest, public testing::WithParamInterface<TTryCase> {
 protected:
  std::string Shown() const { return result_->text().toStdString(); }
  std::string Button() const { return button_->text().toStdString(); }

  std::unique_ptr<TJobSettingsDialog> dialog_ = std::make_unique<TJobSettingsDialog>(
      root_ + "/tarnock.ini", [](std::string_view) { return std::string(); });
  QPushButton* button_ = dialog_->findChild<QPushButton*>("btnTryAfterJob");
  QLabel* result_ = dialog_->findChild<QLabel*>("lblTryResult");
};

// One command at a time: while it runs the button stops it, and so does
// closing the dialog. Every run is reaped, and its folder goes only after.
TEST_P(AfterJobTryTest, TheRunIsReapedBeforeItsFolderGoes) {
  const TTryCase& c = GetParam();
  std::string command = c.command;
  command.replace(command.find("%R"), 2, root_);
  dialog_->findChild<QLineEdit*>("edAfterJob")->setText(QString::fromStdString(command));
  button_->click();
  EXPECT_EQ(Button(), "S&top");
  const std::string running = Shown();
  ASSERT_TRUE(running.starts_with("Running on ") && running.ends_with("/sample.txt ..."))
      << running;
  const std::string folder = running.substr(11, running.size() - 11 - 15);
  std::string pid;
  ASSERT_TRUE(WaitUntil([&] { return (pid = ReadWholeFile(root_ + "/pid")).ends_with('\n'); },
                        kCommandWaitMs));
  pid.pop_back();
  if (c.action == TAction::PressStop) {
    button_->click();
    EXPECT_EQ(Shown(), "Stopping ...");
  }
  if (c.action == TAction::CloseDialog) {
    dialog_->reject();
    dialog_.reset();
    // The command was still running: its folder stays until it has ended.
    EXPECT_TRUE(std::filesystem::exists(folder));
  } else {
    ASSERT_TRUE(WaitUntil([&] { return Button() == "&Try"; }, kCommandWaitMs));
    EXPECT_EQ(Shown(), c.result);
  }
  ASSERT_TRUE(WaitUntil([&] { return !std::filesystem::exists(folder); }, kCommandWaitMs));
  EXPECT_FALSE(std::filesystem::exists("/proc/" + pid)) << "not reaped";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AfterJobTryTest,
    testing::Values(TTryCase{"RunsToItsEnd", "echo $$ > %R/pid; echo out; cat sample.txt",
                             TAction::Nothing, "Ran: exit status 0\nout\nSample job"},
                    TTryCase{"Stopped", "echo $$ > %R/pid; exec sleep 60", TAction::PressStop,
                             "Stopped: killed by signal 15"},
                    TTryCase{"StoppedByClosingTheDialog", "echo $$ > %R/pid; exec sleep 60",
                             TAction::CloseDialog, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AfterJobTryTest, NoTemporaryFolderIsAFailureShownAtOnce) {
  const QByteArray temporary = qgetenv("TMPDIR");
  WriteWholeFile(root_ + "/file", "");
  qputenv("TMPDIR", QByteArray::fromStdString(root_ + "/file"));
  dialog_->findChild<QLineEdit*>("edAfterJob")->setText("true");
  button_->click();
  qputenv("TMPDIR", temporary);
  EXPECT_EQ(Shown(), "Failed: cannot make a temporary folder: Not a directory");
  EXPECT_EQ(Button(), "&Try");
}

}  // namespace
