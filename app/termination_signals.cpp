#include "app/termination_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

#include "ui/main_window.h"

namespace {

int terminationPipe[2] = {-1, -1};
std::atomic<bool> endRequested{false};

void OnTerminationSignal(int number) {
  // A repeated hangup is only the terminal going away in steps; a repeated
  // interrupt or termination is someone who will not wait any longer.
  if (endRequested.exchange(true) && number != SIGHUP) {
    std::signal(number, SIG_DFL);
    std::raise(number);
    return;
  }
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(terminationPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

TTerminationSignals::TTerminationSignals() {
  if (::pipe2(terminationPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(terminationPipe[0], QSocketNotifier::Read);
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction previous {};
    sigaction(number, nullptr, &previous);
    // Started through nohup, the program is meant to outlive its terminal.
    if (number == SIGHUP && previous.sa_handler == SIG_IGN) continue;
    sigaction(number, &action, nullptr);
  }
}

void TTerminationSignals::EndThrough(TForm1& window) {
  if (!notifier_) return;
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, &window, [&window] {
    char bytes[16];
    while (::read(terminationPipe[0], bytes, sizeof bytes) > 0) {
    }
    window.EndOnSignal();
  });
}
