// Load generator for the capture benchmarks. Each mode drives one scenario
// against a server listening on 127.0.0.1, waits until the capture files are
// complete, checks every byte, and prints its figures as key=value lines.
// Exit status: 0 when every check passed, 1 when a check failed or a bound
// was hit, 2 for a usage error.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "loopback_client.h"
#include "lpd_job.h"
#include "payload.h"
#include "raster_stream.h"
#include "status_replies.h"

using namespace bench;

namespace {

constexpr uint32_t kReadinessEvents = EPOLLIN | EPOLLRDHUP;
constexpr uint32_t kConnectEvents = EPOLLOUT;
constexpr int kSettleTimeoutSeconds = 30;

class TOptions {
 public:
  TOptions(int argc, char** argv) {
    for (int i = 2; i + 1 < argc; i += 2) {
      if (std::strncmp(argv[i], "--", 2) != 0)
        throw TBenchError(std::string("bad option ") + argv[i]);
      values_[argv[i] + 2] = argv[i + 1];
    }
    if (argc % 2 != 0) throw TBenchError("every option needs a value");
  }
  std::string Text(const std::string& key, const std::string& fallback = "") const {
    const auto found = values_.find(key);
    if (found != values_.end()) return found->second;
    if (fallback.empty()) throw TBenchError("missing --" + key);
    return fallback;
  }
  long long Number(const std::string& key, long long fallback = -1) const {
    const auto found = values_.find(key);
    if (found == values_.end()) {
      if (fallback < 0) throw TBenchError("missing --" + key);
      return fallback;
    }
    return std::stoll(found->second);
  }

 private:
  std::map<std::string, std::string> values_;
};

void Report(const char* key, double value) { std::printf("%s=%.6g\n", key, value); }
void Report(const char* key, long long value) { std::printf("%s=%lld\n", key, value); }
void Report(const char* key, const std::string& value) {
  std::printf("%s=%s\n", key, value.c_str());
}

int ReportCheck(const TCheckResult& check, const char* prefix) {
  const std::string p(prefix);
  Report((p + "_files").c_str(), static_cast<long long>(check.files));
  Report((p + "_bytes").c_str(), static_cast<long long>(check.bytes));
  char text[32];
  std::snprintf(text, sizeof text, "%016llx",
                static_cast<unsigned long long>(check.found_checksum));
  Report((p + "_checksum").c_str(), std::string(text));
  std::snprintf(text, sizeof text, "%016llx",
                static_cast<unsigned long long>(check.expected_checksum));
  Report((p + "_expected_checksum").c_str(), std::string(text));
  Report((p + "_ok").c_str(), check.ok ? 1LL : 0LL);
  if (!check.ok) {
    Report((p + "_problem").c_str(), check.problem);
    return 1;
  }
  return 0;
}

double Percentile(std::vector<double> samples, double fraction) {
  if (samples.empty()) return -1;
  std::sort(samples.begin(), samples.end());
  // Nearest rank: the smallest sample with at least `fraction` of them at or below it.
  const double rank = std::ceil(fraction * static_cast<double>(samples.size()));
  return samples[std::clamp<size_t>(static_cast<size_t>(rank), 1, samples.size()) - 1];
}

// Waits, within the settle bound, until the folder holds `bytes` bytes.
bool WaitForFolderBytes(const std::string& folder, int64_t bytes, double* when) {
  const double deadline = NowSeconds() + kSettleTimeoutSeconds;
  for (;;) {
    const int64_t found = FolderBytes(folder);
    *when = NowSeconds();
    if (found == bytes) return true;
    if (found > bytes || *when > deadline) return false;
    ::usleep(2000);
  }
}

// ---- new jobs on a second port while something else loads the server ----

struct TProbe {
  int fd = -1;
  uint32_t number = 0;
  double started = 0;
  bool sent = false;
  bool landed = false;
};

// Every interval a fresh client connects to the probe port, sends one small
// job and closes; its latency runs from the connect until the capture file
// holds the job. One probe at a time, so a slow one delays the next instead
// of piling up behind it. Its tags lie far above any connection index.
class TProbeSeries {
 public:
  TProbeSeries(TEpoll& loop, const TOptions& options)
      : loop_(loop),
        port_(static_cast<uint16_t>(options.Number("probe-port", 0))),
        file_(port_ == 0 ? "" : options.Text("probe-file")),
        size_(static_cast<size_t>(options.Number("probe-size", 64))),
        interval_ms_(static_cast<int>(options.Number("probe-interval-ms", 100))) {}

