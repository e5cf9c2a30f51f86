#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>

// Runs the event loop until the condition holds or the deadline passes;
// tests wait on conditions, never on fixed sleeps.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 5000) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}
