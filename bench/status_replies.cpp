#include "status_replies.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include "loopback_client.h"
#include "raster_stream.h"

namespace bench {
namespace {

using TClock = std::chrono::steady_clock;

const std::vector<uint8_t> kStatusQuery = {0x10, 0x04, 0x01};  // DLE EOT 1: printer status
constexpr uint8_t kReadyStatus = 0x12;  // the fixed bits alone: online, nothing wrong
// The raster stream has moved this much before the first query, so every
// query meets it under way.
constexpr uint64_t kRasterLeadBytes = 4u << 20;

// A blocking connection to 127.0.0.1:port whose receives give up after
// receive_ms and whose sends after send_ms. No Nagle delay: a query goes out
// as soon as it is written, as a status-polling client sends it.
int Connect(uint16_t port, int receive_ms, int send_ms) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) FailWithErrno("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int on = 1;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    FailWithErrno("connect to 127.0.0.1:" + std::to_string(port));
  }
  SetTimeout(fd, SO_RCVTIMEO, receive_ms);
  SetTimeout(fd, SO_SNDTIMEO, send_ms);
  return fd;
}

void SendAll(int fd, const uint8_t* data, size_t size, const char* what) {
  while (size > 0) {
    const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
      throw TBenchError(std::string("the server took no ") + what + " bytes within the time bound");
    if (sent < 0) FailWithErrno(std::string("send ") + what);
    data += sent;
    size -= static_cast<size_t>(sent);
  }
}

// After the half-close: reads until the server has closed (or reset, as
// Tarnock ends its connections), within the connection's receive bound;
// returns the bytes that came meanwhile.
uint64_t AwaitServerClose(int fd, const char* what) {
  uint64_t bytes = 0;
  uint8_t sink[4096];
  for (;;) {
    const ssize_t got = ::recv(fd, sink, sizeof sink, 0);
    if (got > 0) {
      bytes += static_cast<uint64_t>(got);
      continue;
    }
    if (got == 0 || errno == ECONNRESET) return bytes;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK)
      throw TBenchError(std::string("the server did not close the ") + what +
                        " connection within the time bound");
    FailWithErrno(std::string("recv on the ") + what + " connection");
  }
}

// Sends raster blocks on a thread of its own until told to stop, so that
// neither side of the query connection waits for it; then half-closes and
// waits for the server's close. A pace keeps the stream at what a network
// link carries: flat out, on loopback, the sender, the server and the
// query client share two cores, and the figure is the scheduler's.
class TRasterSender {
 public:
  TRasterSender(uint16_t port, int close_timeout_s, double mib_per_s)
      : fd_(Connect(port, close_timeout_s * 1000, close_timeout_s * 1000)),
        block_interval_(mib_per_s > 0 ? std::chrono::duration<double>(TRasterStream::kBlockSize /
                                                                      (mib_per_s * (1 << 20)))
                                      : std::chrono::duration<double>::zero()) {
    thread_ = std::thread([this] { Run(); });
  }
  ~TRasterSender() {
    Finish();
    if (fd_ >= 0) ::close(fd_);
  }
  TRasterSender(const TRasterSender&) = delete;
  TRasterSender& operator=(const TRasterSender&) = delete;

