#include "ui/options.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCheckBox>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "capture/ini_file.h"
#include "net/wsocket.h"
#include "support/dialog_driver.h"
#include "support/file_contents.h"
#include "support/loopback.h"
#include "support/temp_folder.h"
#include "ui/add_port.h"
#include "ui/port_help.h"

namespace {

using TRow = std::vector<std::string>;

struct TEditorValues {
  std::string Port;
  std::string Format = "yymmdd";
  bool Overwrite = false;
  int Days = 0;
  std::string Comment;
};

class PortListTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.IsValid());
    settingsPath_ = folder_.FilePath("tarnock.ini");
    captures_ = folder_.FilePath("captures");
    list_ = std::make_unique<TForm2>(settingsPath_);
    list_->Attach(&editor_, &help_);
  }

  void WriteSettings(const std::string& text) { ASSERT_TRUE(WriteWholeFile(settingsPath_, text)); }

  std::string SettingsText() const {
    QFile file(QString::fromStdString(settingsPath_));
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "<missing>";
  }

  std::vector<std::string> StoredEntries() const {
    std::vector<std::string> entries;
    TIniFile(settingsPath_).ListEntries("Ports", entries);
    return entries;
  }

  // Loads and shows the list the way the main window opens it, but without a
  // modal loop so that the test can call its handlers.
  void Open(const std::string& settings) {
    WriteSettings(settings);
    list_->CreateRows();
    list_->SortRows();
    list_->show();
  }

  std::vector<TRow> Rows() const {
    std::vector<TRow> rows;
    for (int row = 1; row < list_->RowCount(); ++row) {
      TRow cells;
      for (int column = 0; column < 6; ++column) cells.push_back(list_->Cell(row, column));
      rows.push_back(cells);
    }
    return rows;
  }

  std::vector<std::string> Ports() const {
    std::vector<std::string> ports;
    for (const TRow& row : Rows()) ports.push_back(row[0]);
    return ports;
  }

  // An editor step: fills every field and presses OK.
  TModalScript<TForm3>::TStep Enter(TEditorValues values) {
    return [this, values](TForm3& editor) {
      editor.ePort->setText(QString::fromStdString(values.Port));
      editor.eDirectory->setText(QString::fromStdString(captures_));
      editor.eFormat->setText(QString::fromStdString(values.Format));
      editor.cbOverwrite->setChecked(values.Overwrite);
      editor.seDays->SetValue(values.Days);
      editor.eComment->setText(QString::fromStdString(values.Comment));
      editor.BitBtn1Click();
    };
  }

  static void Cancel(TForm3& editor) { editor.reject(); }

  bool ButtonEnabled(const char* name) const {
    return list_->findChild<QPushButton*>(name)->isEnabled();
  }

  TTempFolder folder_;
  std::string settingsPath_;
  std::string captures_;
  TForm3 editor_;
  THelp1 help_;
  std::unique_ptr<TForm2> list_;
  TBoxRecorder boxes_;
};

struct TSortCase {
  std::vector<std::string> Keys;
  std::vector<std::string> Expected;
};

class PortListSortTest : public PortListTest, public testing::WithParamInterface<TSortCase> {};

