#include "lpd_job.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "loopback_client.h"

namespace bench {
namespace {

constexpr char kHost[] = "benchhost";
constexpr char kControlFileName[] = "cfA001benchhost";
constexpr char kDataFileName[] = "dfA001benchhost";
// The raw stream's send size, so the two jobs differ in their framing alone.
constexpr size_t kSendPiece = 1u << 18;

// A blocking connection whose every receive and send gives up after the
// step bound. Its socket options are the raw stream's, so the two jobs
// differ in their framing alone: Nagle's delay stays on, which holds back
// nothing here, since every line and file goes out in one send after the
// daemon has answered everything before it.
class TLpdConnection {
 public:
  TLpdConnection(uint16_t port, int step_timeout_ms) : step_timeout_ms_(step_timeout_ms) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) FailWithErrno("socket");
    try {
      Open(port);
    } catch (...) {
      ::close(fd_);
      throw;
    }
  }
  ~TLpdConnection() { ::close(fd_); }
  TLpdConnection(const TLpdConnection&) = delete;
  TLpdConnection& operator=(const TLpdConnection&) = delete;

  void Send(const void* data, size_t size, const std::string& what) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
      const ssize_t sent = ::send(fd_, bytes, size, MSG_NOSIGNAL);
      if (sent < 0 && errno == EINTR) continue;
      if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        throw TBenchError("LPD: the daemon took none of " + what + " within " +
                          std::to_string(step_timeout_ms_) + " ms");
      if (sent < 0) FailSending(what);
      bytes += sent;
      size -= static_cast<size_t>(sent);
    }
  }

  void Send(const std::string& text, const std::string& what) {
    Send(text.data(), text.size(), what);
  }

  // An acknowledgement is one zero byte, and nothing after it until the
  // client's next step.
  void AwaitAck(const std::string& what) {
    uint8_t answer = 0;
    if (Receive(&answer, 1, 0, what) == 0)
      throw TBenchError("LPD: the daemon closed the connection instead of acknowledging " + what);
    if (answer != 0)
      throw TBenchError("LPD: the daemon answered " + what + " with " + Hex(answer) +
                        ", not with a zero byte");
    uint8_t extra[64];
    const ssize_t more = ::recv(fd_, extra, sizeof extra, MSG_DONTWAIT);
    if (more > 0)
      throw TBenchError("LPD: the daemon sent " + std::to_string(1 + more) + " bytes for " + what +
                        ", not one zero byte");
  }

  // The client ends the job by closing its side; the daemon then closes
  // (or resets) its own and must have nothing more to say.
  void AwaitClose(double deadline) {
    if (::shutdown(fd_, SHUT_WR) != 0) FailWithErrno("LPD: shutdown");
    uint8_t extra[64];
    while (NowSeconds() < deadline) {
      const ssize_t got = ::recv(fd_, extra, sizeof extra, 0);
      if (got == 0) return;
      if (got > 0)
        throw TBenchError("LPD: the daemon sent " + std::to_string(got) +
                          " bytes after the data file's acknowledgement");
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      return;  // a reset is how a server that sets linger 0 closes
    }
    throw TBenchError("LPD: the daemon did not close the connection after the job");
  }

 private:
  void Open(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
      FailWithErrno("LPD: connect to 127.0.0.1:" + std::to_string(port));
    SetTimeout(fd_, SO_RCVTIMEO, step_timeout_ms_);
    SetTimeout(fd_, SO_SNDTIMEO, step_timeout_ms_);
  }

  // A daemon that refuses a file closes while it is still coming; its
  // answer says more than the send's broken pipe.
  [[noreturn]] void FailSending(const std::string& what) {
    const int error = errno;
    uint8_t answer = 0;
    if (::recv(fd_, &answer, 1, MSG_DONTWAIT) == 1)
      throw TBenchError("LPD: the daemon answered " + what + " with " + Hex(answer) +
                        " before it was all sent");
    errno = error;
    FailWithErrno("LPD: send " + what);
  }

  size_t Receive(uint8_t* into, size_t size, int flags, const std::string& what) {
    for (;;) {
      const ssize_t got = ::recv(fd_, into, size, flags);
      if (got >= 0) return static_cast<size_t>(got);
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK)
        throw TBenchError("LPD: no acknowledgement of " + what + " within " +
                          std::to_string(step_timeout_ms_) + " ms");
      FailWithErrno("LPD: receive the acknowledgement of " + what);
    }
  }

  int fd_ = -1;
  int step_timeout_ms_;
};

