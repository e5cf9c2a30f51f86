#include "capture/idle_connections.h"

#include <utility>

#include "capture/session.h"

TIdleConnections::TIdleConnections(TIdleHandler onIdle) : onIdle_(std::move(onIdle)) {
  timer_.setSingleShot(true);
  QObject::connect(&timer_, &QTimer::timeout, [this] { TimerFired(); });
}

void TIdleConnections::Watch(TClient& session, TClock::time_point now) {
  if (const int32_t seconds = session.Job.Options.IdleSeconds; seconds > 0)
    Watch(&session, seconds * second_, now);
}

void TIdleConnections::Watch(TClient* session, std::chrono::milliseconds limit,
                             TClock::time_point now) {
  Forget(session);
  TQueue& queue = queues_[limit];
  queue.push_back(TEntry{session, now});
  places_.emplace(session, TPlace{limit, std::prev(queue.end())});
  // A shorter limit than any watched so far may fall due first.
  if (!timer_.isActive() || now + limit < aimedAt_) AimTimer(now);
}

void TIdleConnections::Heard(const TClient* session, TClock::time_point now) {
  const auto place = places_.find(session);
  if (place == places_.end()) return;
  TQueue& queue = queues_[place->second.limit];
  place->second.at->lastHeard = now;
  queue.splice(queue.end(), queue, place->second.at);
}

void TIdleConnections::Forget(const TClient* session) {
  const auto place = places_.find(session);
  if (place == places_.end()) return;
  const auto queue = queues_.find(place->second.limit);
  queue->second.erase(place->second.at);
  if (queue->second.empty()) queues_.erase(queue);
  places_.erase(place);
}

std::vector<TClient*> TIdleConnections::TakeIdle(TClock::time_point now) {
  std::vector<TClient*> idle;
  for (auto queue = queues_.begin(); queue != queues_.end();) {
    TQueue& entries = queue->second;
    while (!entries.empty() && entries.front().lastHeard + queue->first <= now) {
      idle.push_back(entries.front().session);
      places_.erase(entries.front().session);
      entries.pop_front();
    }
    queue = entries.empty() ? queues_.erase(queue) : std::next(queue);
  }
  return idle;
}

void TIdleConnections::TimerFired() {
  std::vector<TClient*> idle = TakeIdle(TClock::now());
  // Bytes that arrived while the timer was due: the peer was not silent.
  std::erase_if(idle, [this](TClient* session) {
    if (session->PendingBytes() <= 0) return false;
    Watch(*session, TClock::now());
    return true;
  });
  if (!idle.empty()) onIdle_(idle);
  // The fronts heard from since the timer was aimed are due later now.
  AimTimer(TClock::now());
}

void TIdleConnections::AimTimer(TClock::time_point now) {
  timer_.stop();
  if (queues_.empty()) return;
  TClock::time_point earliest = TClock::time_point::max();
  for (const auto& [limit, entries] : queues_)
    earliest = std::min(earliest, entries.front().lastHeard + limit);
  aimedAt_ = earliest;
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(earliest - now);
  timer_.start(static_cast<int>(std::max<std::chrono::milliseconds::rep>(wait.count(), 0)));
}
