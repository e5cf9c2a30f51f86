#include "jobs/job_resender.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/file_contents.h"
#include "support/ipv6_loopback.h"
#include "support/loopback.h"
#include "support/temp_folder.h"
#include "support/wait.h"

namespace {

using std::chrono::milliseconds;

// A peer on the loopback that takes a given number of connections one after
// another, each read to its end, and keeps what each brought.
class TReceiver {
 public:
  enum class TMode {
    ReadAll,      // reads every connection to its end, then closes it
    NeverReads,   // takes one connection and leaves it full
    NeverAccepts  // a full queue: later connects are never answered
  };

  TReceiver(int family, int connections, TMode mode = TMode::ReadAll) : family_(family) {
    listening_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage address{};
    socklen_t length = 0;
    if (family == AF_INET6) {
      auto& ip6 = reinterpret_cast<sockaddr_in6&>(address);
      ip6.sin6_family = AF_INET6;
      ip6.sin6_addr = in6addr_loopback;
      length = sizeof ip6;
    } else {
      auto& ip4 = reinterpret_cast<sockaddr_in&>(address);
      ip4.sin_family = AF_INET;
      ip4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      length = sizeof ip4;
    }
    if (mode == TMode::NeverReads) {
      const int small = 4096;  // the accepted socket inherits it
      ::setsockopt(listening_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    }
    ::bind(listening_, reinterpret_cast<sockaddr*>(&address), length);
    ::listen(listening_, mode == TMode::NeverAccepts ? 0 : 8);
    ::getsockname(listening_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(address).sin6_port
                                     : reinterpret_cast<sockaddr_in&>(address).sin_port);
    if (mode == TMode::NeverAccepts) {
      filler_ = ConnectLoopback(port_);  // fills the queue of one
      return;
    }
    thread_ = std::thread([this, connections, mode] { Serve(connections, mode); });
  }

  ~TReceiver() {
    if (thread_.joinable()) {
      ::shutdown(listening_, SHUT_RDWR);
      thread_.join();
    }
    for (const int fd : {listening_, filler_, held_})
      if (fd >= 0) ::close(fd);
  }

  uint16_t Port() const { return port_; }
  std::string Target() const {
    return (family_ == AF_INET6 ? "[::1]:" : "127.0.0.1:") + std::to_string(port_);
  }
  std::vector<std::string> Received() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }

 private:
  void Serve(int connections, TMode mode) {
    for (int taken = 0; taken < connections; ++taken) {
      pollfd ready{listening_, POLLIN, 0};
      if (::poll(&ready, 1, 10000) <= 0) return;
      const int fd = ::accept4(listening_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      if (mode == TMode::NeverReads) {
        held_ = fd;
        return;
      }
      std::string bytes;
      char buffer[65536];
      ssize_t got = 0;
      while ((got = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
        bytes.append(buffer, static_cast<std::size_t>(got));
      ::close(fd);
      const std::lock_guard<std::mutex> lock(mutex_);
      received_.push_back(std::move(bytes));
    }
  }

  int family_;
  int listening_ = -1;
  int filler_ = -1;
  int held_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> received_;
};

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t at = 0; at < size; ++at)
    bytes[at] = static_cast<char>((at * 7 + at / 251) & 0xff);
  return bytes;
}

class JobResenderTest : public TempFolderTest {
 protected:
  std::string Capture(const std::string& name, const std::string& bytes) {
    const std::string path = folder_.FilePath(name);
    EXPECT_TRUE(WriteWholeFile(path, bytes));
    return path;
  }

  // Runs the resend to its end; the lines and failures it reported.
  void Resend(std::vector<std::string> files, const std::string& target, TResendLimits limits = {},
              THostLookup::TLookUp lookUp = LookUpAddresses) {
    bool done = false;
    TJobResender resender(
        std::move(files), target,
        {[this](const std::string& text) { lines_.push_back(text); },
         [this](const std::string& text) { failures_.push_back(text); }, [&done] { done = true; }},
        std::move(limits), std::move(lookUp));
    resender.Start();
    ASSERT_TRUE(WaitUntil([&] { return done; }, 20000));
    EXPECT_TRUE(resender.Finished());
  }

