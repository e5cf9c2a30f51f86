#include "net/notification_sink.h"

#include <sys/epoll.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <unordered_map>

#include "net/socket_calls.h"
#include "net/wsocket.h"

namespace {

struct TRegistration {
  int handle;
  TCustomWSocket* owner;
  // What the owner is notified of: reads (off while paused) and room to write.
  bool reads = true;
  bool writes = false;
};

uint32_t EventsOf(const TRegistration& registration) {
  uint32_t events = 0;
  if (registration.reads) events |= EPOLLIN;
  if (registration.writes) events |= EPOLLOUT;
  return events;
}

// The sink lives in plain process state rather than in an object, because
// the last socket object may release it from inside a dispatch: the loop
// below then notices the new generation and stops touching what is gone.
struct TSink {
  int set = -1;
  QSocketNotifier* notifier = nullptr;
  std::unordered_map<TWatchToken, TRegistration> registrations;
  uint64_t generation = 0;
  bool crowded = false;
};

TSink gSink;
TWatchToken gLastToken = 0;

// Hands one readiness to the owner of a registration, looked up afresh: an
// earlier handler may have destroyed any socket object, this one included.
// Answers false once the sink itself is gone.
bool Deliver(TWatchToken token, void (TCustomWSocket::*entry)(int), uint64_t generation) {
  const auto found = gSink.registrations.find(token);
  if (found == gSink.registrations.end()) return true;
  const TRegistration registration = found->second;
  (registration.owner->*entry)(registration.handle);
  return gSink.generation == generation;
}

void DispatchReadyHandles() {
  epoll_event ready[kMaxReadyPerActivation];
  const int count = SocketCalls().EpollWait(gSink.set, ready, kMaxReadyPerActivation);
  const uint64_t generation = gSink.generation;
  gSink.crowded = count > kCrowdedReadyCount;
  for (int i = 0; i < count; ++i) {
    const TWatchToken token = ready[i].data.u64;
    const uint32_t events = ready[i].events;
    // A failure or hang-up goes to the read path, where the end is reported.
    if ((events & ~uint32_t{EPOLLOUT}) != 0 &&
        !Deliver(token, &TCustomWSocket::HandleReadiness, generation))
      return;
    if ((events & EPOLLOUT) != 0 && !Deliver(token, &TCustomWSocket::HandleWritable, generation))
      return;
  }
}

bool OpenSink() {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) {
    errno = 0;
    return false;
  }
  const int set = SocketCalls().EpollCreate();
  if (set < 0) return false;
  gSink.set = set;
  gSink.notifier = new QSocketNotifier(set, QSocketNotifier::Read, app);
  QObject::connect(gSink.notifier, &QSocketNotifier::activated, gSink.notifier,
                   [] { DispatchReadyHandles(); });
  return true;
}

int ChangeRegistration(int operation, TWatchToken token, int handle, uint32_t events) {
  epoll_event event{};
  event.events = events;
  event.data.u64 = token;
  return SocketCalls().EpollCtl(gSink.set, operation, handle, &event);
}

// Turns one kind of notification of a registration on or off; the record
// follows only a change the platform took.
int ChangeInterest(TWatchToken token, bool TRegistration::*kind, bool on) {
  const auto found = gSink.registrations.find(token);
  if (found == gSink.registrations.end()) return 0;
  TRegistration changed = found->second;
  changed.*kind = on;
  if (ChangeRegistration(EPOLL_CTL_MOD, token, changed.handle, EventsOf(changed)) != 0) return -1;
  found->second = changed;
  return 0;
}

}  // namespace

bool DispatchIsCrowded() { return gSink.crowded; }

TWatchToken WatchHandle(int handle, TCustomWSocket* owner) {
  if (gSink.set < 0 && !OpenSink()) return 0;
  const TWatchToken token = ++gLastToken;
  const TRegistration registration{handle, owner};
  if (ChangeRegistration(EPOLL_CTL_ADD, token, handle, EventsOf(registration)) != 0) return 0;
  gSink.registrations.emplace(token, registration);
  return token;
}

void UnwatchHandle(TWatchToken token) {
  const auto found = gSink.registrations.find(token);
  if (found == gSink.registrations.end()) return;
  // A handle that is already closed has left the set by itself; the
  // registration goes either way.
  ChangeRegistration(EPOLL_CTL_DEL, token, found->second.handle, 0);
  gSink.registrations.erase(found);
}

int PauseHandle(TWatchToken token) { return ChangeInterest(token, &TRegistration::reads, false); }

int ResumeHandle(TWatchToken token) { return ChangeInterest(token, &TRegistration::reads, true); }

int WatchWritable(TWatchToken token, bool on) {
  return ChangeInterest(token, &TRegistration::writes, on);
}

void ReleaseNotificationSink() {
  if (gSink.set < 0) return;
  // Deleted later, because this may run inside the notifier's own signal.
  gSink.notifier->setEnabled(false);
  QObject::disconnect(gSink.notifier, nullptr, nullptr, nullptr);
  gSink.notifier->deleteLater();
  gSink.notifier = nullptr;
  CloseSocketOnce(gSink.set);
  gSink.set = -1;
  gSink.registrations.clear();
  ++gSink.generation;
}
