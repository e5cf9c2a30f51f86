#include "jobs/after_job.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

#include "base/call_table.h"
#include "base/log_writer.h"
#include "base/text.h"

extern char** environ;

namespace {

constexpr const char* kVariablePrefix = "TARNOCK_";
// Without a pidfd (an old kernel) the exit is looked for this often.
constexpr int kReapPollMs = 50;

std::string AbsoluteFileName(const TJob& record) {
  if (record.Outcome == TJob::TOutcome::DeletedEmpty || record.FileName.empty()) return {};
  std::error_code ignored;
  const std::filesystem::path absolute = std::filesystem::absolute(record.FileName, ignored);
  return absolute.empty() ? record.FileName : absolute.string();
}

int OpenPidHandle(pid_t pid) {
#ifdef SYS_pidfd_open
  // A pidfd is close-on-exec from birth.
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  return -1;
#endif
}

void CloseHandle(int& handle) {
  if (handle >= 0) ::close(handle);
  handle = -1;
}

// Spawn attributes: signals we ignore (a broken pipe, for one) are the
// command's own again, nothing is blocked, and its process group is its
// own, so that a too-long command is ended with everything it started and
// a Ctrl+C meant for us never reaches it.
class TSpawnAttributes {
 public:
  TSpawnAttributes() {
    ::posix_spawnattr_init(&attributes_);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signalNumber : {SIGPIPE, SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGCHLD})
      sigaddset(&defaults, signalNumber);
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

// Descriptors for the command: /dev/null in, our pipe out for both output
// channels, and every other descriptor closed, whatever flag it carries (the
// program has sockets and a log thread of its own).
class TSpawnDescriptors {
 public:
  TSpawnDescriptors(int outputHandle, const std::string& folder) {
    ::posix_spawn_file_actions_init(&actions_);
    if (!folder.empty()) ::posix_spawn_file_actions_addchdir_np(&actions_, folder.c_str());
    ::posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions_, outputHandle, 1);
    ::posix_spawn_file_actions_adddup2(&actions_, outputHandle, 2);
    ::posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
  }
  ~TSpawnDescriptors() { ::posix_spawn_file_actions_destroy(&actions_); }
  TSpawnDescriptors(const TSpawnDescriptors&) = delete;
  TSpawnDescriptors& operator=(const TSpawnDescriptors&) = delete;
  const posix_spawn_file_actions_t* Get() const { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  pointers.reserve(texts.size() + 1);
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

std::vector<std::string> AfterJobEnvironment(const TJob& record) {
  std::vector<std::string> environment;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, kVariablePrefix, std::strlen(kVariablePrefix)) != 0)
      environment.emplace_back(*entry);
  }
  const std::string prefix = kVariablePrefix;
  environment.push_back(prefix + "FILE=" + AbsoluteFileName(record));
  environment.push_back(prefix + "PORT=" + record.Port);
  environment.push_back(prefix + "PEER=" + record.PeerAddress);
  environment.push_back(prefix + "PEER_PORT=" + FormatInteger(record.PeerPort));
  environment.push_back(prefix +
                        "BYTES=" + (record.FileSize < 0 ? "" : FormatInteger(record.FileSize)));
  environment.push_back(prefix + "STARTED=" + FormatLocalIsoTime(record.Start));
  environment.push_back(prefix + "ENDED=" + FormatLocalIsoTime(record.End));
  environment.push_back(prefix + "OUTCOME=" + record.OutcomeText());
  return environment;
}

std::string DescribeWaitStatus(int status) {
  if (WIFSIGNALED(status)) return "killed by signal " + FormatInteger(WTERMSIG(status));
  return "exit status " + FormatInteger(WEXITSTATUS(status));
}

// ---------------------------------------------------------------------------
// One run