TEST_P(PortListSortTest, ShowsRowsInByteOrderOfThePortText) {
  std::string settings = "[Ports]\n";
  for (const std::string& key : GetParam().Keys) settings += key + "=/cap,yymmdd,F,0,\n";
  Open(settings);
  EXPECT_EQ(Ports(), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(Orders, PortListSortTest,
                         testing::Values(TSortCase{{"9100", "10", "515"}, {"10", "515", "9100"}},
                                         TSortCase{{"9", "10000"}, {"10000", "9"}},
                                         TSortCase{{"11", "100", "9", "10"},
                                                   {"10", "100", "11", "9"}},
                                         TSortCase{{}, {}}));

TEST_F(PortListTest, LoadsEveryFieldAndAValueWithoutComments) {
  Open("[Ports]\n9100=/cap,yymmdd,T,5\n515=/lp,hhnn,F,30,a,b,c\n");
  EXPECT_EQ(Rows(), (std::vector<TRow>{{"515", "/lp", "hhnn", "F", "30", "a,b,c"},
                                       {"9100", "/cap", "yymmdd", "T", "", "5"}}));
  EXPECT_TRUE(ButtonEnabled("btnEdit"));
  EXPECT_TRUE(ButtonEnabled("btnDelete"));
  EXPECT_EQ(list_->SelectedRow(), 1);
}

TEST_F(PortListTest, WithoutRowsShowsTheHeaderAloneAndDisablesEditAndDelete) {
  Open("[Window]\nTop=5\n");
  EXPECT_EQ(list_->RowCount(), 1);
  EXPECT_EQ(list_->Cell(0, 2), "File Format");
  EXPECT_FALSE(ButtonEnabled("btnEdit"));
  EXPECT_FALSE(ButtonEnabled("btnDelete"));
}

TEST_F(PortListTest, AddStoresTheRowInSortOrderButNotYetInTheFile) {
  Open("[Ports]\n9100=/cap,yymmdd,F,0,\n");
  const std::string before = SettingsText();
  TModalScript<TForm3> script(editor_);
  script.Then(Enter({"515", "hhnn", true, 7, "back, office"}));
  list_->btnAddClick();
  EXPECT_EQ(Rows(), (std::vector<TRow>{{"515", captures_, "hhnn", "T", "7", "back, office"},
                                       {"9100", "/cap", "yymmdd", "F", "0", ""}}));
  EXPECT_EQ(list_->SelectedRow(), 1);
  EXPECT_TRUE(boxes_.Boxes.empty());
  EXPECT_EQ(SettingsText(), before);
}

TEST_F(PortListTest, AddPreparesAnEmptyEditorWithTheFocusInPort) {
  Open("[Ports]\n9100=/cap,yymmdd,T,5,x\n");
  editor_.eDirectory->setText("/left/over");
  editor_.seDays->SetValue(12);
  editor_.cbOverwrite->setChecked(true);
  TModalScript<TForm3> script(editor_);
  bool prepared = false;
  script.Then([&](TForm3& editor) {
    prepared = editor.ePort->text().isEmpty() && editor.eDirectory->text().isEmpty() &&
               editor.eFormat->text().isEmpty() && editor.eComment->text().isEmpty() &&
               !editor.cbOverwrite->isChecked() && editor.seDays->Value() == 0 &&
               editor.OldPort->text().isEmpty() && editor.focusWidget() == editor.ePort;
    editor.reject();
  });
  list_->btnAddClick();
  EXPECT_TRUE(prepared);
  EXPECT_EQ(Ports(), std::vector<std::string>{"9100"});
}

class PortListDuplicateTest : public PortListTest,
                              public testing::WithParamInterface<std::string> {};

TEST_P(PortListDuplicateTest, AddOfAUsedPortIsRefusedAndTheEditorReopensWithTheValues) {
  Open("[Ports]\n9100=/cap,yymmdd,F,0,\n");
  TModalScript<TForm3> script(editor_);
  std::string reopenedPort, reopenedComment;
  script.Then(Enter({GetParam(), "hhnn", false, 3, "again"})).Then([&](TForm3& editor) {
    reopenedPort = editor.ePort->text().toStdString();
    reopenedComment = editor.eComment->text().toStdString();
    editor.reject();
  });
  list_->btnAddClick();
  EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{"Port Already In Use"});
  EXPECT_EQ(boxes_.Boxes.at(0).Kind, TBoxKind::Error);
  EXPECT_EQ(reopenedPort, GetParam());
  EXPECT_EQ(reopenedComment, "again");
  EXPECT_EQ(Rows(), (std::vector<TRow>{{"9100", "/cap", "yymmdd", "F", "0", ""}}));
}

INSTANTIATE_TEST_SUITE_P(Typed, PortListDuplicateTest, testing::Values("9100", " 9100"));

TEST_F(PortListTest, EditWithoutChangingThePortStoresTheOtherFields) {
  Open("[Ports]\n10=/a,yy,F,1,\n9100=/cap,yymmdd,F,0,\n");
  list_->SelectRow(2);
  TModalScript<TForm3> script(editor_);
  std::string oldPort;
  script.Then([&](TForm3& editor) {
    oldPort = editor.OldPort->text().toStdString();
    Enter({"9100", "hh", true, 42, "new"})(editor);
  });
  list_->btnEditClick();
  EXPECT_EQ(oldPort, "9100");
  EXPECT_TRUE(boxes_.Boxes.empty());
  EXPECT_EQ(Rows(), (std::vector<TRow>{{"10", "/a", "yy", "F", "1", ""},
                                       {"9100", captures_, "hh", "T", "42", "new"}}));
}

TEST_F(PortListTest, EditFillsTheEditorFromTheSelectedRow) {
  Open("[Ports]\n10=/a,yy,F,1,\n9100=/cap,yymmdd,T,12,c,d\n");
  list_->SelectRow(2);
  TModalScript<TForm3> script(editor_);
  std::vector<std::string> shown;
  bool ticked = false;
  script.Then([&](TForm3& editor) {
    shown = {editor.ePort->text().toStdString(), editor.eDirectory->text().toStdString(),
             editor.eFormat->text().toStdString(), std::to_string(editor.seDays->Value()),
             editor.eComment->text().toStdString()};
    ticked = editor.cbOverwrite->isChecked();
    editor.reject();
  });
  list_->btnEditClick();
  EXPECT_EQ(shown, (std::vector<std::string>{"9100", "/cap", "yymmdd", "12", "c,d"}));
  EXPECT_TRUE(ticked);
}

TEST_F(PortListTest, EditToTheSamePortWithALeadingBlankIsRefused) {
  Open("[Ports]\n9100=/cap,yymmdd,F,0,\n");
  TModalScript<TForm3> script(editor_);
  script.Then(Enter({" 9100", "hh", true, 1, "x"})).Then(Cancel);
  list_->btnEditClick();
  EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{"Port Already In Use"});
  EXPECT_EQ(script.Showings, 2);
  EXPECT_EQ(Rows(), (std::vector<TRow>{{"9100", "/cap", "yymmdd", "F", "0", ""}}));
}

