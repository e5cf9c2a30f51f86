// The least a server must do to answer real-time status queries, as the
// yardstick for Tarnock's replies: one epoll loop on 127.0.0.1 that reads
// every connection, answers each DLE EOT n with one byte 0x12 (a ready
// printer) in the same turn as the read that completed it, and writes
// nothing else. It stores nothing. It runs until it is killed.
//
//   tarnock_responder --port P
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

constexpr uint8_t kDle = 0x10, kEot = 0x04, kReadyStatus = 0x12;
constexpr size_t kReadSize = 256 * 1024;
constexpr int kMaxEvents = 64;

// How much of DLE EOT n the bytes so far end with; a query may be split
// across reads.
enum class TMatch { None, Dle, DleEot };

int Fail(const char* what) {
  std::fprintf(stderr, "tarnock_responder: %s: %s\n", what, std::strerror(errno));
  return 1;
}

int Listen(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int on = 1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, SOMAXCONN) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Appends a reply for every query the bytes complete.
void Scan(const uint8_t* data, size_t size, TMatch& match, std::vector<uint8_t>& replies) {
  for (size_t at = 0; at < size; ++at) {
    const uint8_t byte = data[at];
    if (match == TMatch::DleEot) {
      replies.push_back(kReadyStatus);
      match = TMatch::None;
    } else if (byte == kDle) {
      match = TMatch::Dle;
    } else {
      match = match == TMatch::Dle && byte == kEot ? TMatch::DleEot : TMatch::None;
    }
  }
}

class TResponder {
 public:
  explicit TResponder(int listener) : listener_(listener), epoll_(::epoll_create1(EPOLL_CLOEXEC)) {}

  int Run() {
    if (epoll_ < 0 || !Watch(listener_)) return Fail("epoll");
    epoll_event events[kMaxEvents];
    for (;;) {
      const int ready = ::epoll_wait(epoll_, events, kMaxEvents, -1);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) return Fail("epoll_wait");
      for (int i = 0; i < ready; ++i) {
        if (events[i].data.fd == listener_)
          AcceptAll();
        else
          Serve(events[i].data.fd);
      }
    }
  }

 private:
  bool Watch(int fd) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    return ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) == 0;
  }

  void AcceptAll() {
    for (int fd;
         (fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;) {
      const int on = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      if (!Watch(fd)) {
        ::close(fd);
        continue;
      }
      matches_[fd] = TMatch::None;
    }
  }

  // One read per turn, as a server that shares its loop among connections
  // does; the replies to what it completed go out before the turn ends. A
  // reply the socket can't take now is dropped: this client never lets one
  // wait.
  void Serve(int fd) {
    const ssize_t got = ::recv(fd, buffer_.data(), buffer_.size(), 0);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (got <= 0) return Drop(fd);
    replies_.clear();
    Scan(buffer_.data(), static_cast<size_t>(got), matches_[fd], replies_);
    if (!replies_.empty())
      ::send(fd, replies_.data(), replies_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  }

  void Drop(int fd) {
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    ::close(fd);
    matches_.erase(fd);
  }

  int listener_;
  int epoll_;
  std::vector<uint8_t> buffer_ = std::vector<uint8_t>(kReadSize);
  std::vector<uint8_t> replies_;
  std::unordered_map<int, TMatch> matches_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || std::strcmp(argv[1], "--port") != 0) {
    std::fprintf(stderr, "usage: tarnock_responder --port P\n");
    return 2;
  }
  const long port = std::strtol(argv[2], nullptr, 10);
  if (port < 1 || port > 65535) {
    std::fprintf(stderr, "tarnock_responder: '%s' is no port from 1 to 65535\n", argv[2]);
    return 2;
  }
  const int listener = Listen(static_cast<uint16_t>(port));
  if (listener < 0) return Fail(("listen on 127.0.0.1:" + std::to_string(port)).c_str());
  return TResponder(listener).Run();
}