TAfterJobRun::TAfterJobRun(TJob record, std::string commandLine, int seconds,
                           TOutputLine outputLine, TFinished finished)
    : record_(std::move(record)),
      commandLine_(std::move(commandLine)),
      seconds_(seconds),
      outputLine_(std::move(outputLine)),
      finished_callback_(std::move(finished)) {}

TAfterJobRun::~TAfterJobRun() { Release(); }

bool TAfterJobRun::Start() {
  int pipeHandles[2];
  if (::pipe2(pipeHandles, O_CLOEXEC) != 0) {
    failure_ = std::string("cannot start: ") + std::strerror(errno);
    return false;
  }
  outputHandle_ = pipeHandles[0];
  ::fcntl(outputHandle_, F_SETFL, ::fcntl(outputHandle_, F_GETFL) | O_NONBLOCK);
  std::vector<std::string> arguments{"sh", "-c", commandLine_};
  std::vector<std::string> environment = AfterJobEnvironment(record_);
  std::vector<char*> argumentPointers = Pointers(arguments);
  std::vector<char*> environmentPointers = Pointers(environment);
  const TSpawnAttributes attributes;
  const int spawned = [&] {
    const TSpawnDescriptors descriptors(pipeHandles[1], record_.Folder);
    return ::posix_spawn(&pid_, "/bin/sh", descriptors.Get(), attributes.Get(),
                         argumentPointers.data(), environmentPointers.data());
  }();
  ::close(pipeHandles[1]);
  if (spawned != 0) {
    pid_ = -1;
    failure_ = std::string("cannot start: ") + std::strerror(spawned);
    Release();
    return false;
  }
  outputNotifier_ = new QSocketNotifier(outputHandle_, QSocketNotifier::Read, this);
  connect(outputNotifier_, &QSocketNotifier::activated, this, [this] { ReadOutput(); });
  pidHandle_ = OpenPidHandle(pid_);
  if (pidHandle_ >= 0) {
    exitNotifier_ = new QSocketNotifier(pidHandle_, QSocketNotifier::Read, this);
    connect(exitNotifier_, &QSocketNotifier::activated, this, [this] { Reap(); });
  } else {
    reapPoll_ = new QTimer(this);
    connect(reapPoll_, &QTimer::timeout, this, [this] { Reap(); });
    reapPoll_->start(kReapPollMs);
  }
  deadline_ = new QTimer(this);
  deadline_->setSingleShot(true);
  connect(deadline_, &QTimer::timeout, this, [this] { EndTooLong(); });
  deadline_->start(seconds_ * 1000);
  return true;
}

void TAfterJobRun::EndTooLong() {
  if (pid_ <= 0) return;
  if (!timedOut_) {
    timedOut_ = true;
    ::kill(-pid_, SIGTERM);
    deadline_->start(kKillGraceMs);
    return;
  }
  ::kill(-pid_, SIGKILL);
}

void TAfterJobRun::ReadOutput() {
  char chunk[4096];
  for (;;) {
    const ssize_t got = RetryOnEintr([&] { return ::read(outputHandle_, chunk, sizeof chunk); });
    if (got > 0) {
      PassOn(std::string(chunk, static_cast<std::size_t>(got)));
      continue;
    }
    // End of output: whoever still holds the pipe has closed it.
    if (got == 0 && outputNotifier_ != nullptr) outputNotifier_->setEnabled(false);
    return;
  }
}

void TAfterJobRun::PassOn(const std::string& text) {
  for (char byte : text) {
    if (outputPassed_ >= kOutputLimit) {
      ++outputDropped_;
      continue;
    }
    ++outputPassed_;
    if (byte == '\n') {
      outputLine_(partialLine_);
      partialLine_.clear();
    } else if (partialLine_.size() < kLineLimit) {
      partialLine_ += byte;
    }
  }
}

