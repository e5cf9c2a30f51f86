#pragma once

#include <QSocketNotifier>
#include <memory>

class TForm1;

// A terminal's Ctrl+C, a closed terminal or a service manager's stop ends the
// program the way Close does, so the placement is saved and every socket is
// closed. The signal handler only writes into a pipe, which the event loop
// reads on its own thread. Catching starts before the listeners open; a
// signal that comes before the loop runs waits in the pipe. A second SIGINT
// or SIGTERM ends the program at once, whatever the first is still waiting
// for.
class TTerminationSignals {
 public:
  TTerminationSignals();

  void EndThrough(TForm1& window);

 private:
  std::unique_ptr<QSocketNotifier> notifier_;
};