  bool Enabled() const { return port_ != 0; }
  static bool Owns(uint64_t tag) { return tag >= kTimerTag; }
  // The last probe started is in its file; one still connecting counts as
  // on its way, or stopping could leave it unsent and then unchecked.
  bool Settled() const { return started_ == 0 || probe_.landed; }

  void Start() {
    if (!Enabled()) return;
    watch_ = WatchFolder(file_.substr(0, file_.rfind('/')));
    timer_ = StartPeriodicTimer(interval_ms_);
    loop_.Add(watch_, EPOLLIN, kWatchTag);
    loop_.Add(timer_, EPOLLIN, kTimerTag);
  }

  void Stop() { stopped_ = true; }

  void Handle(uint64_t tag, uint32_t events) {
    switch (tag) {
      case kTimerTag:
        AcknowledgeTimer(timer_);
        return StartProbe();
      case kWatchTag:
        DrainWatch(watch_);
        return;
      default:
        return HandleProbe(tag - kProbeTag, events);
    }
  }

  void PollFile() {
    if (!probe_.sent || probe_.landed) return;
    const int64_t expected = static_cast<int64_t>((probe_.number + 1) * size_);
    if (FileSize(file_) < expected) return;
    probe_.landed = true;
    latencies_ms_.push_back((NowSeconds() - probe_.started) * 1000);
  }

  int Summarise() const {
    Report("probes", static_cast<long long>(latencies_ms_.size()));
    Report("probe_p50_ms", Percentile(latencies_ms_, 0.50));
    Report("probe_p99_ms", Percentile(latencies_ms_, 0.99));
    Report("probe_max_ms", Percentile(latencies_ms_, 1.0));
    return ReportCheck(CheckBlockSequenceFile(file_, started_, size_), "probe");
  }

 private:
  static constexpr uint64_t kTimerTag = uint64_t{1} << 40, kWatchTag = kTimerTag + 1,
                            kProbeTag = kTimerTag + 2;

  void StartProbe() {
    if (stopped_ || !Settled() || probe_.fd >= 0) return;
    probe_ = TProbe{};
    probe_.number = started_++;
    probe_.started = NowSeconds();
    probe_.fd = StartConnect(port_);
    loop_.Add(probe_.fd, kConnectEvents, kProbeTag + probe_.number);
  }

  void HandleProbe(uint64_t number, uint32_t events) {
    if (number != probe_.number || probe_.fd < 0) return;
    if (!probe_.sent) {
      if (const int error = ConnectOutcome(probe_.fd); error != 0)
        throw TBenchError(std::string("probe connect: ") + std::strerror(error));
      std::vector<uint8_t> job(size_);
      FillBlock(probe_.number, 0, job.data(), job.size());
      if (SendSome(probe_.fd, job.data(), job.size()) != job.size())
        throw TBenchError("a probe did not fit the socket buffer");
      ShutDownSending(probe_.fd);
      probe_.sent = true;
      loop_.Change(probe_.fd, kReadinessEvents, kProbeTag + probe_.number);
      return;
    }
    if ((events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) && PeerHasClosed(probe_.fd)) {
      loop_.Remove(probe_.fd);
      CloseHandle(probe_.fd);
      probe_.fd = -1;
    }
  }

  TEpoll& loop_;
  uint16_t port_;
  std::string file_;
  size_t size_;
  int interval_ms_;
  int timer_ = -1, watch_ = -1;
  bool stopped_ = false;
  TProbe probe_;
  uint32_t started_ = 0;
  std::vector<double> latencies_ms_;
};

// ---- one stream, with optional probes every interval ----

class TStreamRun {
 public:
  explicit TStreamRun(const TOptions& options)
      : port_(static_cast<uint16_t>(options.Number("port"))),
        bytes_(static_cast<uint64_t>(options.Number("bytes"))),
        file_(options.Text("file")),
        probes_(loop_, options),
        deadline_(NowSeconds() + static_cast<double>(options.Number("timeout-s", 300))) {}