  bool WaitUnderWay(TClock::time_point deadline) const {
    while (sent_ < kRasterLeadBytes) {
      if (finished_ || TClock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  void Finish() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

  // Valid once Finish has returned.
  uint64_t Blocks() const { return blocks_; }
  double Seconds() const { return seconds_; }
  uint64_t ReplyBytes() const { return reply_bytes_; }
  const std::string& Problem() const { return problem_; }

 private:
  void Run() {
    try {
      const TClock::time_point started = TClock::now();
      while (!stop_) {
        std::this_thread::sleep_until(started +
                                      std::chrono::duration_cast<TClock::duration>(
                                          block_interval_ * static_cast<double>(blocks_)));
        SendAll(fd_, raster_.Block(blocks_), TRasterStream::kBlockSize, "raster");
        ++blocks_;
        sent_ += TRasterStream::kBlockSize;
        DrainReplies();
      }
      seconds_ = std::chrono::duration<double>(TClock::now() - started).count();
      ShutDownSending(fd_);
      reply_bytes_ += AwaitServerClose(fd_, "raster");
    } catch (const TBenchError& error) {
      problem_ = error.what();
    }
    finished_ = true;
  }

  // No query hides in the raster bytes, so nothing should come back; what
  // does is counted, and read so that it never fills a buffer.
  void DrainReplies() {
    uint8_t sink[4096];
    for (ssize_t got; (got = ::recv(fd_, sink, sizeof sink, MSG_DONTWAIT)) > 0;)
      reply_bytes_ += static_cast<uint64_t>(got);
  }

  const TRasterStream raster_;
  int fd_;
  const std::chrono::duration<double> block_interval_;
  std::thread thread_;
  std::atomic<bool> stop_{false}, finished_{false};
  std::atomic<uint64_t> sent_{0};
  uint64_t blocks_ = 0, reply_bytes_ = 0;
  double seconds_ = 0;
  std::string problem_;
};

class TQueryRun {
 public:
  TQueryRun(const TReplyRunSettings& settings, TReplyRunResult& result)
      : settings_(settings),
        result_(result),
        fd_(Connect(settings.port, settings.reply_timeout_ms, settings.close_timeout_s * 1000)) {}
  ~TQueryRun() { ::close(fd_); }
  TQueryRun(const TQueryRun&) = delete;
  TQueryRun& operator=(const TQueryRun&) = delete;

  // Stops at the first query left unanswered: a silent server would
  // otherwise cost the timeout once per query.
  void Run() {
    const uint64_t total = uint64_t{settings_.warm_queries} + settings_.queries;
    while (result_.queries_sent < total && result_.unanswered_query == 0) Ask();
  }

  // Half-closes and waits for the server's close, counting what came back
  // beyond the replies.
  void Close() {
    SetTimeout(fd_, SO_RCVTIMEO, settings_.close_timeout_s * 1000);
    ShutDownSending(fd_);
    result_.bytes_after_replies += AwaitServerClose(fd_, "query");
  }

 private:
  // The clock starts as the query's bytes go to the socket in one call: on
  // loopback that call itself carries them into the server's socket, and
  // the server may answer before it returns, so a start after it would
  // leave out part of the way and now and then all of it.
  void Ask() {
    const TClock::time_point sent = TClock::now();
    SendAll(fd_, kStatusQuery.data(), kStatusQuery.size(), "query");
    ++result_.queries_sent;
    uint8_t reply[16];
    ssize_t got;
    do got = ::recv(fd_, reply, sizeof reply, 0);
    while (got < 0 && errno == EINTR);
    const TClock::time_point arrived = TClock::now();
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      result_.unanswered_query = result_.queries_sent;
      return;
    }
    const std::string which = "query " + std::to_string(result_.queries_sent);
    if (got < 0) FailWithErrno("recv after " + which);
    if (got == 0) throw TBenchError("the server closed the connection after " + which);
    if (got != 1) throw TBenchError(which + " got " + std::to_string(got) + " bytes back, not one");
    if (reply[0] != kReadyStatus)
      throw TBenchError(which + " got status " + Hex(reply[0]) + ", not " + Hex(kReadyStatus));
    if (result_.queries_sent > settings_.warm_queries)
      result_.latencies_us.push_back(
          std::chrono::duration<double, std::micro>(arrived - sent).count());
  }

  const TReplyRunSettings& settings_;
  TReplyRunResult& result_;
  int fd_;
};

// Every byte sent must be in the captures once the server has closed both
// connections; the files may still be settling for a moment.
void CheckCaptures(const TReplyRunSettings& settings, TReplyRunResult& result) {
  const int64_t expected = static_cast<int64_t>(result.queries_sent * kStatusQuery.size() +
                                                result.raster_blocks * TRasterStream::kBlockSize);
  const TClock::time_point deadline =
      TClock::now() + std::chrono::seconds(settings.close_timeout_s);
  while (FolderBytes(settings.capture_dir) < expected && TClock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  result.captures_checked = true;
  result.captures = CheckReplyCaptures(settings.capture_dir, kStatusQuery, result.queries_sent,
                                       result.raster_blocks, TRasterStream());
}

void RunQueriesAndRaster(const TReplyRunSettings& settings, TReplyRunResult& result) {
  std::unique_ptr<TRasterSender> raster;
  if (settings.raster) {
    raster = std::make_unique<TRasterSender>(settings.port, settings.close_timeout_s,
                                             settings.raster_mib_per_s);
    if (!raster->WaitUnderWay(TClock::now() + std::chrono::seconds(settings.close_timeout_s))) {
      raster->Finish();
      throw TBenchError("the raster stream did not get under way: " + raster->Problem());
    }
  }
  TQueryRun queries(settings, result);
  queries.Run();
  if (raster) {
    raster->Finish();
    result.raster_blocks = raster->Blocks();
    result.raster_seconds = raster->Seconds();
    result.raster_reply_bytes = raster->ReplyBytes();
    if (!raster->Problem().empty()) throw TBenchError(raster->Problem());
  }
  queries.Close();
}

}  // namespace

TReplyRunResult RunStatusReplies(const TReplyRunSettings& settings) {
  TReplyRunResult result;
  try {
    RunQueriesAndRaster(settings, result);
    // A late reply after a timeout is no wrong byte; beyond a reply to
    // every query, any byte is.
    if (result.unanswered_query == 0 && result.bytes_after_replies > 0)
      throw TBenchError(std::to_string(result.bytes_after_replies) +
                        " bytes came back beyond one per query");
    if (!settings.capture_dir.empty()) CheckCaptures(settings, result);
  } catch (const TBenchError& error) {
    result.problem = error.what();
  }
  return result;
}

}  // namespace bench
