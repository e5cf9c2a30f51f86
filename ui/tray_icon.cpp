#include "ui/tray_icon.h"

#include <QAction>
#include <QEvent>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>
#include <utility>

#include "ui/window_style.h"

TTrayIcon::TTrayIcon(QWidget* window, QAction* keepInTray, THandlers handlers)
    : QObject(window),
      window_(window),
      handlers_(std::move(handlers)),
      menu_(new QMenu(window)),
      icon_(new QSystemTrayIcon(ProgramIcon(), this)) {
  menu_->setObjectName("TrayMenu");
  BuildMenu(keepInTray);
  icon_->setContextMenu(menu_);
  connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
    if (why == QSystemTrayIcon::Trigger) ToggleWindow();
  });
  window_->installEventFilter(this);
  FollowWindow();
  icon_->show();
}

// The icon leaves the tray with the program, not a moment later.
TTrayIcon::~TTrayIcon() { icon_->hide(); }

void TTrayIcon::BuildMenu(QAction* keepInTray) {
  showHide_ = menu_->addAction(kHideText);
  showHide_->setObjectName("TrayShowHide");
  connect(showHide_, &QAction::triggered, this, [this] { ToggleWindow(); });
  menu_->addAction(keepInTray);
  menu_->addSeparator();
  // The Job List entry goes here, above Quit, once that window exists.
  QAction* quit = menu_->addAction(kQuitText);
  quit->setObjectName("TrayQuit");
  connect(quit, &QAction::triggered, this, [this] { handlers_.Quit(); });
}

void TTrayIcon::SetStatus(const QString& caption, const QString& lastJobFile) {
  QString text = caption;
  if (!lastJobFile.isEmpty()) text += "\nLast job: " + lastJobFile;
  // Desktops redraw the tooltip, some even the icon, at every change.
  if (text != icon_->toolTip()) icon_->setToolTip(text);
}

QString TTrayIcon::ToolTip() const { return icon_->toolTip(); }

bool TTrayIcon::IsShown() const { return icon_->isVisible(); }

bool TTrayIcon::WindowIsUp() const {
  return window_->isVisible() && !(window_->windowState() & Qt::WindowMinimized);
}

void TTrayIcon::ToggleWindow() {
  if (WindowIsUp())
    handlers_.HideWindow();
  else
    handlers_.ShowWindow();
}

void TTrayIcon::FollowWindow() { showHide_->setText(WindowIsUp() ? kHideText : kShowText); }

bool TTrayIcon::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (watched == window_ &&
      (type == QEvent::Show || type == QEvent::Hide || type == QEvent::WindowStateChange))
    FollowWindow();
  return QObject::eventFilter(watched, event);
}
