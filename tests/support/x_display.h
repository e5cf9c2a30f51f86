#pragma once

#include <QProcess>
#include <QRect>
#include <QStringList>
#include <optional>
#include <string>

// A private X server with a window manager that frames windows as a desktop
// does, so tests can type and click into the real windows of the program and
// measure their frames.
class TXDisplay {
 public:
  TXDisplay() = default;
  ~TXDisplay();
  TXDisplay(const TXDisplay&) = delete;
  TXDisplay& operator=(const TXDisplay&) = delete;

  // Whether an X server can start here at all.
  static bool Available();
  // True once a server runs on a free display it picked itself and the
  // window manager has taken over its screen. On a busy machine any step can
  // fail (another server wins the display number, a process is slow to come
  // up): every step is tried again on a fresh display until a minute is up.
  bool Start(int width, int height);

  const std::string& Name() const { return name_; }

 private:
  bool StartServer();
  bool StartWindowManager();
  void StopAll();

  QProcess server_;
  QProcess windowManager_;
  std::string name_;
  int width_ = 0;
  int height_ = 0;
};

// The X command-line tools against one display.
class TXTools {
 public:
  // Every tool the display tests need: input, window search and properties.
  static std::optional<std::string> MissingTool();

  explicit TXTools(std::string display) : display_(std::move(display)) {}

  // A tool's standard output with blanks trimmed.
  std::string Run(const QString& tool, const QStringList& arguments) const;

  // The first visible window whose caption matches the pattern, once it is
  // there; empty when it doesn't come within the time.
  std::string WaitForWindow(const QString& caption, int timeoutMs) const;
  bool WaitForWindowGone(const QString& caption, int timeoutMs) const;

  void Focus(const std::string& window) const;
  void Keys(const QStringList& keys) const;
  void Type(const std::string& text) const;
  // Clicks at x, y inside the window's own area.
  void Click(const std::string& window, int x, int y) const;

  // The window's outer frame on the screen, from its own area and the frame
  // extents the window manager announces; none before it has framed it.
  std::optional<QRect> OuterFrame(const std::string& window) const;

 private:
  std::string display_;
};