  static TResendLimits Short() {
    TResendLimits limits;
    limits.Connect = milliseconds(50);
    limits.Stall = milliseconds(50);
    return limits;
  }

  std::vector<std::string> lines_;
  std::vector<std::string> failures_;
};

TEST_F(JobResenderTest, EachFileArrivesWholeOverAConnectionOfItsOwnInOrder) {
  const std::string first = Pattern(300000);
  const std::string second = "\x1b@Hello\n\x1dV\x00";
  TReceiver receiver(AF_INET, 3);
  const std::string a = Capture("a.prn", first);
  const std::string b = Capture("b.prn", second);
  const std::string empty = Capture("c.prn", "");
  Resend({a, b, empty}, receiver.Target());
  const std::string t = receiver.Target();
  EXPECT_TRUE(failures_.empty()) << failures_.front();
  EXPECT_EQ(lines_,
            (std::vector<std::string>{
                "Resending " + a + " to " + t + " (300000 bytes)",
                a + " resent to " + t + ": 300000 bytes",
                "Resending " + b + " to " + t + " (" + std::to_string(second.size()) + " bytes)",
                b + " resent to " + t + ": " + std::to_string(second.size()) + " bytes",
                "Resending " + empty + " to " + t + " (0 bytes)",
                empty + " resent to " + t + ": 0 bytes"}));
  EXPECT_EQ(receiver.Received(), (std::vector<std::string>{first, second, ""}));
}

TEST_F(JobResenderTest, ReachesAnIPv6Peer) {
  if (!HasIPv6Loopback()) GTEST_SKIP() << "no IPv6 loopback here";
  TReceiver receiver(AF_INET6, 1);
  const std::string bytes = Pattern(100000);
  const std::string file = Capture("six.prn", bytes);
  Resend({file}, "[::1]:" + std::to_string(receiver.Port()));
  EXPECT_TRUE(failures_.empty());
  ASSERT_EQ(lines_.size(), 2u);
  EXPECT_EQ(lines_[1],
            file + " resent to [::1]:" + std::to_string(receiver.Port()) + ": 100000 bytes");
  EXPECT_EQ(receiver.Received(), std::vector<std::string>{bytes});
}

// "localhost" is looked up off the UI thread; where it names ::1 first and
// nothing listens there, the next address is tried.
TEST_F(JobResenderTest, ANameIsLookedUpAndItsAddressesTried) {
  TReceiver receiver(AF_INET, 1);
  const std::string file = Capture("named.prn", "named job");
  Resend({file}, "localhost:" + std::to_string(receiver.Port()));
  EXPECT_TRUE(failures_.empty()) << failures_.front();
  EXPECT_EQ(receiver.Received(), std::vector<std::string>{"named job"});
}

TEST_F(JobResenderTest, AMissingFileFailsAloneAndMakesNoConnection) {
  TReceiver receiver(AF_INET, 1);
  const std::string gone = folder_.FilePath("gone.prn");
  const std::string there = Capture("there.prn", "still sent");
  Resend({gone, there}, receiver.Target());
  EXPECT_EQ(failures_, std::vector<std::string>{"Resend of " + gone + " to " + receiver.Target() +
                                                " failed: File not found"});
  EXPECT_EQ(receiver.Received(), std::vector<std::string>{"still sent"});
}

struct TFailureCase {
  const char* name;
  // "%t" stands for the target, "%f" for the file.
  std::string target;
  std::string failure;
};

std::string Filled(std::string text, const std::string& target, const std::string& file) {
  for (const auto& [mark, by] : {std::pair{"%t", target}, std::pair{"%f", file}})
    for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark))
      text.replace(at, 2, by);
  return text;
}

