#pragma once

#include <string>

// What the capture monitor needs of the main window: two line panes, the
// caption, the Delete if Empty mark and the window's placement. The main
// window implements it; monitor tests use a fake.
class TMonitorWindow {
 public:
  virtual ~TMonitorWindow() = default;

  // Port log: cleared at every start, lines appended.
  virtual void ClearPortLog() = 0;
  virtual void AppendPortLine(const std::string& line) = 0;

  // Message log: never cleared, trimmed from the top after a session close.
  // A line may hold CR LF (socket error messages); it then shows as two
  // lines and counts as two.
  virtual void AppendMessageLine(const std::string& line) = 0;
  virtual int MessageLineCount() const = 0;
  virtual void DeleteFirstMessageLines(int count) = 0;

  virtual void SetCaption(const std::string& caption) = 0;

  // The check state of the Delete if Empty menu entry.
  virtual bool DeleteIfEmpty() const = 0;
  virtual void SetDeleteIfEmpty(bool on) = 0;

  // Placement in pixels; saved only while the window is in its normal state
  // (neither minimized nor maximized).
  virtual int Top() const = 0;
  virtual int Left() const = 0;
  virtual int Height() const = 0;
  virtual void SetTop(int top) = 0;
  virtual void SetLeft(int left) = 0;
  virtual void SetHeight(int height) = 0;
  virtual bool IsNormalState() const = 0;
  // Top, Left and Height have all been set from the settings file; a window
  // may now adjust the placement as a whole, such as to keep it on screen.
  virtual void PlacementApplied() {}
};
