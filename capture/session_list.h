#pragma once

#include <list>
#include <memory>
#include <unordered_map>

#include "capture/open_files.h"
#include "capture/session.h"

// The monitor's open sessions in order of arrival, so that a stop reports
// them in that order, with the capture files they hold. Adding, finding and
// removing one are single steps however many are open.
class TSessionList {
 public:
  TClient& Add(std::unique_ptr<TClient> session);
  // Counts the session's file as held from now on.
  void Hold(const TClient& session);
  // The session's file is held no more: it goes on to another one.
  void Release(const TClient& session);
  // Takes the session out and releases its file; nothing when it is not in
  // the list.
  std::unique_ptr<TClient> Remove(TClient* session);
  bool Contains(const TClient* session) const { return places_.count(session) > 0; }

  int Count() const { return static_cast<int>(sessions_.size()); }
  bool Empty() const { return sessions_.empty(); }
  TClient* First() const { return sessions_.empty() ? nullptr : sessions_.front().get(); }
  const TOpenFiles& OpenFiles() const { return openFiles_; }
  template <typename TAction>
  void ForEach(TAction action) {
    for (const auto& session : sessions_) action(*session);
  }

 private:
  using TList = std::list<std::unique_ptr<TClient>>;
  TList sessions_;
  std::unordered_map<const TClient*, TList::iterator> places_;
  TOpenFiles openFiles_;
};
