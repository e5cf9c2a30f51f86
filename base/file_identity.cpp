#include "base/file_identity.h"

#include "base/system_calls.h"

TFileIdentity IdentityOfStatus(const struct stat& status) {
  return {static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
}

std::optional<TFileIdentity> FileIdentityOf(const std::string& path) {
  struct stat status {};
  if (FileCalls().PathStatus(path.c_str(), &status) != 0) return std::nullopt;
  return IdentityOfStatus(status);
}
