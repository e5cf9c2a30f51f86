#include <QApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

#include "capture/locale_formats.h"
#include "ui/add_port.h"
#include "ui/main_window.h"
#include "ui/options.h"
#include "ui/port_help.h"

namespace {

// Every connection holds a descriptor; the soft limit is often far below
// what the system allows a process.
void RaiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

int terminationPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(terminationPipe[1], &byte, 1);
  errno = saved;
}

// A terminal's Ctrl+C or a session logout ends the program the way Close
// does, so the placement is saved and every socket is closed. The signal
// handler only writes into a pipe, which the event loop reads on its own
// thread. Catching starts before the listeners open; a signal that comes
// before the loop runs waits in the pipe.
class TTerminationSignals {
 public:
  TTerminationSignals() {
    if (::pipe2(terminationPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(terminationPipe[0], QSocketNotifier::Read);
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
  }

  void EndThrough(TForm1& window) {
    if (!notifier_) return;
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, &window, [&window] {
      char bytes[16];
      while (::read(terminationPipe[0], bytes, sizeof bytes) > 0) {
      }
      window.Close1Click();
    });
  }

 private:
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace

int main(int argc, char** argv) {
  // Nothing is ever sent, but a peer's reset must never end the program.
  std::signal(SIGPIPE, SIG_IGN);
  RaiseOpenFileLimit();
  QApplication application(argc, argv);
  TTerminationSignals terminationSignals;
  LoadLocaleFormats();

  // The main window's creation opens the listeners, before any other window
  // exists; connections that arrive meanwhile wait in the backlog.
  TForm1 form1;
  TForm2 form2(&form1);
  THelp1 help1(&form1);
  TForm3 form3(&form1);
  form2.Attach(&form3, &help1);
  form1.AttachPortList(&form2);
  terminationSignals.EndThrough(form1);

  form1.show();
  return application.exec();
}