// A file's subcommand line: code, count, SP, name, LF.
std::string FileLine(char code, uint64_t count, const char* name) {
  return std::string(1, code) + std::to_string(count) + " " + name + "\n";
}

// The data file is counted, so the closing zero byte is all that follows
// it. It leaves in one send with the file's last piece: sent alone behind
// unanswered data, Nagle's delay would hold it until the peer's ack.
void SendDataFile(TLpdConnection& connection, const TStreamPattern& pattern, uint64_t bytes,
                  double started, int timeout_s) {
  std::vector<uint8_t> last_piece;
  for (uint64_t offset = 0;;) {
    if (NowSeconds() - started > timeout_s)
      throw TBenchError("LPD: the data file was not sent within " + std::to_string(timeout_s) +
                        " s");
    size_t contiguous = 0;
    const uint8_t* data = pattern.At(offset, &contiguous);
    const auto take =
        static_cast<size_t>(std::min<uint64_t>({contiguous, bytes - offset, kSendPiece}));
    if (offset + take == bytes) {
      last_piece.assign(data, data + take);
      last_piece.push_back(0);
      return connection.Send(last_piece.data(), last_piece.size(), "the data file");
    }
    connection.Send(data, take, "the data file");
    offset += take;
  }
}

// Waits, within the bound, until the capture file holds every byte; a file
// that grows beyond them, or stops short, is for the check to report.
bool WaitForCapture(const std::string& file, uint64_t bytes, double deadline) {
  for (;;) {
    const int64_t size = FileSize(file);
    if (size >= 0 && static_cast<uint64_t>(size) >= bytes)
      return static_cast<uint64_t>(size) == bytes;
    if (NowSeconds() > deadline) return false;
    ::usleep(2000);
  }
}

}  // namespace

std::string LpdControlFile(const std::string& data_file_name) {
  return std::string("H") + kHost + "\nPbench\nJtarnock bench\nNpayload.bin\nl" + data_file_name +
         "\n";
}

TLpdJobResult SendLpdJob(const TLpdJobSettings& settings, const TStreamPattern& pattern) {
  TLpdJobResult result;
  const double started = NowSeconds();
  TLpdConnection connection(settings.port, settings.step_timeout_ms);
  connection.Send("\x02" + settings.queue + "\n", "the receive-job command");
  connection.AwaitAck("the receive-job command");
  const std::string control = LpdControlFile(kDataFileName);
  connection.Send(FileLine('\x02', control.size(), kControlFileName), "the control file's line");
  connection.AwaitAck("the control file's line");
  connection.Send(control + std::string(1, '\0'), "the control file");
  connection.AwaitAck("the control file");
  connection.Send(FileLine('\x03', settings.bytes, kDataFileName), "the data file's line");
  connection.AwaitAck("the data file's line");
  SendDataFile(connection, pattern, settings.bytes, started, settings.timeout_s);
  connection.AwaitAck("the data file");
  result.ack_seconds = NowSeconds() - started;

  const double deadline = NowSeconds() + settings.close_timeout_s;
  connection.AwaitClose(deadline);
  if (settings.capture_file.empty()) return result;
  if (WaitForCapture(settings.capture_file, settings.bytes, deadline))
    result.complete_seconds = NowSeconds() - started;
  result.capture_checked = true;
  result.capture = CheckStreamFile(settings.capture_file, settings.bytes, pattern);
  return result;
}

}  // namespace bench