  int Run() {
    started_ = NowSeconds();
    probes_.Start();
    stream_ = StartConnect(port_);
    loop_.Add(stream_, kConnectEvents, kStreamTag);
    while (!Finished()) {
      if (NowSeconds() > deadline_) {
        Report("problem", std::string("time bound reached"));
        return 1;
      }
      for (const epoll_event& event : loop_.Wait(peer_closed_ ? 1 : 50)) Handle(event);
      PollStreamFile();
      probes_.PollFile();
    }
    return Summarise();
  }

 private:
  static constexpr uint64_t kStreamTag = 1;

  bool Finished() const { return stream_complete_ && probes_.Settled(); }

  void Handle(const epoll_event& event) {
    if (TProbeSeries::Owns(event.data.u64)) return probes_.Handle(event.data.u64, event.events);
    HandleStream(event.events);
  }

  void HandleStream(uint32_t events) {
    if (sent_ < bytes_) {
      if (!connected_) {
        if (const int error = ConnectOutcome(stream_); error != 0)
          throw TBenchError(std::string("stream connect: ") + std::strerror(error));
        connected_ = true;
      }
      if (events & (EPOLLERR | EPOLLHUP)) throw TBenchError("the server closed the stream early");
      SendStream();
      return;
    }
    if (PeerHasClosed(stream_)) {
      peer_closed_ = true;
      loop_.Remove(stream_);
      CloseHandle(stream_);
    }
  }

  void SendStream() {
    for (int round = 0; round < 64 && sent_ < bytes_; ++round) {
      size_t contiguous = 0;
      const uint8_t* data = pattern_.At(sent_, &contiguous);
      const size_t want =
          static_cast<size_t>(std::min<uint64_t>({contiguous, bytes_ - sent_, 1u << 18}));
      const size_t sent = SendSome(stream_, data, want);
      if (sent == 0) return;
      sent_ += sent;
    }
    if (sent_ == bytes_) {
      ShutDownSending(stream_);
      loop_.Change(stream_, kReadinessEvents, kStreamTag);
    }
  }

  void PollStreamFile() {
    if (!peer_closed_ || stream_complete_) return;
    const int64_t size = FileSize(file_);
    if (size > static_cast<int64_t>(bytes_)) throw TBenchError("the capture file grew too large");
    if (size == static_cast<int64_t>(bytes_)) {
      stream_complete_ = true;
      completed_ = NowSeconds();
      probes_.Stop();
    }
  }

  int Summarise() {
    const double seconds = completed_ - started_;
    Report("seconds", seconds);
    Report("mib_per_s", static_cast<double>(bytes_) / (1 << 20) / seconds);
    TCheckResult check = CheckStreamFile(file_, bytes_, pattern_);
    int status = ReportCheck(check, "stream");
    if (probes_.Enabled()) status |= probes_.Summarise();
    return status;
  }

  TEpoll loop_;
  TStreamPattern pattern_;
  uint16_t port_;
  uint64_t bytes_;
  std::string file_;
  TProbeSeries probes_;
  double deadline_;
  int stream_ = -1;
  uint64_t sent_ = 0;
  bool connected_ = false, peer_closed_ = false, stream_complete_ = false;
  double started_ = 0, completed_ = 0;
};

// ---- many short jobs, a fixed number of clients at a time ----

struct TJobSlot {
  enum class TStage { Idle, Connecting, Sending, AwaitingClose } stage = TStage::Idle;
  int fd = -1;
  uint32_t job = 0;
  size_t sent = 0;
  double started = 0;
  std::vector<uint8_t> bytes;
};

class TJobsRun {
 public:
  explicit TJobsRun(const TOptions& options)
      : port_(static_cast<uint16_t>(options.Number("port"))),
        jobs_(static_cast<uint32_t>(options.Number("count"))),
        size_(static_cast<size_t>(options.Number("size"))),
        folder_(options.Text("dir")),
        slots_(static_cast<size_t>(options.Number("clients"))),
        deadline_(NowSeconds() + static_cast<double>(options.Number("timeout-s", 300))) {}