void TAfterJobRun::FlushOutput() {
  if (!partialLine_.empty()) outputLine_(partialLine_);
  partialLine_.clear();
  if (outputDropped_ > 0) {
    // Appended piece by piece: "(" + a temporary makes GCC 12 at -O3 warn
    // of an overlap that cannot happen.
    std::string notice = "(";
    notice += FormatInteger(outputDropped_);
    notice += " more bytes of output not shown)";
    outputLine_(notice);
  }
}

void TAfterJobRun::Reap() {
  int status = 0;
  const pid_t reaped = ::waitpid(pid_, &status, WNOHANG);
  if (reaped == 0 || (reaped < 0 && errno == EINTR)) return;
  pid_ = -1;
  // What the command wrote before it ended is in the pipe now; a child it
  // left behind may hold the pipe open, so only what is there is taken.
  ReadOutput();
  FlushOutput();
  if (reaped < 0)
    failure_ = std::string("cannot wait: ") + std::strerror(errno);
  else if (timedOut_)
    failure_ = "ran longer than " + FormatInteger(seconds_) + " s, " + DescribeWaitStatus(status);
  else if (!(WIFEXITED(status) && WEXITSTATUS(status) == 0))
    failure_ = DescribeWaitStatus(status);
  Release();
  finished_ = true;
  if (finished_callback_) finished_callback_(*this);
}

void TAfterJobRun::Release() {
  delete exitNotifier_;
  exitNotifier_ = nullptr;
  delete outputNotifier_;
  outputNotifier_ = nullptr;
  delete reapPoll_;
  reapPoll_ = nullptr;
  delete deadline_;
  deadline_ = nullptr;
  CloseHandle(pidHandle_);
  CloseHandle(outputHandle_);
}

// ---------------------------------------------------------------------------
// The queue

TAfterJobRunner::TAfterJobRunner(TReport report, std::size_t queueBound)
    : report_(std::move(report)), queueBound_(queueBound) {}

TAfterJobRunner::~TAfterJobRunner() {
  std::string notRun;
  for (const TWaitingJob& job : waiting_)
    notRun += "After-job command not run: " + job.Record.FileName + "\n";
  if (!notRun.empty()) StandardErrorLog().Write(notRun);
}

void TAfterJobRunner::Run(const TJob& record, const std::string& commandLine, int parallel,
                          int seconds) {
  // The jobs that were here when their command ended are done with.
  std::erase_if(running_, [](const auto& run) { return run->Finished(); });
  parallel_ = static_cast<std::size_t>(parallel < 1 ? 1 : parallel);
  if (waiting_.size() >= queueBound_) {
    report_("After-job queue full (" + FormatInteger(static_cast<int64_t>(queueBound_)) +
            " jobs waiting), not run for " + record.FileName);
    return;
  }
  waiting_.push_back(TWaitingJob{record, commandLine, seconds});
  StartWaiting();
}

std::size_t TAfterJobRunner::Running() const {
  std::size_t count = 0;
  for (const auto& run : running_) count += run->Finished() ? 0u : 1u;
  return count;
}

void TAfterJobRunner::StartWaiting() {
  while (!waiting_.empty() && Running() < parallel_) {
    TWaitingJob job = std::move(waiting_.front());
    waiting_.pop_front();
    const std::string file = job.Record.FileName;
    auto run = std::make_unique<TAfterJobRun>(
        std::move(job.Record), std::move(job.CommandLine), job.Seconds,
        [file](const std::string& line) { StandardErrorLog().Write(file + ": " + line + "\n"); },
        [this](TAfterJobRun& ended) { Finished(ended); });
    if (!run->Start()) {
      report_("After-job command for " + file + ": " + run->Failure());
      continue;
    }
    running_.push_back(std::move(run));
  }
}

void TAfterJobRunner::Finished(TAfterJobRun& run) {
  if (!run.Failure().empty())
    report_("After-job command for " + run.Record().FileName + ": " + run.Failure());
  // The run that calls here is still on its way out; the others have ended.
  std::erase_if(running_,
                [&run](const auto& other) { return other->Finished() && other.get() != &run; });
  StartWaiting();
}
