#include "support/x_display.h"

#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>

#include "support/wait.h"

namespace {

constexpr qint64 kStartBudgetMs = 60000;

void Stop(QProcess& process) {
  if (process.state() == QProcess::NotRunning) return;
  process.terminate();
  if (!process.waitForFinished(5000)) process.kill();
  process.waitForFinished(5000);
}

QProcessEnvironment WithDisplay(const std::string& display) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("DISPLAY", QString::fromStdString(display));
  return environment;
}

// The first whole number after `label` in xwininfo's report.
std::optional<int> NumberAfter(const QString& report, const QString& label) {
  const QRegularExpressionMatch match =
      QRegularExpression(QRegularExpression::escape(label) + R"(\s*(-?\d+))").match(report);
  if (!match.hasMatch()) return std::nullopt;
  return match.captured(1).toInt();
}

}  // namespace

TXDisplay::~TXDisplay() { StopAll(); }

void TXDisplay::StopAll() {
  Stop(windowManager_);
  Stop(server_);
}

bool TXDisplay::Available() { return !QStandardPaths::findExecutable("Xvfb").isEmpty(); }

bool TXDisplay::Start(int width, int height) {
  width_ = width;
  height_ = height;
  if (!Available()) return false;
  QElapsedTimer elapsed;
  elapsed.start();
  while (elapsed.elapsed() < kStartBudgetMs) {
    if (StartServer() && StartWindowManager()) return true;
    StopAll();
  }
  return false;
}

bool TXDisplay::StartServer() {
  server_.start("Xvfb", {"-displayfd", "1", "-screen", "0",
                         QString("%1x%2x24").arg(width_).arg(height_), "-nolisten", "tcp", "-ac"});
  if (!server_.waitForStarted(5000)) return false;
  std::string reported;
  WaitUntil(
      [&] {
        reported += server_.readAllStandardOutput().toStdString();
        return reported.find('\n') != std::string::npos || server_.state() == QProcess::NotRunning;
      },
      10000);
  const size_t end = reported.find('\n');
  if (end == std::string::npos || end == 0 || server_.state() == QProcess::NotRunning) return false;
  name_ = ":" + reported.substr(0, end);
  return true;
}

// The window manager announces itself on the root window once it manages the
// screen; windows mapped before that would go unframed. A server that lost
// the race for its display number to another one starting at the same moment
// refuses the window manager.
bool TXDisplay::StartWindowManager() {
  windowManager_.setProcessEnvironment(WithDisplay(name_));
  windowManager_.setProcessChannelMode(QProcess::MergedChannels);
  windowManager_.start("openbox", {});
  if (!windowManager_.waitForStarted(5000)) return false;
  const TXTools tools(name_);
  const bool managing = WaitUntil(
      [&] {
        return windowManager_.state() == QProcess::NotRunning ||
               tools.Run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).find("window id") !=
                   std::string::npos;
      },
      10000);
  return managing && windowManager_.state() != QProcess::NotRunning;
}

std::optional<std::string> TXTools::MissingTool() {
  for (const char* tool : {"openbox", "xdotool", "xprop", "xwininfo"})
    if (QStandardPaths::findExecutable(tool).isEmpty()) return tool;
  return std::nullopt;
}

std::string TXTools::Run(const QString& tool, const QStringList& arguments) const {
  QProcess process;
  process.setProcessEnvironment(WithDisplay(display_));
  process.start(tool, arguments);
  process.waitForFinished(10000);
  return process.readAllStandardOutput().trimmed().toStdString();
}

std::string TXTools::WaitForWindow(const QString& caption, int timeoutMs) const {
  std::string window;
  WaitUntil(
      [&] {
        window = Run("xdotool", {"search", "--onlyvisible", "--name", caption});
        window = window.substr(0, window.find('\n'));
        return !window.empty();
      },
      timeoutMs);
  return window;
}

bool TXTools::WaitForWindowGone(const QString& caption, int timeoutMs) const {
  return WaitUntil(
      [&] {
        return Run("xdotool", {"search", "--onlyvisible", "--name", caption}).empty();
      },
      timeoutMs);
}

void TXTools::Focus(const std::string& window) const {
  Run("xdotool", {"windowactivate", "--sync", QString::fromStdString(window)});
}

void TXTools::Keys(const QStringList& keys) const {
  Run("xdotool", QStringList{"key", "--delay", "50"} + keys);
}

void TXTools::Type(const std::string& text) const {
  Run("xdotool", {"type", "--delay", "20", QString::fromStdString(text)});
}

// No --sync: it would wait forever for a pointer that is already there. The
// server takes the move and the click in the order they are sent.
void TXTools::Click(const std::string& window, int x, int y) const {
  Run("xdotool", {"mousemove", "--window", QString::fromStdString(window), QString::number(x),
                  QString::number(y), "click", "1"});
}

std::optional<QRect> TXTools::OuterFrame(const std::string& window) const {
  const QString id = QString::fromStdString(window);
  const QString extents = QString::fromStdString(Run("xprop", {"-id", id, "_NET_FRAME_EXTENTS"}));
  const QRegularExpressionMatch frame =
      QRegularExpression(R"(= (\d+), (\d+), (\d+), (\d+))").match(extents);
  if (!frame.hasMatch()) return std::nullopt;
  const QString area = QString::fromStdString(Run("xwininfo", {"-id", id}));
  const auto x = NumberAfter(area, "Absolute upper-left X:");
  const auto y = NumberAfter(area, "Absolute upper-left Y:");
  const auto width = NumberAfter(area, "Width:");
  const auto height = NumberAfter(area, "Height:");
  if (!x || !y || !width || !height) return std::nullopt;
  const int left = frame.captured(1).toInt(), right = frame.captured(2).toInt();
  const int top = frame.captured(3).toInt(), bottom = frame.captured(4).toInt();
  return QRect(*x - left, *y - top, *width + left + right, *height + top + bottom);
}
