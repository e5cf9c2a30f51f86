#include "ui/frame_placement.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/wait.h"
#include "ui/add_port.h"
#include "ui/message_box.h"
#include "ui/options.h"
#include "ui/port_help.h"

namespace {

QRect Centred(QSize outer) {
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  return {QPoint((screen.width() - outer.width()) / 2, (screen.height() - outer.height()) / 2),
          outer};
}

// The frame, not the inner area, is where each dialog's design puts it; a
// later showing finds the dialog where the operator moved it.
TEST(FramePlacementTest, DialogsOpenWithTheirFramesAtTheirDesignPlaces) {
  struct Case {
    const char* name;
    std::function<std::unique_ptr<QDialog>()> make;
    std::function<QRect(const QDialog&)> expected;
  };
  const std::vector<Case> cases = {
      {"port editor", [] { return std::make_unique<TForm3>(); },
       [](const QDialog&) { return QRect(336, 186, 243, 265); }},
      {"help", [] { return std::make_unique<THelp1>(); },
       [](const QDialog& help) { return QRect(QPoint(200, 108), help.frameGeometry().size()); }},
      {"port list", [] { return std::make_unique<TForm2>("/nonexistent/tarnock.ini"); },
       [](const QDialog& list) { return Centred(list.frameGeometry().size()); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::unique_ptr<QDialog> dialog = c.make();
    const QSize inner = dialog->size();
    dialog->show();
    ASSERT_TRUE(WaitUntil([&] { return dialog->isVisible(); }));
    EXPECT_EQ(dialog->frameGeometry(), c.expected(*dialog));
    EXPECT_NE(dialog->frameGeometry().size(), dialog->size()) << "the frame counts";
    if (dialog->minimumSize() == dialog->maximumSize()) {
      EXPECT_EQ(dialog->size(), inner) << "a fixed dialog keeps its inner size";
    }

    dialog->hide();
    dialog->move(20, 30);
    dialog->show();
    EXPECT_EQ(dialog->frameGeometry().topLeft(), QPoint(20, 30));
  }
}

// Boxes stand in the middle of the screen, not over the dialog that raised
// them, which here sits near the screen's corner.
TEST(FramePlacementTest, MessageBoxesAreCentredOnTheScreen) {
  struct Case {
    const char* name;
    std::function<void(QWidget*)> show;
  };
  const std::vector<Case> cases = {
      {"error", [](QWidget* parent) { ShowErrorBox(parent, "Please Enter all Data"); }},
      {"confirmation", [](QWidget* parent) { ConfirmBox(parent, "Delete port 9100"); }},
  };
  THelp1 parent;
  parent.show();
  ASSERT_TRUE(WaitUntil([&] { return parent.isVisible(); }));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QRect frame;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box || !box->isVisible()) return;
      frame = box->frameGeometry();
      box->accept();
    });
    closer.start(10);
    c.show(&parent);
    ASSERT_FALSE(frame.isNull());
    EXPECT_EQ(frame, Centred(frame.size()));
  }
}

}  // namespace
