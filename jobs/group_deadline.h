#pragma once

#include <sys/types.h>

#include <QObject>
#include <chrono>

class QTimer;

// Holds a process group we started to its time: SIGTERM to the group once
// the limit has run out or Terminate is called, SIGKILL once the grace after
// that has run out too. The owner drops it as soon as the process is reaped,
// so that no signal goes to a group that is no longer ours.
class TGroupDeadline {
 public:
  // The timer is a child of the owner, whose thread calls.
  TGroupDeadline(QObject* owner, pid_t group, std::chrono::milliseconds limit,
                 std::chrono::milliseconds grace);
  ~TGroupDeadline();

  TGroupDeadline(const TGroupDeadline&) = delete;
  TGroupDeadline& operator=(const TGroupDeadline&) = delete;

  // Asks the group to end now, with the grace before SIGKILL; once is enough.
  void Terminate();
  bool Terminating() const { return terminating_; }
  // The limit ran out before anybody asked the group to end.
  bool TimedOut() const { return timedOut_; }

 private:
  void Passed();

  const pid_t group_;
  const std::chrono::milliseconds grace_;
  QTimer* timer_;
  bool terminating_ = false;
  bool timedOut_ = false;
};
