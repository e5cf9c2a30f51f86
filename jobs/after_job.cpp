#include "jobs/after_job.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

#include "base/spawn_setup.h"
#include "base/system_calls.h"
#include "base/text.h"
#include "jobs/exit_watch.h"
#include "jobs/group_deadline.h"

extern char** environ;

namespace {

constexpr const char* kVariablePrefix = "TARNOCK_";
// What one read of the output takes at most.
constexpr std::size_t kReadPiece = 64 * 1024;

// Takes over the output of a command the program leaves running at its end,
// with the same rules as TAfterJobRun: $1 the capture file's name, $2 the
// bytes its lines may still take as written, $3 the bytes not shown so far,
// $4 the start of a line already read, $5 and $6 how many bytes past the
// bound are taken at a time and the pause after each. Lines are cut at
// 1,000 bytes before they are read, so that an endless line costs no
// memory. The copier runs in the background, so the shell that starts it
// ends at once; the command's output arrives on descriptor 3.
constexpr const char* kPassOnScript = R"script(
(
exec <&3 3<&-
name=$1 left=$2 dropped=$3 line=$4
cut -b 1-1000 | {
  while [ "$dropped" -eq 0 ]; do
    end=0
    IFS= read -r rest || end=1
    line=$line$rest
    [ "$end" -eq 1 ] && [ -z "$line" ] && break
    shown=${#line}
    [ "$shown" -le 1000 ] || shown=1000
    cost=$((${#name} + 3 + shown))
    if [ "$cost" -le "$left" ]; then
      printf '%s: %.1000s\n' "$name" "$line"
      left=$((left - cost))
    else
      dropped=$((${#line} + 1 - end))
    fi
    line=
    [ "$end" -eq 0 ] || break
  done
  while got=$(head -c "$5" | wc -c); [ "$((got))" -gt 0 ]; do
    dropped=$((dropped + got))
    sleep "$6"
  done
  [ "$dropped" -eq 0 ] || printf '%s: (%s more bytes of output not shown)\n' "$name" "$dropped"
}
) &
)script";

std::string AbsoluteFileName(const TJob& record) {
  if (record.Outcome == TJob::TOutcome::DeletedEmpty || record.FileName.empty()) return {};
  std::error_code ignored;
  const std::filesystem::path absolute = std::filesystem::absolute(record.FileName, ignored);
  return absolute.empty() ? record.FileName : absolute.string();
}

std::chrono::milliseconds Bounded(std::chrono::milliseconds duration) {
  return std::clamp(duration, std::chrono::milliseconds::zero(), TAfterJobLimits::kLongest);
}

TAfterJobLimits BoundedLimits(TAfterJobLimits limits) {
  limits.TimeLimit = Bounded(limits.TimeLimit);
  limits.KillGrace = Bounded(limits.KillGrace);
  limits.DrainInterval = Bounded(limits.DrainInterval);
  return limits;
}

// "600 s" for the limits the settings give; "50 ms" for a limit of a part of
// a second.
std::string DescribeLimit(std::chrono::milliseconds limit) {
  const int64_t milliseconds = limit.count();
  if (milliseconds % 1000 == 0) return FormatInteger(milliseconds / 1000) + " s";
  return FormatInteger(milliseconds) + " ms";
}

std::string OutputNotice(int64_t dropped) {
  // Appended piece by piece: "(" + a temporary makes GCC 12 at -O3 warn of
  // an overlap that cannot happen.
  std::string notice = "(";
  notice += FormatInteger(dropped);
  notice += " more bytes of output not shown)";
  return notice;
}

// "0.100": seconds as sleep takes them.
std::string DescribeSeconds(std::chrono::milliseconds duration) {
  const std::string thousandths = FormatInteger(duration.count() % 1000 + 1000);
  return FormatInteger(duration.count() / 1000) + "." + thousandths.substr(1);
}

std::string CannotStart(int error) { return std::string("cannot start: ") + std::strerror(error); }

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  pointers.reserve(texts.size() + 1);
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Starts /bin/sh with the arguments; -1 and errno when it cannot.
int SpawnShell(pid_t& pid, std::vector<std::string> arguments, std::vector<std::string> environment,
               const TSpawnDescriptors& descriptors, const TSpawnAttributes& attributes) {
  std::vector<char*> argumentPointers = Pointers(arguments);
  std::vector<char*> environmentPointers = Pointers(environment);
  const TSpawnRequest request{"/bin/sh", descriptors.Get(), attributes.Get(),
                              argumentPointers.data(), environmentPointers.data()};
  return FileCalls().Spawn(&pid, &request);
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
  // The file's size, as the index gives it; the job's own bytes differ when
  // jobs share the file.
  environment.push_back(prefix +
                        "BYTES=" + (record.FileSize < 0 ? "" : FormatInteger(record.FileSize)));
  environment.push_back(prefix + "JOB_BYTES=" + FormatInteger(record.Bytes));
  environment.push_back(prefix + "STARTED=" + FormatLocalIsoTime(record.Start));
  environment.push_back(prefix + "ENDED=" + FormatLocalIsoTime(record.End));
  environment.push_back(prefix + "OUTCOME=" + record.OutcomeText());
  // What an LPD sender said of its job; empty for a raw one.
  environment.push_back(prefix + "QUEUE=" + record.Labels.Queue);
  environment.push_back(prefix + "JOB_NAME=" + record.Labels.JobName);
  environment.push_back(prefix + "SOURCE_FILE=" + record.Labels.SourceName);
  environment.push_back(prefix + "USER=" + record.Labels.User);
  environment.push_back(prefix + "HOST=" + record.Labels.Host);
  return environment;
}

std::string DescribeWaitStatus(int status) {
  if (WIFSIGNALED(status)) return "killed by signal " + FormatInteger(WTERMSIG(status));
  return "exit status " + FormatInteger(WEXITSTATUS(status));
}

TAfterJobLimits TAfterJobLimits::FromSeconds(int seconds) {
  TAfterJobLimits limits;
  const int64_t bounded = std::clamp<int64_t>(seconds, 1, TJobSettings::kMaxTimerSeconds);
  limits.TimeLimit = std::chrono::seconds(bounded);
  return limits;
}

// ---------------------------------------------------------------------------
// One run

TAfterJobRun::TAfterJobRun(TJob record, std::string commandLine, TAfterJobLimits limits,
                           std::size_t lineOverhead, TOutputLine outputLine, TFinished finished)
    : record_(std::move(record)),
      commandLine_(std::move(commandLine)),
      limits_(BoundedLimits(limits)),
      lineOverhead_(lineOverhead),
      outputLine_(std::move(outputLine)),
      finished_callback_(std::move(finished)) {}

// Killed rather than left to a pipe nobody reads any more. It is reaped
// here if it has gone already, else the system takes it over at our end.
TAfterJobRun::~TAfterJobRun() {
  if (pid_ > 0) {
    FileCalls().Signal(-pid_, SIGKILL);
    int status = 0;
    FileCalls().WaitForChild(pid_, &status, WNOHANG);
  }
  Release();
}

bool TAfterJobRun::Start() {
  int pipeHandles[2];
  if (FileCalls().MakePipe(pipeHandles, O_CLOEXEC) != 0) {
    failure_ = CannotStart(errno);
    return false;
  }
  outputHandle_ = pipeHandles[0];
  pid_t pid = -1;
  int started = FileCalls().Control(outputHandle_, F_SETFL, O_NONBLOCK);
  if (started == 0) {
    TSpawnDescriptors descriptors;
    descriptors.InFolder(record_.Folder)
        .Null(0, O_RDONLY)
        .Copy(pipeHandles[1], 1)
        .Copy(pipeHandles[1], 2)
        .CloseFrom(3);
    const TSpawnAttributes attributes{SIGPIPE, SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGCHLD};
    started = SpawnShell(pid, {"sh", "-c", commandLine_}, AfterJobEnvironment(record_), descriptors,
                         attributes);
  }
  const int error = errno;
  CloseHandle(pipeHandles[1]);
  if (started != 0) {
    failure_ = CannotStart(error);
    Release();
    return false;
  }
  pid_ = pid;
  outputNotifier_ = new QSocketNotifier(outputHandle_, QSocketNotifier::Read, this);
  connect(outputNotifier_, &QSocketNotifier::activated, this, [this] {
    ReadOutput();
    if (OutputSpent()) StartDraining();
  });
  WatchExit();
  deadline_ = std::make_unique<TGroupDeadline>(this, pid_, limits_.TimeLimit, limits_.KillGrace);
  return true;
}

void TAfterJobRun::WatchExit() {
  exitWatch_ = std::make_unique<TExitWatch>(this, pid_, [this] { Reap(); });
}

void TAfterJobRun::Stop() {
  if (pid_ <= 0 || deadline_->Terminating()) return;
  stopped_ = true;
  deadline_->Terminate();
}

// Reads while the output is within its bound; the rest is for DrainSome.
void TAfterJobRun::ReadOutput() {
  char chunk[kReadPiece];
  while (!OutputSpent() && !outputEnded_) {
    const ssize_t got = ReadRetrying(outputHandle_, chunk, sizeof chunk);
    if (got > 0) {
      PassOn(chunk, static_cast<std::size_t>(got));
      continue;
    }
    // End of output: whoever still holds the pipe has closed it.
    if (got == 0 || errno != EAGAIN) EndOfOutput();
    return;
  }
}

void TAfterJobRun::PassOn(const char* data, std::size_t size) {
  for (std::size_t at = 0; at < size; ++at) {
    if (OutputSpent()) {
      outputDropped_ += static_cast<int64_t>(size - at);
      return;
    }
    if (data[at] == '\n') {
      EndLine(true);
      continue;
    }
    ++lineBytes_;
    if (partialLine_.size() < kLineLimit) partialLine_ += data[at];
  }
}

// The room for lines keeps back what the notice of the rest may take.
std::size_t TAfterJobRun::LineRoom() const {
  const std::size_t noticeRoom = lineOverhead_ + OutputNotice(INT64_MAX).size();
  return kOutputLimit > noticeRoom ? kOutputLimit - noticeRoom : 0;
}

// A line that does not fit ends what is passed on: the later ones, short as
// they may be, are counted with it, so what is shown has no gaps.
void TAfterJobRun::EndLine(bool lineEnd) {
  const std::size_t cost = partialLine_.size() + lineOverhead_;
  if (!OutputSpent() && outputWritten_ + cost <= LineRoom()) {
    outputWritten_ += cost;
    outputLine_(partialLine_);
  } else {
    outputDropped_ += static_cast<int64_t>(lineBytes_ + (lineEnd ? 1 : 0));
  }
  partialLine_.clear();
  lineBytes_ = 0;
}

// Past the bound the output is only counted, and not at full speed: a
// command that writes for ever then waits on its full pipe most of the time
// instead of keeping us busy. A larger pipe lets one that writes a lot and
// ends get there sooner.
void TAfterJobRun::StartDraining() {
  if (drain_ != nullptr || outputEnded_) return;
  if (outputNotifier_ != nullptr) outputNotifier_->setEnabled(false);
  FileCalls().Control(outputHandle_, F_SETPIPE_SZ, static_cast<int>(kDrainBytes));
  drain_ = new QTimer(this);
  connect(drain_, &QTimer::timeout, this, [this] { DrainSome(); });
  drain_->start(limits_.DrainInterval);
}

void TAfterJobRun::DrainSome() {
  char chunk[kReadPiece];
  for (std::size_t taken = 0; taken < kDrainBytes && !outputEnded_;) {
    const ssize_t got = ReadRetrying(outputHandle_, chunk, sizeof chunk);
    if (got <= 0) {
      if (got == 0 || errno != EAGAIN) EndOfOutput();
      return;
    }
    outputDropped_ += got;
    taken += static_cast<std::size_t>(got);
  }
}

void TAfterJobRun::EndOfOutput() {
  outputEnded_ = true;
  if (outputNotifier_ != nullptr) outputNotifier_->setEnabled(false);
  if (drain_ != nullptr) drain_->stop();
}

void TAfterJobRun::FlushOutput() {
  if (lineBytes_ > 0) EndLine(false);
  if (OutputSpent()) outputLine_(OutputNotice(outputDropped_));
}

void TAfterJobRun::Reap() {
  int status = 0;
  const pid_t reaped =
      RetryOnEintr([&] { return FileCalls().WaitForChild(pid_, &status, WNOHANG); });
  if (reaped == 0) return;
  const int error = errno;
  pid_ = -1;
  // What the command wrote before it ended is in the pipe now; a child it
  // left behind may hold the pipe open, so only what is there is taken.
  ReadOutput();
  if (OutputSpent()) DrainSome();
  FlushOutput();
  if (reaped < 0)
    failure_ = std::string("cannot wait: ") + std::strerror(error);
  else
    Describe(status);
  Release();
  finished_ = true;
  if (finished_callback_) finished_callback_(*this);
}

void TAfterJobRun::Describe(int status) {
  ending_ = DescribeWaitStatus(status);
  if (deadline_->TimedOut())
    failure_ = "ran longer than " + DescribeLimit(limits_.TimeLimit) + ", " + ending_;
  else if (stopped_)
    failure_ = "stopped, " + ending_;
  else if (!(WIFEXITED(status) && WEXITSTATUS(status) == 0))
    failure_ = ending_;
}

std::string TAfterJobRun::LeaveRunning(int descriptor, const std::string& name) {
  if (pid_ <= 0) return {};
  std::string failure;
  if (outputEnded_)
    FlushOutput();
  else
    failure = HandOverOutput(descriptor, name);
  // No longer ours to end or to wait for.
  pid_ = -1;
  Release();
  return failure;
}

// The copier holds the only reader of the pipe from here on; SIGPIPE stays
// as the program has it (ignored), so that a reader of standard error that
// has gone ends neither the copier nor the command.
std::string TAfterJobRun::HandOverOutput(int descriptor, const std::string& name) {
  const std::size_t room = LineRoom();
  const std::size_t left = outputWritten_ < room ? room - outputWritten_ : 0;
  // The copier reads as any program does, waiting for the command.
  FileCalls().Control(outputHandle_, F_SETFL, 0);
  TSpawnDescriptors descriptors;
  descriptors.Null(0, O_RDONLY).Copy(descriptor, 1).Null(2, O_WRONLY).Copy(outputHandle_, 3);
  descriptors.CloseFrom(4);
  const TSpawnAttributes attributes{SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGCHLD};
  pid_t shell = -1;
  if (SpawnShell(shell,
                 {"sh", "-c", kPassOnScript, "sh", name, FormatInteger(static_cast<int64_t>(left)),
                  FormatInteger(outputDropped_), partialLine_,
                  FormatInteger(static_cast<int64_t>(kDrainBytes)),
                  DescribeSeconds(limits_.DrainInterval)},
                 {"LC_ALL=C", "PATH=/usr/bin:/bin"}, descriptors, attributes) != 0)
    return std::strerror(errno);
  // It ends as soon as the copier is on its way.
  int status = 0;
  RetryOnEintr([&] { return FileCalls().WaitForChild(shell, &status, 0); });
  return {};
}

void TAfterJobRun::Release() {
  exitWatch_.reset();
  delete outputNotifier_;
  outputNotifier_ = nullptr;
  deadline_.reset();
  delete drain_;
  drain_ = nullptr;
  CloseHandle(outputHandle_);
}

// ---------------------------------------------------------------------------
// The queue

TAfterJobRunner::TAfterJobRunner(TReport report, std::size_t queueBound, TLogWriter& log,
                                 TLimitsFor limitsFor)
    : report_(std::move(report)),
      queueBound_(queueBound),
      log_(log),
      limitsFor_(std::move(limitsFor)) {}

// One line per job, so that a long list is never dropped whole: what does
// not fit in the log's buffer is counted by the log's own notice.
TAfterJobRunner::~TAfterJobRunner() {
  for (const auto& run : running_) {
    const std::string failure = run->LeaveRunning(log_.Descriptor(), run->Record().FileName);
    if (!failure.empty())
      log_.Write("After-job command for " + run->Record().FileName +
                 ": output after the program's end not shown: " + failure + "\n");
  }
  for (const TWaitingJob& job : waiting_)
    log_.Write("After-job command not run: " + job.Record.FileName + "\n");
}

void TAfterJobRunner::Run(const TJob& record, const std::string& commandLine, int parallel,
                          int seconds) {
  // The jobs that were here when their command ended are done with.
  std::erase_if(running_, [](const auto& run) { return run->Finished(); });
  parallel_ = static_cast<std::size_t>(parallel < 1 ? 1 : parallel);
  if (waiting_.size() >= queueBound_) {
    const std::string full = "After-job queue full (" +
                             FormatInteger(static_cast<int64_t>(queueBound_)) + " jobs waiting)";
    report_(full + ", not run for " + record.FileName, full);
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
    // Each line is written after the file's name and ": ", with its end.
    const std::size_t lineOverhead = file.size() + 3;
    auto run = std::make_unique<TAfterJobRun>(
        std::move(job.Record), std::move(job.CommandLine), limitsFor_(job.Seconds), lineOverhead,
        [this, file](const std::string& line) { log_.Write(file + ": " + line + "\n"); },
        [this](TAfterJobRun& ended) { Finished(ended); });
    if (!run->Start()) {
      report_("After-job command for " + file + ": " + run->Failure(), run->Failure());
      continue;
    }
    running_.push_back(std::move(run));
  }
}

void TAfterJobRunner::Finished(TAfterJobRun& run) {
  if (!run.Failure().empty())
    report_("After-job command for " + run.Record().FileName + ": " + run.Failure(), run.Failure());
  // The run that calls here is still on its way out; the others have ended.
  std::erase_if(running_,
                [&run](const auto& other) { return other->Finished() && other.get() != &run; });
  StartWaiting();
}
