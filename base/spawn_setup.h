#pragma once

#include <signal.h>
#include <spawn.h>

#include <initializer_list>
#include <string>

// What a process the program starts is given, for posix_spawn: the two
// setups every spawn here shares, each released with its object.

// Spawn attributes: the given signals are the new process's own again,
// nothing is blocked, and its process group is its own, so that a command
// is ended with everything it started and a Ctrl+C meant for us never
// reaches it.
class TSpawnAttributes {
 public:
  explicit TSpawnAttributes(std::initializer_list<int> ownSignals) {
    ::posix_spawnattr_init(&attributes_);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signalNumber : ownSignals) sigaddset(&defaults, signalNumber);
    ::posix_spawnattr_setsigmask(&attributes_, &none);
    ::posix_spawnattr_setsigdefault(&attributes_, &defaults);
    ::posix_spawnattr_setpgroup(&attributes_, 0);
    ::posix_spawnattr_setflags(
        &attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
  }
  ~TSpawnAttributes() { ::posix_spawnattr_destroy(&attributes_); }
  TSpawnAttributes(const TSpawnAttributes&) = delete;
  TSpawnAttributes& operator=(const TSpawnAttributes&) = delete;
  const posix_spawnattr_t* Get() const { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
};

// The descriptors a new process gets, in the order given; every descriptor
// from the first one left out on is closed, whatever flag it carries (the
// program has sockets and a log thread of its own).
class TSpawnDescriptors {
 public:
  TSpawnDescriptors() { ::posix_spawn_file_actions_init(&actions_); }
  ~TSpawnDescriptors() { ::posix_spawn_file_actions_destroy(&actions_); }
  TSpawnDescriptors(const TSpawnDescriptors&) = delete;
  TSpawnDescriptors& operator=(const TSpawnDescriptors&) = delete;

  TSpawnDescriptors& InFolder(const std::string& folder) {
    if (!folder.empty()) ::posix_spawn_file_actions_addchdir_np(&actions_, folder.c_str());
    return *this;
  }
  TSpawnDescriptors& Null(int descriptor, int flags) {
    ::posix_spawn_file_actions_addopen(&actions_, descriptor, "/dev/null", flags, 0);
    return *this;
  }
  TSpawnDescriptors& Copy(int from, int to) {
    ::posix_spawn_file_actions_adddup2(&actions_, from, to);
    return *this;
  }
  TSpawnDescriptors& CloseFrom(int first) {
    ::posix_spawn_file_actions_addclosefrom_np(&actions_, first);
    return *this;
  }
  const posix_spawn_file_actions_t* Get() const { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};
