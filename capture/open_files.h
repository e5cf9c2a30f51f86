#pragma once

#include <unordered_map>

#include "base/file_identity.h"

// Which capture files the open sessions hold, by file identity, with a count
// per file. Closing asks whether a file is still another session's and
// preparing whether it is anybody's; both are one look-up, however many
// sessions are open.
class TOpenFiles {
 public:
  void Hold(const TFileIdentity& file);
  // Releasing a file nobody holds does nothing.
  void Release(const TFileIdentity& file);
  int Holders(const TFileIdentity& file) const;

 private:
  std::unordered_map<TFileIdentity, int, TFileIdentityHash> holders_;
};