// Every way a target fails, each with its one exact line.
TEST_F(JobResenderTest, AFailedTargetSaysWhy) {
  const std::string refused = "127.0.0.1:" + std::to_string(FreeLoopbackPort());
  TReceiver full(AF_INET, 0, TReceiver::TMode::NeverAccepts);
  const std::vector<TFailureCase> cases = {
      {"refused", refused,
       "Resend of %f to %t failed: Error 10061 in function connect (Connection refused)"},
      {"not found", "nohost.invalid:9100",
       "Resend to %t failed: Error 11001 in function getaddrinfo (Host not found)"},
      {"never answered", full.Target(),
       "Resend of %f to %t failed: Error 10060 in function connect (Connection timed out)"},
      {"no port", "nohost",
       "\"nohost\" is no target: the port is missing (host:port, e.g. 192.0.2.5:9100 or "
       "[::1]:9100)"},
      {"port too large", "host:70000",
       "\"host:70000\" is no target: the port must be a number from 1 to 65535"},
      {"port zero", "host:0", "\"host:0\" is no target: the port must be a number from 1 to 65535"},
      {"IPv6 unbracketed", "::1:9100",
       "\"::1:9100\" is no target: an IPv6 address goes in brackets, as [::1]:9100"},
      {"not IPv6", "[zz]:9100", "\"[zz]:9100\" is no target: [zz] is no IPv6 address"},
      {"blank in name", "my host:9100",
       "\"my host:9100\" is no target: a host name holds only letters, digits, \".\", \"-\" and "
       "\"_\""},
  };
  const std::string file = Capture("job.prn", "bytes");
  // The name look-up answers as a name server does for a name nobody has.
  const auto unknown = [](const std::string&, uint16_t) {
    return TLookupResult{{}, LookupFailureText(EAI_NONAME)};
  };
  for (const TFailureCase& row : cases) {
    failures_.clear();
    Resend({file}, row.target, Short(), unknown);
    EXPECT_EQ(failures_, std::vector<std::string>{Filled(row.failure, row.target, file)})
        << row.name;
  }
}

// A peer that stops reading holds the resend only for the stall limit.
TEST_F(JobResenderTest, APeerThatStopsReadingTimesOut) {
  TReceiver silent(AF_INET, 1, TReceiver::TMode::NeverReads);
  const std::string file = Capture("big.prn", Pattern(16 << 20));
  Resend({file}, silent.Target(), Short());
  EXPECT_EQ(failures_, std::vector<std::string>{
                           "Resend of " + file + " to " + silent.Target() +
                           " failed: Error 10060 in function send (Connection timed out)"});
}

// However slow the peer, a file costs at most one progress line per tenth.
TEST_F(JobResenderTest, ProgressComesOncePerTenthAtMost) {
  TReceiver receiver(AF_INET, 1);
  const std::string file = Capture("large.prn", Pattern(4 << 20));
  TResendLimits limits;
  auto clock = std::make_shared<std::chrono::steady_clock::time_point>();
  limits.Now = [clock] { return *clock += std::chrono::seconds(1); };
  Resend({file}, receiver.Target(), limits);
  const std::string prefix = file + ": ";
  const std::string suffix = " of 4194304 bytes sent to " + receiver.Target();
  int progress = 0;
  for (const std::string& line : lines_) {
    if (line.rfind(prefix, 0) != 0) continue;
    ++progress;
    EXPECT_EQ(line.substr(line.size() - suffix.size()), suffix) << line;
  }
  EXPECT_EQ(progress, 9);
  EXPECT_EQ(lines_.back(), file + " resent to " + receiver.Target() + ": 4194304 bytes");
}

// Program end in the middle of a send: nothing hangs, nothing stays open.
TEST_F(JobResenderTest, DestroyedMidwayReleasesEverything) {
  const int before = OpenDescriptorCount();
  {
    TReceiver silent(AF_INET, 1, TReceiver::TMode::NeverReads);
    const std::string file = Capture("big.prn", Pattern(16 << 20));
    std::vector<std::string> lines;
    auto resender = std::make_unique<TJobResender>(
        std::vector<std::string>{file}, silent.Target(),
        TResendReport{[&](const std::string& text) { lines.push_back(text); },
                      [&](const std::string& text) { lines.push_back(text); }, [] {}});
    resender->Start();
    ASSERT_TRUE(WaitUntil([&] { return !lines.empty(); }));
    resender.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(lines.size(), 1u);
  }
  EXPECT_EQ(OpenDescriptorCount(), before);
}

}  // namespace
