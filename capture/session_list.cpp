#include "capture/session_list.h"

#include <iterator>
#include <utility>

TClient& TSessionList::Add(std::unique_ptr<TClient> session) {
  TClient& added = *session;
  sessions_.push_back(std::move(session));
  places_.emplace(&added, std::prev(sessions_.end()));
  return added;
}

void TSessionList::Hold(const TClient& session) {
  if (session.FileIdentity) openFiles_.Hold(*session.FileIdentity);
}

void TSessionList::Release(const TClient& session) {
  if (session.FileIdentity) openFiles_.Release(*session.FileIdentity);
}

std::unique_ptr<TClient> TSessionList::Remove(TClient* session) {
  const auto place = places_.find(session);
  if (place == places_.end()) return nullptr;
  std::unique_ptr<TClient> owned = std::move(*place->second);
  sessions_.erase(place->second);
  places_.erase(place);
  if (owned->FileIdentity) openFiles_.Release(*owned->FileIdentity);
  return owned;
}
