#include "loopback_client.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>

namespace bench {
namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw TBenchError(what + ": " + std::strerror(errno));
}

}  // namespace

double NowSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

int StartConnect(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) Fail("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
      errno != EINPROGRESS) {
    const int error = errno;
    ::close(fd);
    errno = error;
    Fail("connect to 127.0.0.1:" + std::to_string(port));
  }
  return fd;
}

int ConnectOutcome(int fd) {
  int error = 0;
  socklen_t size = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
  return error;
}

size_t SendSome(int fd, const uint8_t* data, size_t size) {
  for (;;) {
    const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<size_t>(sent);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    Fail("send");
  }
}

bool PeerHasClosed(int fd) {
  uint8_t sink[4096];
  for (int round = 0; round < 64; ++round) {
    const ssize_t got = ::recv(fd, sink, sizeof sink, 0);
    if (got == 0) return true;
    if (got > 0) continue;  // the servers never answer, but a stray byte is no close
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return false;
    return true;  // a reset is how a server that sets linger 0 closes
  }
  return false;
}

void ShutDownSending(int fd) {
  if (::shutdown(fd, SHUT_WR) != 0) Fail("shutdown");
}

void CloseHandle(int fd) { ::close(fd); }

TEpoll::TEpoll() : fd_(::epoll_create1(EPOLL_CLOEXEC)), ready_(256) {
  if (fd_ < 0) Fail("epoll_create1");
}

TEpoll::~TEpoll() { ::close(fd_); }

void TEpoll::Add(int fd, uint32_t events, uint64_t tag) {
  epoll_event event{};
  event.events = events;
  event.data.u64 = tag;
  if (::epoll_ctl(fd_, EPOLL_CTL_ADD, fd, &event) != 0) Fail("epoll_ctl add");
}

void TEpoll::Change(int fd, uint32_t events, uint64_t tag) {
  epoll_event event{};
  event.events = events;
  event.data.u64 = tag;
  if (::epoll_ctl(fd_, EPOLL_CTL_MOD, fd, &event) != 0) Fail("epoll_ctl mod");
}

void TEpoll::Remove(int fd) { ::epoll_ctl(fd_, EPOLL_CTL_DEL, fd, nullptr); }

const std::vector<epoll_event>& TEpoll::Wait(int timeout_ms) {
  ready_.resize(256);
  const int count = ::epoll_wait(fd_, ready_.data(), static_cast<int>(ready_.size()), timeout_ms);
  if (count < 0 && errno != EINTR) Fail("epoll_wait");
  ready_.resize(count < 0 ? 0 : static_cast<size_t>(count));
  return ready_;
}

int StartPeriodicTimer(int interval_ms) {
  const int fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (fd < 0) Fail("timerfd_create");
  itimerspec schedule{};
  schedule.it_interval.tv_sec = interval_ms / 1000;
  schedule.it_interval.tv_nsec = static_cast<long>(interval_ms % 1000) * 1000000L;
  schedule.it_value = schedule.it_interval;
  if (::timerfd_settime(fd, 0, &schedule, nullptr) != 0) Fail("timerfd_settime");
  return fd;
}

void AcknowledgeTimer(int fd) {
  uint64_t expirations = 0;
  [[maybe_unused]] const ssize_t got = ::read(fd, &expirations, sizeof expirations);
}

int WatchFolder(const std::string& folder) {
  const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) Fail("inotify_init1");
  if (::inotify_add_watch(fd, folder.c_str(), IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE) < 0)
    Fail("inotify_add_watch " + folder);
  return fd;
}

void DrainWatch(int fd) {
  alignas(inotify_event) char events[8192];
  for (int round = 0; round < 64 && ::read(fd, events, sizeof events) > 0; ++round) {
  }
}

int64_t FileSize(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
}

bool IsCaptureName(const std::string& name) {
  constexpr std::string_view kSuffix = ".txt";
  return name.size() > kSuffix.size() &&
         name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) == 0;
}

int64_t FolderBytes(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return -1;
  int64_t total = 0;
  const int dir_fd = ::dirfd(dir);
  while (const dirent* entry = ::readdir(dir)) {
    struct stat info {};
    if (IsCaptureName(entry->d_name) && ::fstatat(dir_fd, entry->d_name, &info, 0) == 0 &&
        S_ISREG(info.st_mode))
      total += info.st_size;
  }
  ::closedir(dir);
  return total;
}

int64_t ResidentKibOf(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) {
      std::istringstream fields(line.substr(6));
      int64_t kib = -1;
      fields >> kib;
      return kib;
    }
  return -1;
}

int64_t OpenHandlesOf(pid_t pid) {
  const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
  // Recent kernels give the count as the folder's size, which costs nothing
  // next to listing 15,000 entries every few connects.
  struct stat info {};
  if (::stat(folder.c_str(), &info) == 0 && info.st_size > 0)
    return static_cast<int64_t>(info.st_size);
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return -1;
  int64_t count = 0;
  while (const dirent* entry = ::readdir(dir))
    if (entry->d_name[0] != '.') ++count;
  ::closedir(dir);
  return count;
}

int64_t CpuTicksOf(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return -1;
  // The command name may hold spaces; the fields after it are plain numbers.
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  std::string skipped;
  for (int field = 3; field < 14; ++field) fields >> skipped;
  int64_t user = -1, system = -1;
  fields >> user >> system;
  return user < 0 || system < 0 ? -1 : user + system;
}

bool ProcessRunning(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  const size_t name_end = line.rfind(')');
  return name_end != std::string::npos && name_end + 2 < line.size() && line[name_end + 2] != 'Z';
}

void RaiseOpenFileLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &limit);
}

void FailWithErrno(const std::string& what) {
  throw TBenchError(what + ": " + std::strerror(errno));
}

std::string Hex(uint8_t byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02x", byte);
  return text;
}

void SetTimeout(int fd, int option, int milliseconds) {
  timeval limit{};
  limit.tv_sec = milliseconds / 1000;
  limit.tv_usec = (milliseconds % 1000) * 1000;
  if (::setsockopt(fd, SOL_SOCKET, option, &limit, sizeof limit) != 0) FailWithErrno("setsockopt");
}

}  // namespace bench
