#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QWidget;

// The program's icon in the desktop's system tray while the program runs.
// Its tooltip repeats the main window's caption and names the last job; its
// menu shows or hides the main window, keeps the program running in the
// tray when the window closes, and ends the program.
class TTrayIcon : public QObject {
 public:
  struct THandlers {
    std::function<void()> ShowWindow;
    std::function<void()> HideWindow;
    std::function<void()> Quit;
  };

  static constexpr const char* kShowText = "Show";
  static constexpr const char* kHideText = "Hide";
  static constexpr const char* kQuitText = "Quit";

  // The window whose state the Show/Hide entry follows, and the checked
  // entry that the window's Jobs menu shares, so both show the same mark.
  TTrayIcon(QWidget* window, QAction* keepInTray, THandlers handlers);
  ~TTrayIcon() override;

  // The caption, and under it "Last job: <file>" once a job has ended.
  void SetStatus(const QString& caption, const QString& lastJobFile);
  QString ToolTip() const;
  QMenu* Menu() const { return menu_; }
  // Whether the desktop shows the icon now.
  bool IsShown() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenu(QAction* keepInTray);
  // Shows the window when it is hidden or minimized, hides it otherwise.
  void ToggleWindow();
  bool WindowIsUp() const;
  void FollowWindow();

  QWidget* window_;
  THandlers handlers_;
  QMenu* menu_;
  QAction* showHide_ = nullptr;
  QSystemTrayIcon* icon_;
};
