// Small wrappers over the calls the load generator makes: non-blocking
// connections to 127.0.0.1, one epoll set, the monotonic clock, and what
// /proc and stat tell about the server under test and its files.
#pragma once

#include <sys/epoll.h>
#include <sys/types.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace bench {

struct TBenchError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

double NowSeconds();

// Raises what failed with the text of errno.
[[noreturn]] void FailWithErrno(const std::string& what);
// "0x1a": a byte as the failure lines show it.
std::string Hex(uint8_t byte);
// A receive or send (SO_RCVTIMEO, SO_SNDTIMEO) that gives up after this long.
void SetTimeout(int fd, int option, int milliseconds);

// A non-blocking socket whose connect to 127.0.0.1:port is under way.
int StartConnect(uint16_t port);
// 0 once the connect has succeeded, else its errno.
int ConnectOutcome(int fd);
// Sends what the socket takes now; returns the count (0 when full).
size_t SendSome(int fd, const uint8_t* data, size_t size);
// Reads whatever is pending; true when the peer has closed or reset.
bool PeerHasClosed(int fd);
void ShutDownSending(int fd);
void CloseHandle(int fd);

class TEpoll {
 public:
  TEpoll();
  ~TEpoll();
  TEpoll(const TEpoll&) = delete;
  TEpoll& operator=(const TEpoll&) = delete;

  void Add(int fd, uint32_t events, uint64_t tag);
  void Change(int fd, uint32_t events, uint64_t tag);
  void Remove(int fd);
  // Waits at most timeout_ms; the ready events are in Ready().
  const std::vector<epoll_event>& Wait(int timeout_ms);

 private:
  int fd_;
  std::vector<epoll_event> ready_;
};

// A timer handle that becomes readable every interval_ms.
int StartPeriodicTimer(int interval_ms);
void AcknowledgeTimer(int fd);
// An inotify handle that becomes readable when a file in folder changes.
int WatchFolder(const std::string& folder);
void DrainWatch(int fd);

int64_t FileSize(const std::string& path);  // -1 when missing
// Every capture's name ends in ".txt"; a capture folder may also hold the
// index of finished jobs (jobs.csv), whose bytes are no job's.
bool IsCaptureName(const std::string& name);
// The bytes of the capture files in the folder.
int64_t FolderBytes(const std::string& folder);
int64_t ResidentKibOf(pid_t pid);
int64_t OpenHandlesOf(pid_t pid);
// User plus system time the process has used, in clock ticks.
int64_t CpuTicksOf(pid_t pid);
// False once the process has ended, even while it waits to be reaped.
bool ProcessRunning(pid_t pid);
// Both ends of every connection live on this machine, so each side needs
// far more descriptors than the usual soft limit.
void RaiseOpenFileLimit();

}  // namespace bench
