#include "ui/capture_opener.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTextBlock>
#include <QUrl>
#include <memory>

#include "base/paths.h"
#include "capture/log_lines.h"
#include "ui/message_box.h"

namespace {

std::string CaptureOfBlock(const QTextBlock& block) {
  return CaptureFileNamedIn(block.text().toStdString()).value_or("");
}

// What is said when a file or a folder is not opened.
struct TOpenTexts {
  const char* Missing;
  const char* NoProgram;
};

constexpr TOpenTexts kFileTexts{"File not found: ",
                                ": no program to open files is set up (install xdg-utils)."};
constexpr TOpenTexts kFolderTexts{"Folder not found: ",
                                  ": no program to open folders is set up (install xdg-utils)."};

// The platform's own way first: it knows a sandbox's portal and the
// desktop's launchers. Where it has none (a platform without a desktop,
// such as the one the user service runs on, or no launcher found), the
// desktop's standard opener is started directly; both fail when it is not
// installed.
bool OpenWithDesktop(const std::string& path) {
  const QString text = QString::fromStdString(path);
  return QDesktopServices::openUrl(QUrl::fromLocalFile(text)) ||
         QProcess::startDetached("xdg-open", {text});
}

void OpenPath(QWidget* parent, const std::string& path, bool present, const TOpenTexts& texts) {
  if (!present) return ShowErrorBox(parent, texts.Missing + path);
  if (!OpenWithDesktop(path)) ShowErrorBox(parent, "Nothing opened " + path + texts.NoProgram);
}

// The pane's double click, Enter and menu entries are event handlers of
// their own, outside the main window's.
void OpenAtEventEdge(QWidget* parent, const std::string& path,
                     void (*open)(QWidget*, const std::string&)) {
  AtEventEdge(parent, [parent, &path, open] { open(parent, path); });
}

}  // namespace

void OpenCaptureFile(QWidget* parent, const std::string& path) {
  OpenPath(parent, path, FileIsPresent(path), kFileTexts);
}

void OpenCaptureFolder(QWidget* parent, const std::string& folder) {
  OpenPath(parent, folder, DirectoryIsPresent(folder), kFolderTexts);
}

TCaptureOpener::TCaptureOpener(QPlainTextEdit* pane)
    : QObject(pane), pane_(pane), viewport_(pane->viewport()) {
  pane_->installEventFilter(this);
  viewport_->installEventFilter(this);
}

std::string TCaptureOpener::CaptureAtCursor() const {
  return CaptureOfBlock(pane_->textCursor().block());
}

std::string TCaptureOpener::CaptureAt(const QPoint& point) const {
  return CaptureOfBlock(pane_->cursorForPosition(point).block());
}

// Only the pointers are compared before the event's type is known: events
// also arrive while the pane is being destroyed.
bool TCaptureOpener::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonDblClick && watched == viewport_) {
    const std::string file = CaptureAt(static_cast<QMouseEvent*>(event)->position().toPoint());
    if (file.empty()) return false;
    OpenAtEventEdge(pane_->window(), file, OpenCaptureFile);
    return true;
  }
  if (event->type() == QEvent::KeyPress && watched == pane_) {
    const auto* keyEvent = static_cast<QKeyEvent*>(event);
    if (keyEvent->key() == Qt::Key_F10 && keyEvent->modifiers() == Qt::ShiftModifier)
      return OpenKeyboardMenu();
    const int key = keyEvent->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
    const std::string file = CaptureAtCursor();
    if (file.empty()) return false;
    OpenAtEventEdge(pane_->window(), file, OpenCaptureFile);
    return true;
  }
  if (event->type() == QEvent::ContextMenu && (watched == viewport_ || watched == pane_)) {
    const auto* menuEvent = static_cast<QContextMenuEvent*>(event);
    // The mouse's menu belongs to the line clicked in the viewport; the
    // keyboard's to the text cursor's line.
    const bool fromKeyboard = menuEvent->reason() == QContextMenuEvent::Keyboard;
    if (!fromKeyboard && watched != viewport_) return false;
    const QPoint point = fromKeyboard ? pane_->cursorRect().center() : menuEvent->pos();
    if (CaptureAt(point).empty()) return false;
    ShowMenu(point);
    return true;
  }
  return false;
}

void TCaptureOpener::ShowMenu(const QPoint& point) {
  const std::string file = CaptureAt(point);
  QMenu menu(pane_);
  menu.setObjectName("CaptureMenu");
  QWidget* parent = pane_->window();
  menu.addAction("Open File", [parent, file] { OpenAtEventEdge(parent, file, OpenCaptureFile); });
  menu.addAction("Open Folder", [parent, file] {
    OpenAtEventEdge(parent, DirectoryPart(file), OpenCaptureFolder);
  });
  menu.addAction("Copy Path",
                 [file] { QApplication::clipboard()->setText(QString::fromStdString(file)); });
  // The pane's own entries stay below ours: Copy of a selection, Select All.
  const std::unique_ptr<QMenu> standard(pane_->createStandardContextMenu(point));
  menu.addSeparator();
  menu.addActions(standard->actions());
  menu.exec(viewport_->mapToGlobal(point));
}

// Shift+F10 asks for the menu the Menu key opens, at the text cursor: a
// capture line's own, or the pane's.
bool TCaptureOpener::OpenKeyboardMenu() {
  const QPoint point = viewport_->mapTo(pane_, pane_->cursorRect().center());
  QContextMenuEvent menuEvent(QContextMenuEvent::Keyboard, point, pane_->mapToGlobal(point));
  QApplication::sendEvent(pane_, &menuEvent);
  return true;
}