  int Run() {
    const double started = NowSeconds();
    for (size_t slot = 0; slot < slots_.size(); ++slot) StartJob(slot);
    while (finished_ < jobs_) {
      if (NowSeconds() > deadline_) return Fail("time bound reached");
      for (const epoll_event& event : loop_.Wait(50)) Handle(event.data.u64, event.events);
    }
    double completed = 0;
    if (!WaitForFolderBytes(folder_, int64_t{jobs_} * static_cast<int64_t>(size_), &completed))
      return Fail("the capture files did not reach the bytes sent");
    const double seconds = completed - started;
    Report("seconds", seconds);
    Report("connections_per_s", jobs_ / seconds);
    // A job runs from its connect until the server has closed it. With one
    // client at a time, the median job is the steadier figure on a busy
    // machine: a stall for another process lengthens a few jobs, not the
    // middle one.
    Report("job_p50_ms", Percentile(job_ms_, 0.50));
    Report("connect_p50_ms", Percentile(connect_ms_, 0.50));
    Report("connect_p99_ms", Percentile(connect_ms_, 0.99));
    Report("connect_max_ms", Percentile(connect_ms_, 1.0));
    // A connect that took a second or more waited for a SYN retry: the
    // server's listen backlog was full.
    Report("connects_retried",
           static_cast<long long>(std::count_if(connect_ms_.begin(), connect_ms_.end(),
                                                [](double ms) { return ms >= 900; })));
    return ReportCheck(CheckBlockFolder(folder_, jobs_, 1, size_), "jobs");
  }

 private:
  int Fail(const std::string& problem) {
    Report("jobs_finished", static_cast<long long>(finished_));
    Report("problem", problem);
    return 1;
  }

  void StartJob(size_t index) {
    TJobSlot& slot = slots_[index];
    if (next_job_ >= jobs_) {
      slot.stage = TJobSlot::TStage::Idle;
      return;
    }
    slot.job = next_job_++;
    slot.sent = 0;
    slot.bytes.resize(size_);
    FillBlock(slot.job, 0, slot.bytes.data(), size_);
    slot.started = NowSeconds();
    slot.fd = StartConnect(port_);
    slot.stage = TJobSlot::TStage::Connecting;
    loop_.Add(slot.fd, kConnectEvents, index);
  }

  void Handle(size_t index, uint32_t events) {
    TJobSlot& slot = slots_[index];
    switch (slot.stage) {
      case TJobSlot::TStage::Connecting:
        if (const int error = ConnectOutcome(slot.fd); error != 0)
          throw TBenchError(std::string("job connect: ") + std::strerror(error));
        connect_ms_.push_back((NowSeconds() - slot.started) * 1000);
        slot.stage = TJobSlot::TStage::Sending;
        [[fallthrough]];
      case TJobSlot::TStage::Sending:
        if (events & (EPOLLERR | EPOLLHUP)) throw TBenchError("the server closed a job early");
        slot.sent += SendSome(slot.fd, slot.bytes.data() + slot.sent, size_ - slot.sent);
        if (slot.sent == size_) {
          ShutDownSending(slot.fd);
          slot.stage = TJobSlot::TStage::AwaitingClose;
          loop_.Change(slot.fd, kReadinessEvents, index);
        }
        return;
      case TJobSlot::TStage::AwaitingClose:
        if (!PeerHasClosed(slot.fd)) return;
        loop_.Remove(slot.fd);
        CloseHandle(slot.fd);
        slot.fd = -1;
        job_ms_.push_back((NowSeconds() - slot.started) * 1000);
        ++finished_;
        StartJob(index);
        return;
      case TJobSlot::TStage::Idle:
        return;
    }
  }

