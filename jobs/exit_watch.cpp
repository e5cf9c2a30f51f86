#include "jobs/exit_watch.h"

#include <QSocketNotifier>
#include <QTimer>
#include <utility>

#include "base/system_calls.h"

TExitWatch::TExitWatch(QObject* owner, pid_t pid, std::function<void()> mayHaveEnded) {
  pidHandle_ = FileCalls().OpenPidHandle(pid);
  if (pidHandle_ >= 0) {
    notifier_ = new QSocketNotifier(pidHandle_, QSocketNotifier::Read, owner);
    QObject::connect(notifier_, &QSocketNotifier::activated, owner, std::move(mayHaveEnded));
    return;
  }
  poll_ = new QTimer(owner);
  QObject::connect(poll_, &QTimer::timeout, owner, std::move(mayHaveEnded));
  poll_->start(kPollMs);
}

TExitWatch::~TExitWatch() {
  delete notifier_;
  delete poll_;
  CloseHandle(pidHandle_);
}
