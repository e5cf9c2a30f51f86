#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// What makes two paths one file: its device and inode. Two spellings of one
// folder, or a folder reached through a link, give the same identity, where
// comparing path texts would see two files.
struct TFileIdentity {
  uint64_t Device = 0;
  uint64_t Inode = 0;

  bool operator==(const TFileIdentity&) const = default;
};

struct TFileIdentityHash {
  std::size_t operator()(const TFileIdentity& identity) const noexcept {
    return std::hash<uint64_t>()(identity.Device * 0x9E3779B97F4A7C15ull ^ identity.Inode);
  }
};

TFileIdentity IdentityOfStatus(const struct stat& status);

// The identity of the file the path names now (links followed); none when
// nothing can be found there.
std::optional<TFileIdentity> FileIdentityOf(const std::string& path);