  TEpoll loop_;
  uint16_t port_;
  uint32_t jobs_;
  size_t size_;
  std::string folder_;
  std::vector<TJobSlot> slots_;
  double deadline_;
  uint32_t next_job_ = 0, finished_ = 0;
  std::vector<double> connect_ms_, job_ms_;
};

// ---- many connections held open, each sending one block per interval ----

double CpuSecondsUsed() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

class THoldRun {
 public:
  explicit THoldRun(const TOptions& options)
      : port_(static_cast<uint16_t>(options.Number("port"))),
        count_(static_cast<uint32_t>(options.Number("count"))),
        size_(static_cast<size_t>(options.Number("size"))),
        rounds_(static_cast<uint32_t>(options.Number("rounds"))),
        interval_(static_cast<double>(options.Number("interval-ms")) / 1000),
        folder_(options.Text("dir")),
        pid_(static_cast<pid_t>(options.Number("pid"))),
        connecting_limit_(static_cast<uint32_t>(options.Number("ahead", 4))),
        phase_bound_(static_cast<double>(options.Number("timeout-s", 120))),
        settle_before_close_(options.Number("settle-before-close", 0) != 0),
        probes_(loop_, options),
        fds_(count_, -1),
        established_(count_, false) {}

  int Run() {
    const int64_t base_kib = ResidentKibOf(pid_), base_handles = OpenHandlesOf(pid_);
    const double started = NowSeconds();
    if (!OpenAll(started + phase_bound_, base_handles))
      return Fail("not every connection was established");
    Report("open_seconds", NowSeconds() - started);
    Sample();
    if (!SendSpread()) return Fail("the sends fell behind their time bound");
    if (!SettleProbes(NowSeconds() + phase_bound_))
      return Fail("the last probe never reached its file");
    if (dropped_ != 0)
      return Fail(std::to_string(dropped_) + " connections were closed by the server");
    Report("held", static_cast<long long>(count_));
    Report("rss_base_kib", static_cast<long long>(base_kib));
    Report("rss_peak_kib", static_cast<long long>(peak_kib_));
    Report("kib_per_connection", static_cast<double>(peak_kib_ - base_kib) / count_);
    Report("server_handles_base", static_cast<long long>(base_handles));
    Report("server_handles_peak", static_cast<long long>(peak_handles_));
    const int64_t total = int64_t{count_} * rounds_ * static_cast<int64_t>(size_);
    double completed = 0;
    // Measuring the close alone: every byte is stored before the first
    // connection ends, so the time is that of the close handling.
    if (settle_before_close_ && !WaitForFolderBytes(folder_, total, &completed))
      return Fail("the capture files did not reach the bytes sent before the close");
    const double closing = NowSeconds();
    const int64_t closing_ticks = CpuTicksOf(pid_);
    if (!CloseAll(closing + phase_bound_)) return Fail("the server did not close every connection");
    Report("close_seconds", NowSeconds() - closing);
    // The server's own CPU time for the closes: on a busy machine the wall
    // time above also counts the time others held the cores.
    Report("close_cpu_seconds", static_cast<double>(CpuTicksOf(pid_) - closing_ticks) /
                                    static_cast<double>(::sysconf(_SC_CLK_TCK)));
    if (!WaitForFolderBytes(folder_, total, &completed))
      return Fail("the capture files did not reach the bytes sent");
    int status = ReportCheck(CheckBlockFolder(folder_, count_, rounds_, size_), "hold");
    if (probes_.Enabled()) status |= probes_.Summarise();
    return status;
  }

 private:
  int Fail(const std::string& problem) {
    Report("problem", problem);
    return 1;
  }

  void Sample() {
    peak_kib_ = std::max(peak_kib_, ResidentKibOf(pid_));
    peak_handles_ = std::max(peak_handles_, OpenHandlesOf(pid_));
  }

