#include "capture/open_files.h"

void TOpenFiles::Hold(const TFileIdentity& file) { ++holders_[file]; }

void TOpenFiles::Release(const TFileIdentity& file) {
  const auto found = holders_.find(file);
  if (found == holders_.end()) return;
  if (--found->second <= 0) holders_.erase(found);
}

int TOpenFiles::Holders(const TFileIdentity& file) const {
  const auto found = holders_.find(file);
  return found == holders_.end() ? 0 : found->second;
}
