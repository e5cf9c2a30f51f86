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
};

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

void DispatchReadyHandles() {
  epoll_event ready[kMaxReadyPerActivation];
  const int count = SocketCalls().EpollWait(gSink.set, ready, kMaxReadyPerActivation);
  const uint64_t generation = gSink.generation;
  gSink.crowded = count > kCrowdedReadyCount;
  for (int i = 0; i < count; ++i) {
    // Looked up afresh for every handle: an earlier handler may have
    // destroyed any socket object, this one included.
    const auto found = gSink.registrations.find(ready[i].data.u64);
    if (found == gSink.registrations.end()) continue;
    const TRegistration registration = found->second;
    registration.owner->HandleReadiness(registration.handle);
    if (gSink.generation != generation) return;
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

int ChangeEvents(TWatchToken token, uint32_t events) {
  const auto found = gSink.registrations.find(token);
  if (found == gSink.registrations.end()) return 0;
  return ChangeRegistration(EPOLL_CTL_MOD, token, found->second.handle, events);
}

}  // namespace

bool DispatchIsCrowded() { return gSink.crowded; }

TWatchToken WatchHandle(int handle, TCustomWSocket* owner) {
  if (gSink.set < 0 && !OpenSink()) return 0;
  const TWatchToken token = ++gLastToken;
  if (ChangeRegistration(EPOLL_CTL_ADD, token, handle, EPOLLIN) != 0) return 0;
  gSink.registrations.emplace(token, TRegistration{handle, owner});
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

int PauseHandle(TWatchToken token) { return ChangeEvents(token, 0); }

int ResumeHandle(TWatchToken token) { return ChangeEvents(token, EPOLLIN); }

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