  // On loopback a connect completes inside the call, before the server has
  // accepted, and a short listen queue drops every SYN beyond it (the peer
  // retries after a second). So at most a few connections are started ahead
  // of what the server's handle count shows it has taken.
  bool OpenAll(double deadline, int64_t base_handles) {
    uint32_t next = 0, open = 0;
    int64_t accepted = 0;
    double progressed = NowSeconds();
    while (open < count_) {
      if (next < count_ && next - accepted >= connecting_limit_) {
        const int64_t handles = OpenHandlesOf(pid_) - base_handles;
        if (handles > accepted) {
          accepted = handles;
          progressed = NowSeconds();
        } else if (NowSeconds() - progressed > 0.05) {
          if (!ProcessRunning(pid_)) return false;
          // A server that hands connections to other processes keeps no
          // handle for them; established ones then count as taken.
          accepted = open;
          progressed = NowSeconds();
        }
      }
      while (next < count_ && next - accepted < connecting_limit_) {
        fds_[next] = StartConnect(port_);
        loop_.Add(fds_[next], kConnectEvents, next);
        ++next;
      }
      if (NowSeconds() > deadline) return false;
      for (const epoll_event& event : loop_.Wait(1)) {
        const uint32_t index = static_cast<uint32_t>(event.data.u64);
        if (established_[index]) {
          NoteServerClose(index);
          continue;
        }
        if (const int error = ConnectOutcome(fds_[index]); error != 0)
          throw TBenchError(std::string("hold connect: ") + std::strerror(error));
        established_[index] = true;
        loop_.Change(fds_[index], kReadinessEvents, index);
        ++open;
      }
    }
    return true;
  }

  void NoteServerClose(uint32_t index) {
    if (fds_[index] < 0 || !PeerHasClosed(fds_[index])) return;
    loop_.Remove(fds_[index]);
    CloseHandle(fds_[index]);
    fds_[index] = -1;
    ++dropped_;
  }

  void Dispatch(const epoll_event& event) {
    if (TProbeSeries::Owns(event.data.u64)) return probes_.Handle(event.data.u64, event.events);
    NoteServerClose(static_cast<uint32_t>(event.data.u64));
  }

  // Block k (round k / count, connection k % count) is due k / count
  // intervals after the start: every connection sends once an interval, and
  // the sends of one interval are spread evenly over it rather than arriving
  // as one burst. The server's CPU time is taken over exactly those rounds,
  // while the probes run alongside.
  bool SendSpread() {
    const uint64_t total = uint64_t{count_} * rounds_;
    const double start = NowSeconds(), end = start + rounds_ * interval_;
    const int64_t server_ticks = CpuTicksOf(pid_);
    const double own_cpu = CpuSecondsUsed();
    probes_.Start();
    uint64_t next = 0;
    double next_sample = start + interval_ / 2;
    for (double now = start; next < total || now < end; now = NowSeconds()) {
      if (now > end + phase_bound_) return false;
      const double elapsed_blocks = (now - start) / interval_ * count_;
      const uint64_t due = std::min<uint64_t>(total, static_cast<uint64_t>(elapsed_blocks) + 1);
      for (; next < due; ++next)
        SendBlock(static_cast<uint32_t>(next % count_), static_cast<uint32_t>(next / count_));
      if (now >= next_sample) {
        Sample();
        next_sample += interval_ / 2;
      }
      for (const epoll_event& event : loop_.Wait(1)) Dispatch(event);
      probes_.PollFile();
    }
    const double seconds = NowSeconds() - start;
    const int64_t ticks = CpuTicksOf(pid_) - server_ticks;
    probes_.Stop();
    Sample();
    Report("window_seconds", seconds);
    Report("server_cpu_percent", 100.0 * static_cast<double>(ticks) /
                                     static_cast<double>(::sysconf(_SC_CLK_TCK)) / seconds);
    Report("load_cpu_percent", 100.0 * (CpuSecondsUsed() - own_cpu) / seconds);
    return true;
  }

  void SendBlock(uint32_t index, uint32_t round) {
    if (fds_[index] < 0) return;
    block_.resize(size_);
    FillBlock(index, round, block_.data(), size_);
    if (SendSome(fds_[index], block_.data(), size_) != size_)
      throw TBenchError("a block did not fit the socket buffer");
  }

  bool SettleProbes(double deadline) {
    while (!probes_.Settled()) {
      if (NowSeconds() > deadline || !ProcessRunning(pid_)) return false;
      for (const epoll_event& event : loop_.Wait(1)) Dispatch(event);
      probes_.PollFile();
    }
    return true;
  }