TEST_F(PortListTest, EditToAPortOfAnotherRowIsRefused) {
  Open("[Ports]\n10=/a,yy,F,1,\n9100=/cap,yymmdd,F,0,\n");
  list_->SelectRow(2);
  TModalScript<TForm3> script(editor_);
  script.Then(Enter({"10", "hh", false, 0, ""})).Then(Enter({"11", "hh", false, 0, ""}));
  list_->btnEditClick();
  EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{"Port Already In Use"});
  EXPECT_EQ(Ports(), (std::vector<std::string>{"10", "11"}));
}

TEST_F(PortListTest, EditOfARowWhoseDaysIsNoNumberShowsTheFailureAndOpensNoEditor) {
  Open("[Ports]\n9100=/cap,yymmdd,F,abc,\n");
  TModalScript<TForm3> script(editor_);
  list_->btnEditClick();
  EXPECT_EQ(script.Showings, 0);
  ASSERT_EQ(boxes_.Boxes.size(), 1u);
  EXPECT_EQ(boxes_.Boxes[0].Kind, TBoxKind::GeneralError);
  EXPECT_EQ(boxes_.Boxes[0].Text, "'abc' is not a valid integer value.");
}

TEST_F(PortListTest, DeletingTheMiddleRowMovesTheLastRowUpWholly) {
  Open("[Ports]\n10=/a,yy,F,1,first\n515=/b,mm,T,2,second\n9100=/c,dd,F,3,third, really\n");
  list_->SelectRow(2);
  list_->btnDeleteClick();
  EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{"Delete port 515"});
  EXPECT_EQ(boxes_.Boxes.at(0).Kind, TBoxKind::Confirmation);
  EXPECT_EQ(Rows(), (std::vector<TRow>{{"10", "/a", "yy", "F", "1", "first"},
                                       {"9100", "/c", "dd", "F", "3", "third, really"}}));
  EXPECT_EQ(list_->SelectedRow(), 2);
}

TEST_F(PortListTest, DeleteWithoutConsentKeepsTheRow) {
  Open("[Ports]\n10=/a,yy,F,1,\n");
  boxes_.Consent = false;
  list_->btnDeleteClick();
  EXPECT_EQ(Ports(), std::vector<std::string>{"10"});
}

TEST_F(PortListTest, DeletingEveryRowLeavesTheHeaderAndDisablesEditAndDelete) {
  Open("[Ports]\n10=/a,yy,F,1,\n515=/b,mm,T,2,\n");
  list_->btnDeleteClick();
  list_->btnDeleteClick();
  EXPECT_EQ(list_->RowCount(), 1);
  EXPECT_FALSE(ButtonEnabled("btnEdit"));
  EXPECT_FALSE(ButtonEnabled("btnDelete"));
  list_->btnDeleteClick();
  list_->btnEditClick();
  EXPECT_EQ(boxes_.Boxes.size(), 2u);

  // The close box saves nothing; the next opening shows the stored rows.
  list_->close();
  list_->CreateRows();
  list_->SortRows();
  list_->show();
  EXPECT_EQ(Ports(), (std::vector<std::string>{"10", "515"}));
  EXPECT_TRUE(ButtonEnabled("btnDelete"));
}

