#pragma once

#include <QMargins>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <functional>

class QWidget;

// Places a top-level window by its outer frame, title bar and borders
// included. The window manager adds the frame only after the window is first
// mapped, so what the frame takes is unknown when the window is shown; the
// first placement is made at once with what is known and made again as soon
// as the frame appears.
class TFramePlacement : public QObject {
 public:
  // The outer rectangle wanted at the first showing for a window whose frame
  // takes `frame` on each side.
  using TOuterRect = std::function<QRect(const QMargins& frame)>;

  // Owned by the window.
  TFramePlacement(QWidget* window, TOuterRect wanted);

  // Places the window now and again as the window manager frames it, until
  // the frame has settled. Later moves and resizes are the operator's and
  // stay as they are.
  void Place();
  // Ends the placement that Place began: the owner places the window itself
  // from now on.
  void Finish();

  // What the frame takes on each side: nothing before the window is framed,
  // and what it took when last seen while the window is hidden, since the
  // window manager drops the frame of a hidden window.
  QMargins Frame() const;
  // The window's frame in screen pixels.
  QRect Outer() const;
  // Moves the window so that its frame's top left corner is at `corner`.
  void MoveFrameTo(QPoint corner);
  // Resizes the window so that its frame has the given size.
  void ResizeFrameTo(QSize outer);

  // A frame of the given size centred on the window's screen, never above or
  // left of the screen's corner.
  static QRect CentredOnScreen(const QWidget* window, QSize outer);
  // The frame moved, and its height cut, until it lies within the area;
  // left at the area's left edge when it is wider than the area.
  static QRect FittedInto(const QRect& outer, const QRect& area);
  // FittedInto the available area of the screen under the frame's centre,
  // or of the window's screen when no screen is there.
  static QRect FittedOnScreen(const QWidget* window, const QRect& outer);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  static constexpr int kMostPlacements = 8;

  void Apply();

  QWidget* window_;
  TOuterRect wanted_;
  mutable QMargins lastFrame_;
  int placements_ = 0;
  bool exposed_ = false;
  bool waitingForFrame_ = false;
};