  bool CloseAll(double deadline) {
    uint32_t open = 0;
    for (uint32_t index = 0; index < count_; ++index)
      if (fds_[index] >= 0) {
        ShutDownSending(fds_[index]);
        ++open;
      }
    while (open > 0) {
      if (NowSeconds() > deadline || !ProcessRunning(pid_)) return false;
      for (const epoll_event& event : loop_.Wait(50)) {
        if (TProbeSeries::Owns(event.data.u64)) {
          probes_.Handle(event.data.u64, event.events);
          continue;
        }
        const uint32_t index = static_cast<uint32_t>(event.data.u64);
        if (fds_[index] < 0 || !PeerHasClosed(fds_[index])) continue;
        loop_.Remove(fds_[index]);
        CloseHandle(fds_[index]);
        fds_[index] = -1;
        --open;
      }
    }
    return true;
  }

  TEpoll loop_;
  uint16_t port_;
  uint32_t count_;
  size_t size_;
  uint32_t rounds_;
  double interval_;
  std::string folder_;
  pid_t pid_;
  uint32_t connecting_limit_;
  double phase_bound_;
  bool settle_before_close_;
  TProbeSeries probes_;
  std::vector<int> fds_;
  std::vector<bool> established_;
  std::vector<uint8_t> block_;
  uint32_t dropped_ = 0;
  int64_t peak_kib_ = 0, peak_handles_ = 0;
};

// ---- what storing in small pieces costs by itself, without any network ----

void WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) throw TBenchError("write failed");
    data += written;
    size -= static_cast<size_t>(written);
  }
}

int RunStorageFloor(const TOptions& options) {
  const uint64_t bytes = static_cast<uint64_t>(options.Number("bytes"));
  const std::string file = options.Text("file");
  const size_t chunk = static_cast<size_t>(options.Number("chunk"));
  const size_t piece = static_cast<size_t>(options.Number("write-size"));
  const bool reopen = options.Number("reopen") != 0;
  const TStreamPattern pattern;
  ::unlink(file.c_str());
  const double started = NowSeconds(), cpu_started = CpuSecondsUsed();
  int fd = -1;
  for (uint64_t offset = 0; offset < bytes;) {
    if (fd < 0) fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) throw TBenchError("cannot open " + file);
    size_t contiguous = 0;
    const uint8_t* data = pattern.At(offset, &contiguous);
    const size_t take =
        static_cast<size_t>(std::min<uint64_t>({chunk, contiguous, bytes - offset}));
    for (size_t at = 0; at < take; at += piece) WriteAll(fd, data + at, std::min(piece, take - at));
    offset += take;
    if (reopen) {
      ::close(fd);
      fd = -1;
    }
  }
  if (fd >= 0) ::close(fd);
  const double seconds = NowSeconds() - started;
  Report("mib_per_s", static_cast<double>(bytes) / (1 << 20) / seconds);
  Report("cpu_s_per_gib",
         (CpuSecondsUsed() - cpu_started) / (static_cast<double>(bytes) / (1 << 30)));
  return ReportCheck(CheckStreamFile(file, bytes, pattern), "floor");
}

// ---- status queries answered one at a time, optionally beside a raster stream ----

TReplyRunSettings ReplySettingsFrom(const TOptions& options) {
  TReplyRunSettings settings;
  settings.port = static_cast<uint16_t>(options.Number("port"));
  settings.queries = static_cast<uint32_t>(options.Number("queries"));
  settings.warm_queries = static_cast<uint32_t>(options.Number("warm-queries", 20));
  settings.reply_timeout_ms = static_cast<int>(options.Number("reply-timeout-ms", 2000));
  settings.raster = options.Number("raster", 0) != 0;
  settings.raster_mib_per_s = static_cast<double>(options.Number("raster-mib-per-s", 0));
  settings.capture_dir = options.Text("dir", "-");
  if (settings.capture_dir == "-") settings.capture_dir.clear();
  return settings;
}

