#include "ui/frame_placement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <utility>

namespace {

// The window manager frames a window before it maps it, so the frame is
// known by the time the window is moved into it, painted or activated.
bool MaySignalAFrame(QEvent::Type type) {
  return type == QEvent::Move || type == QEvent::Resize || type == QEvent::Paint ||
         type == QEvent::WindowActivate;
}

bool IsNormal(const QWidget* window) {
  return !(window->windowState() &
           (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
}

}  // namespace

TFramePlacement::TFramePlacement(QWidget* window, TOuterRect wanted)
    : QObject(window), window_(window), wanted_(std::move(wanted)) {
  window_->installEventFilter(this);
}

// Asked of the window system: the widget's own copy of the frame is brought
// up to date only when the inner area moves, which a window manager that
// frames a window around its inner area never does.
QMargins TFramePlacement::Frame() const {
  const QWindow* handle = window_->windowHandle();
  if (handle && window_->isVisible()) lastFrame_ = handle->frameMargins();
  return lastFrame_;
}

QRect TFramePlacement::Outer() const { return window_->geometry().marginsAdded(Frame()); }

// The inner area is placed by the frame's known size: that works whichever
// way the window system reads a position, as the frame's or the inner
// area's, and keeps the widget's own geometry the one the window gets when
// it is shown.
void TFramePlacement::MoveFrameTo(QPoint corner) {
  const QMargins frame = Frame();
  window_->setGeometry(QRect(corner + QPoint(frame.left(), frame.top()), window_->size()));
}

void TFramePlacement::ResizeFrameTo(QSize outer) {
  window_->resize(outer.shrunkBy(Frame()).expandedTo(QSize(0, 0)));
}

QRect TFramePlacement::CentredOnScreen(const QWidget* window, QSize outer) {
  const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  const QRect area = screen ? screen->geometry() : QRect();
  const int left = std::max(0, (area.width() - outer.width()) / 2);
  const int top = std::max(0, (area.height() - outer.height()) / 2);
  return {area.topLeft() + QPoint(left, top), outer};
}

void TFramePlacement::Place() {
  Apply();
  waitingForFrame_ = applied_.isNull();
}

void TFramePlacement::Apply() {
  applied_ = Frame();
  const QRect outer = wanted_(applied_);
  if (Outer().size() != outer.size()) ResizeFrameTo(outer.size());
  MoveFrameTo(outer.topLeft());
}

bool TFramePlacement::eventFilter(QObject* watched, QEvent* event) {
  if (watched == window_ && waitingForFrame_ && MaySignalAFrame(event->type()) &&
      IsNormal(window_) && Frame() != applied_)
    Place();
  return false;
}