TEST_F(PortListTest, CloseBoxAfterChangesLeavesTheFileUnchanged) {
  Open("[Ports]\n9100=/cap,yymmdd,F,0,\n[File]\nDeleteIfEmpty=0\n");
  const std::string before = SettingsText();
  TModalScript<TForm3> script(editor_);
  script.Then(Enter({"10", "hh", false, 0, ""}));
  list_->btnAddClick();
  list_->btnDeleteClick();
  list_->close();
  EXPECT_EQ(list_->result(), QDialog::Rejected);
  EXPECT_EQ(SettingsText(), before);
}

TEST_F(PortListTest, OkWritesTheRowsInGridOrderAndKeepsOtherSections) {
  Open(
      "[Window]\nTop=5\n[Ports]\n9100=/cap,yymmdd,F,0,\n10=/a,yy,T,1,x\n[File]\nDeleteIfEmpty=0\n");
  TModalScript<TForm3> script(editor_);
  script.Then(Enter({"515", "hhnn", false, 0, "a,b,c"}));
  list_->btnAddClick();
  list_->BitBtn1Click();
  EXPECT_EQ(list_->result(), QDialog::Accepted);
  EXPECT_EQ(StoredEntries(),
            (std::vector<std::string>{"10=/a,yy,T,1,x", "515=" + captures_ + ",hhnn,F,0,a,b,c",
                                      "9100=/cap,yymmdd,F,0,"}));
  EXPECT_EQ(TIniFile(settingsPath_).ReadNumber("Window", "Top", 0), 5);
  EXPECT_FALSE(TIniFile(settingsPath_).ReadFlag("File", "DeleteIfEmpty", true));

  list_->CreateRows();
  EXPECT_EQ(list_->Cell(2, 5), "a,b,c");
}

TEST_F(PortListTest, OkWithNoRowsLeavesNoPortEntries) {
  Open("[Ports]\n9100=/cap,yymmdd,F,0,\n[File]\nDeleteIfEmpty=0\n");
  list_->btnDeleteClick();
  list_->BitBtn1Click();
  EXPECT_TRUE(StoredEntries().empty());
  EXPECT_FALSE(TIniFile(settingsPath_).ReadFlag("File", "DeleteIfEmpty", true));
}

TEST_F(PortListTest, AFailedSaveIsShownAndTheDialogStillClosesWithOk) {
  Open("[Ports]\n9100=/cap,yymmdd,F,0,\n");
  const std::string unwritable = folder_.FilePath("missing/tarnock.ini");
  TForm2 list(unwritable);
  list.Attach(&editor_, &help_);
  list.show();
  TModalScript<TForm3> script(editor_);
  script.Then(Enter({"10", "hh", false, 0, ""}));
  list.btnAddClick();
  list.BitBtn1Click();
  EXPECT_EQ(list.result(), QDialog::Accepted);
  ASSERT_EQ(boxes_.Boxes.size(), 1u);
  EXPECT_EQ(boxes_.Boxes[0].Kind, TBoxKind::GeneralError);
  EXPECT_EQ(boxes_.Boxes[0].Text, "Unable to write to " + unwritable + ".");
}

TEST_F(PortListTest, EscapeDoesNotCloseTheDialog) {
  Open("[Ports]\n9100=/cap,yymmdd,F,0,\n");
  QTest::keyClick(list_.get(), Qt::Key_Escape);
  EXPECT_TRUE(list_->isVisible());
}

