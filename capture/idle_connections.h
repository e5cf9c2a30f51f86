#pragma once

#include <QTimer>
#include <chrono>
#include <functional>
#include <list>
#include <map>
#include <unordered_map>
#include <vector>

class TClient;

// Which connections have been silent for their idle limit. One queue per
// limit, each ordered by when its connections were last heard, so hearing
// from one moves it to the back and the idle ones are always at the front:
// every step is constant in the number of connections, and one timer,
// aimed at the earliest front, serves them all.
class TIdleConnections {
 public:
  using TClock = std::chrono::steady_clock;
  using TIdleHandler = std::function<void(const std::vector<TClient*>& idle)>;

  // The handler gets the connections found idle, which are no longer watched.
  explicit TIdleConnections(TIdleHandler onIdle);

  // How long one second of a limit lasts: a second, unless a test cannot
  // wait that long.
  void SetSecond(std::chrono::milliseconds length) { second_ = length; }
  // Watches the session when its job has an idle limit.
  void Watch(TClient& session, TClock::time_point now);
  // Nothing for a connection that is not watched.
  void Heard(const TClient* session, TClock::time_point now);
  void Forget(const TClient* session);

 private:
  struct TEntry {
    TClient* session;
    TClock::time_point lastHeard;
  };
  using TQueue = std::list<TEntry>;
  struct TPlace {
    std::chrono::milliseconds limit;
    TQueue::iterator at;
  };

  void Watch(TClient* session, std::chrono::milliseconds limit, TClock::time_point now);
  // Takes the connections whose limit has run out by now out of the watch.
  std::vector<TClient*> TakeIdle(TClock::time_point now);
  void TimerFired();
  void AimTimer(TClock::time_point now);

  TIdleHandler onIdle_;
  std::chrono::milliseconds second_{1000};
  std::map<std::chrono::milliseconds, TQueue> queues_;
  std::unordered_map<const TClient*, TPlace> places_;
  QTimer timer_;
  TClock::time_point aimedAt_{};
};
