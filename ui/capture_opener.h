#pragma once

#include <QObject>
#include <string>

class QPlainTextEdit;
class QPoint;
class QWidget;

// Makes every capture that the message log names a click away: a double
// click or Enter on a size line opens its file with the desktop's default
// application, and the context menu of such a line (the mouse's, the Menu
// key's or Shift+F10's) offers Open File, Open Folder and Copy Path above the
// pane's own Copy and Select All. Every other line keeps the pane's own
// behaviour.
class TCaptureOpener : public QObject {
  Q_OBJECT

 public:
  explicit TCaptureOpener(QPlainTextEdit* pane);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The capture file of the line at the text cursor or at a point.
  std::string CaptureAtCursor() const;
  std::string CaptureAt(const QPoint& point) const;
  void ShowMenu(const QPoint& point);
  bool OpenKeyboardMenu();

  QPlainTextEdit* pane_;
  QWidget* viewport_;
};

// Opens the file, or the folder, with the desktop's default application; a
// path that no longer exists, or one that no program could be started for,
// gets an error box instead.
void OpenCaptureFile(QWidget* parent, const std::string& path);
void OpenCaptureFolder(QWidget* parent, const std::string& folder);