TEST_F(PortListTest, TabWalksTheControlsAndArrowsStayInTheGrid) {
  Open("[Ports]\n10=/cap,yymmdd,F,0,\n20=/cap,yymmdd,F,0,\n");
  list_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(list_.get()));
  const auto focused = [&] { return list_->focusWidget()->objectName().toStdString(); };
  ASSERT_EQ(focused(), "StringGrid1");

  std::vector<std::string> order;
  for (int i = 0; i < 6; ++i) {
    QTest::keyClick(list_->focusWidget(), Qt::Key_Tab);
    order.push_back(focused());
  }
  EXPECT_EQ(order, (std::vector<std::string>{"BitBtn1", "BitBtn2", "btnAdd", "btnEdit", "btnDelete",
                                             "StringGrid1"}));
  EXPECT_EQ(list_->SelectedRow(), 1) << "Tab moved the selection";
  QTest::keyClick(list_->focusWidget(), Qt::Key_Backtab);
  EXPECT_EQ(focused(), "btnDelete");

  QTest::keyClick(list_->focusWidget(), Qt::Key_Tab);
  QTest::keyClick(list_->focusWidget(), Qt::Key_Down);
  EXPECT_EQ(focused(), "StringGrid1");
  EXPECT_EQ(list_->SelectedRow(), 2);
}

// Enter runs the focused button, and OK from the grid; Space runs the
// focused button too.
TEST_F(PortListTest, EnterAndSpaceRunTheFocusedButtonOrOk) {
  struct Case {
    const char* focus;
    Qt::Key key;
    int editorShowings;
    bool saved;  // OK ran: [Ports] rewritten and the list closed
  };
  const std::vector<Case> cases = {
      {"StringGrid1", Qt::Key_Return, 0, true}, {"StringGrid1", Qt::Key_Enter, 0, true},
      {"btnAdd", Qt::Key_Return, 1, false},     {"btnEdit", Qt::Key_Return, 1, false},
      {"btnAdd", Qt::Key_Space, 1, false},      {"BitBtn1", Qt::Key_Return, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.focus) + " key " + std::to_string(c.key));
    // A second entry for one key: OK rewrites the section with one.
    Open("[Ports]\n9100=/cap,yymmdd,F,0,\n9100=/cap,yymmdd,F,0,\n");
    list_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(list_.get()));
    const std::string before = SettingsText();
    TModalScript<TForm3> editor(editor_);
    editor.Then(Cancel);
    auto* target = list_->findChild<QWidget*>(c.focus);
    target->setFocus(Qt::TabFocusReason);
    QTest::keyClick(target, c.key);
    EXPECT_EQ(editor.Showings, c.editorShowings);
    EXPECT_EQ(SettingsText() != before, c.saved);
    EXPECT_EQ(list_->isVisible(), !c.saved);
    list_->hide();
  }
}

TEST_F(PortListTest, HelpOpensOverTheListAndEnterReturnsToIt) {
  Open("[Ports]\n9100=/cap,yymmdd,F,0,\n");
  const auto before = Rows();
  TModalScript<THelp1> script(help_);
  bool listStayedOpen = false;
  script.Then([&](THelp1& help) {
    listStayedOpen = list_->isVisible();
    QTest::keyClick(help.focusWidget(), Qt::Key_Return);
  });
  list_->BitBtn2Click();
  EXPECT_EQ(script.Showings, 1);
  EXPECT_EQ(script.Unexpected, 0);
  EXPECT_EQ(help_.result(), QDialog::Accepted);
  EXPECT_TRUE(listStayedOpen);
  EXPECT_EQ(Rows(), before);
}

// The dialog's own loop keeps handling socket events: a connection that
// arrives while the list is open is accepted there.
TEST_F(PortListTest, SocketEventsAreHandledWhileTheDialogIsShownModally) {
  WriteSettings("[Ports]\n9100=/cap,yymmdd,F,0,\n");
  list_->CreateRows();
  TWSocket listener;
  listener.SetAddr("127.0.0.1");
  listener.SetPort(std::to_string(FreeLoopbackPort()));
  listener.SetProto("tcp");
  listener.Listen();
  bool acceptedUnderDialog = false;
  listener.OnSessionAvailable = [&](TCustomWSocket* sender, uint16_t) {
    const int accepted = sender->Accept();
    acceptedUnderDialog = list_->isVisible() && accepted >= 0;
    if (accepted >= 0) ::close(accepted);
    list_->done(QDialog::Rejected);
  };
  int client = -1;
  QTimer::singleShot(0, list_.get(), [&] {
    client = ConnectLoopback(static_cast<uint16_t>(std::stoi(listener.Port())));
  });
  QTimer::singleShot(5000, list_.get(), [&] { list_->done(QDialog::Rejected); });
  list_->exec();
  ::close(client);
  EXPECT_TRUE(acceptedUnderDialog);
}

}  // namespace
