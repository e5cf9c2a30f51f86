#include "jobs/group_deadline.h"

#include <signal.h>

#include <QTimer>

#include "base/system_calls.h"

TGroupDeadline::TGroupDeadline(QObject* owner, pid_t group, std::chrono::milliseconds limit,
                               std::chrono::milliseconds grace)
    : group_(group), grace_(grace), timer_(new QTimer(owner)) {
  timer_->setSingleShot(true);
  QObject::connect(timer_, &QTimer::timeout, owner, [this] { Passed(); });
  timer_->start(limit);
}

TGroupDeadline::~TGroupDeadline() { delete timer_; }

void TGroupDeadline::Terminate() {
  if (terminating_) return;
  terminating_ = true;
  FileCalls().Signal(-group_, SIGTERM);
  timer_->start(grace_);
}

void TGroupDeadline::Passed() {
  if (terminating_) {
    FileCalls().Signal(-group_, SIGKILL);
    return;
  }
  timedOut_ = true;
  Terminate();
}