// A server that never answers is a figure ("no reply"), not a failure; a
// wrong reply, a lost capture byte or a missed close bound is.
int ReportStatusReplies(const TReplyRunSettings& settings, const TReplyRunResult& result) {
  Report("queries_sent", static_cast<long long>(result.queries_sent));
  Report("replies_timed", static_cast<long long>(result.latencies_us.size()));
  if (result.unanswered_query != 0) {
    Report("unanswered_query", static_cast<long long>(result.unanswered_query));
    Report("reply_timeout_ms", static_cast<long long>(settings.reply_timeout_ms));
  }
  if (!result.latencies_us.empty()) {
    Report("reply_p50_us", Percentile(result.latencies_us, 0.50));
    Report("reply_p99_us", Percentile(result.latencies_us, 0.99));
    Report("reply_max_us", Percentile(result.latencies_us, 1.0));
  }
  Report("bytes_after_replies", static_cast<long long>(result.bytes_after_replies));
  if (settings.raster) {
    const double mib =
        static_cast<double>(result.raster_blocks * TRasterStream::kBlockSize) / (1 << 20);
    Report("raster_mib", mib);
    Report("raster_mib_per_s", result.raster_seconds > 0 ? mib / result.raster_seconds : 0);
    Report("raster_reply_bytes", static_cast<long long>(result.raster_reply_bytes));
  }
  int status = 0;
  if (result.captures_checked) status |= ReportCheck(result.captures, "capture");
  if (!result.problem.empty()) {
    Report("problem", result.problem);
    status = 1;
  }
  return status;
}

int RunStatusReplyMode(const TOptions& options) {
  const TReplyRunSettings settings = ReplySettingsFrom(options);
  return ReportStatusReplies(settings, RunStatusReplies(settings));
}

// ---- one job sent as a line printer client sends it ----

// The figure runs from the connect until the data file's acknowledgement,
// the end a client sees; the capture's completion, a raw stream's end, is
// reported beside it.
int RunLpdJobMode(const TOptions& options) {
  TLpdJobSettings settings;
  settings.port = static_cast<uint16_t>(options.Number("port"));
  settings.bytes = static_cast<uint64_t>(options.Number("bytes"));
  settings.queue = options.Text("queue", "bench");
  settings.capture_file = options.Text("file", "-");
  if (settings.capture_file == "-") settings.capture_file.clear();
  settings.timeout_s = static_cast<int>(options.Number("timeout-s", 300));
  const TStreamPattern pattern;
  const TLpdJobResult result = SendLpdJob(settings, pattern);
  const double mib = static_cast<double>(settings.bytes) / (1 << 20);
  Report("seconds", result.ack_seconds);
  Report("mib_per_s", mib / result.ack_seconds);
  if (!result.capture_checked) return 0;
  if (result.complete_seconds > 0) {
    Report("complete_seconds", result.complete_seconds);
    Report("complete_mib_per_s", mib / result.complete_seconds);
  }
  return ReportCheck(result.capture, "stream");
}

int Usage() {
  std::fprintf(
      stderr,
      "usage: tarnock_load stream --port P --bytes N --file F [--probe-port Q --probe-file G\n"
      "                           --probe-size 64 --probe-interval-ms 100] [--timeout-s T]\n"
      "       tarnock_load jobs --port P --count N --size S --clients C --dir D [--timeout-s T]\n"
      "       tarnock_load hold --port P --count N --size S --rounds R --interval-ms I --dir D\n"
      "                         --pid PID [--ahead 4] [--timeout-s T] [--settle-before-close 0|1]\n"
      "                         [--probe-port Q --probe-file G"
      "                         --probe-size 64 --probe-interval-ms 100]\n"
      "       tarnock_load floor --bytes N --file F --chunk C --write-size W --reopen 0|1\n"
      "       tarnock_load reply --port P --queries N [--warm-queries 20] [--reply-timeout-ms "
      "2000]\n"
      "                          [--raster 0|1 --raster-mib-per-s 0] [--dir D]\n"
      "       tarnock_load lpd --port P --bytes N [--queue bench] [--file F] [--timeout-s T]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string mode = argv[1];
  RaiseOpenFileLimit();
  try {
    const TOptions options(argc, argv);
    if (mode == "stream") return TStreamRun(options).Run();
    if (mode == "jobs") return TJobsRun(options).Run();
    if (mode == "hold") return THoldRun(options).Run();
    if (mode == "floor") return RunStorageFloor(options);
    if (mode == "reply") return RunStatusReplyMode(options);
    if (mode == "lpd") return RunLpdJobMode(options);
    return Usage();
  } catch (const TBenchError& error) {
    Report("problem", std::string(error.what()));
    return 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tarnock_load: %s\n", error.what());
    return 2;
  }
}
