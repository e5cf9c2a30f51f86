#include "ui/frame_placement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <utility>

namespace {

bool IsNormal(const QWidget* window) {
  return !(window->windowState() &
           (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
}

// Hidden, maximized or minimized, the window is no longer the first
// placement's.
bool EndsTheFirstPlacement(const QEvent& event, const QWidget* window) {
  return event.type() == QEvent::Hide ||
         (event.type() == QEvent::WindowStateChange && !IsNormal(window));
}

// What the window system reports, as opposed to what the program has just
// asked for: the widget's own geometry changes at once when a move is asked
// for, before the window manager has carried it out.
bool IsReported(const QEvent& event, QEvent::Type type) {
  return event.spontaneous() && event.type() == type;
}

// A frame that shows up around the window in place moves nothing; the
// window's activation then is the first report after it.
bool ReportsPlacement(const QEvent& event) {
  return IsReported(event, QEvent::Move) || IsReported(event, QEvent::Resize) ||
         IsReported(event, QEvent::WindowActivate);
}

}  // namespace

TFramePlacement::TFramePlacement(QWidget* window, TOuterRect wanted)
    : QObject(window), window_(window), wanted_(std::move(wanted)) {
  window_->installEventFilter(this);
}

// Asked of the window system: the widget's own copy of the frame is brought
// up to date only when the inner area moves, which a window manager that
// frames a window around its inner area never does. While the window manager
// is still building the frame, before it announces the frame's extents, the
// window system measures a frame smaller than the window and so a negative
// side; that is no frame yet.
QMargins TFramePlacement::Frame() const {
  const QWindow* handle = window_->windowHandle();
  if (!handle || !window_->isVisible()) return lastFrame_;
  const QMargins frame = handle->frameMargins();
  if (frame.left() >= 0 && frame.top() >= 0 && frame.right() >= 0 && frame.bottom() >= 0)
    lastFrame_ = frame;
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

QRect TFramePlacement::FittedInto(const QRect& outer, const QRect& area) {
  if (area.isEmpty()) return outer;
  const int height = std::min(outer.height(), area.height());
  const int left =
      std::max(area.left(), std::min(outer.left(), area.left() + area.width() - outer.width()));
  const int top = std::max(area.top(), std::min(outer.top(), area.top() + area.height() - height));
  return {left, top, outer.width(), height};
}

QRect TFramePlacement::FittedOnScreen(const QWidget* window, const QRect& outer) {
  const QScreen* screen = QGuiApplication::screenAt(outer.center());
  if (!screen) screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  return screen ? FittedInto(outer, screen->availableGeometry()) : outer;
}

void TFramePlacement::Place() {
  placements_ = 0;
  exposed_ = false;
  Apply();
  waitingForFrame_ = true;
}

void TFramePlacement::Finish() { waitingForFrame_ = false; }

void TFramePlacement::Apply() {
  ++placements_;
  const QRect outer = wanted_(Frame());
  if (Outer().size() != outer.size()) ResizeFrameTo(outer.size());
  MoveFrameTo(outer.topLeft());
}

// The window manager frames and moves the window while it takes it over, and
// a placement asked for meanwhile may be lost; so the frame is placed again
// once the window is first exposed, by then fully in the window manager's
// hands, and again whenever the window system reports it elsewhere, until it
// reports it in place. A window manager that insists on another place wins
// after a few rounds.
bool TFramePlacement::eventFilter(QObject* watched, QEvent* event) {
  if (watched != window_ || !waitingForFrame_) return false;
  if (EndsTheFirstPlacement(*event, window_)) {
    waitingForFrame_ = false;
    return false;
  }
  const bool firstExposure = !exposed_ && IsReported(*event, QEvent::Paint);
  exposed_ = exposed_ || firstExposure;
  if (!exposed_ || !(firstExposure || ReportsPlacement(*event)) || !IsNormal(window_)) return false;
  const QMargins frame = Frame();
  if (Outer() == wanted_(frame))
    waitingForFrame_ = frame.isNull();
  else if (placements_ < kMostPlacements)
    Apply();
  return false;
}
