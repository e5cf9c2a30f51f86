#pragma once

#include <sys/types.h>

#include <QObject>
#include <functional>

class QSocketNotifier;
class QTimer;

// Tells, through the event loop, when a process we started may have ended,
// so that nobody waits for it: through a pidfd where the kernel offers one,
// else by a look every kPollMs. The call may come more than once; the owner
// reaps the process without waiting and stops the watch once it has.
class TExitWatch {
 public:
  static constexpr int kPollMs = 50;

  // The notifier or the timer is a child of the owner, whose thread calls.
  TExitWatch(QObject* owner, pid_t pid, std::function<void()> mayHaveEnded);
  // Stops watching and closes the pidfd.
  ~TExitWatch();

  TExitWatch(const TExitWatch&) = delete;
  TExitWatch& operator=(const TExitWatch&) = delete;

 private:
  int pidHandle_ = -1;
  QSocketNotifier* notifier_ = nullptr;
  QTimer* poll_ = nullptr;
};
