#pragma once

#include <sys/types.h>

#include <QObject>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/log_writer.h"
#include "capture/job.h"

class QSocketNotifier;
class QTimer;
class TExitWatch;
class TGroupDeadline;

// The environment of an after-job command: ours, with the job's facts added
// as TARNOCK_* variables (a variable of that name we inherited is replaced).
// The job's facts travel only here, never in the command text, so nothing a
// peer controls can ever become shell syntax.
std::vector<std::string> AfterJobEnvironment(const TJob& record);

// "exit status 3", "killed by signal 9": what became of a command, from its
// wait status.
std::string DescribeWaitStatus(int status);

// How long one run may take and how it is ended. Every duration is taken
// between 0 and kLongest, what one timer can wait, whatever it was set to.
struct TAfterJobLimits {
  static constexpr std::chrono::milliseconds kLongest{int64_t{TJobSettings::kMaxTimerSeconds} *
                                                      1000};
  // The limits for AfterJobSeconds as the settings give it, any int: less
  // than 1 s is 1 s, more than kLongest is kLongest.
  static TAfterJobLimits FromSeconds(int seconds);

  std::chrono::milliseconds TimeLimit{600'000};
  // Between SIGTERM and SIGKILL when a command is ended.
  std::chrono::milliseconds KillGrace{5000};
  // Output past the run's bound is taken this often, a piece at a time, so
  // that a command with endless output costs little and one that writes a
  // lot still reaches its end.
  std::chrono::milliseconds DrainInterval{100};
};

// One run of an after-job command: /bin/sh -c with the command line, in the
// job's capture folder, standard input /dev/null, standard output and error
// read by us, no other descriptor of ours, in a process group of its own.
// Started and reaped through the event loop; the caller never waits.
class TAfterJobRun : public QObject {
  Q_OBJECT

 public:
  // Output lines are cut at this length. A run passes on at most
  // kOutputLimit bytes as its caller writes them: each line with the caller's
  // lineOverhead (a prefix, the line end), and the closing notice of what
  // was not shown. The rest is counted, not passed on, so a chatty command
  // can't flood; past the bound at most kDrainBytes are taken per
  // DrainInterval.
  static constexpr std::size_t kLineLimit = 1000;
  static constexpr std::size_t kOutputLimit = 64 * 1024;
  static constexpr std::size_t kDrainBytes = 1 << 20;

  using TOutputLine = std::function<void(const std::string& line)>;
  using TFinished = std::function<void(TAfterJobRun& run)>;

  TAfterJobRun(TJob record, std::string commandLine, TAfterJobLimits limits,
               std::size_t lineOverhead, TOutputLine outputLine, TFinished finished);
  // A command that still runs and was not left running is killed, with
  // everything it started.
  ~TAfterJobRun() override;

  // False when the command could not be started; Failure() says why.
  bool Start();
  // Ends the command as a time limit does (SIGTERM to its group, SIGKILL
  // after the grace); its end is still reaped and reported through the
  // event loop, Failure() "stopped, killed by signal 15".
  void Stop();
  // The program ends with the command still running: it goes on to its own
  // end, neither ended nor waited for. A small process of its own group
  // takes over its output and writes what is left of the bound to
  // descriptor, each line after name and ": ", and the notice of the rest.
  // Answers "" or why its output could not be passed on.
  std::string LeaveRunning(int descriptor, const std::string& name);

  const TJob& Record() const { return record_; }
  // Empty when the command ended with exit status 0; otherwise one phrase
  // such as "exit status 3" or "cannot start: No such file or directory".
  const std::string& Failure() const { return failure_; }
  // How the command ended ("exit status 0", "killed by signal 15"), once it
  // has.
  const std::string& Ending() const { return ending_; }
  bool Finished() const { return finished_; }
  bool Stopped() const { return stopped_; }

 private:
  void WatchExit();
  void ReadOutput();
  void PassOn(const char* data, std::size_t size);
  void EndLine(bool lineEnd);
  bool OutputSpent() const { return outputDropped_ > 0; }
  std::size_t LineRoom() const;
  void StartDraining();
  void DrainSome();
  void EndOfOutput();
  void FlushOutput();
  void Reap();
  void Describe(int status);
  std::string HandOverOutput(int descriptor, const std::string& name);
  void Release();

  TJob record_;
  std::string commandLine_;
  TAfterJobLimits limits_;
  std::size_t lineOverhead_;
  TOutputLine outputLine_;
  TFinished finished_callback_;
  pid_t pid_ = -1;
  int outputHandle_ = -1;
  QSocketNotifier* outputNotifier_ = nullptr;
  std::unique_ptr<TExitWatch> exitWatch_;
  std::unique_ptr<TGroupDeadline> deadline_;
  QTimer* drain_ = nullptr;
  std::string partialLine_;
  // The current line's bytes as read, before the cut at kLineLimit.
  std::size_t lineBytes_ = 0;
  // Bytes passed on, as the caller writes them.
  std::size_t outputWritten_ = 0;
  int64_t outputDropped_ = 0;
  bool outputEnded_ = false;
  bool stopped_ = false;
  bool finished_ = false;
  std::string failure_;
  std::string ending_;
};

// Runs the after-job command of every finished job: at most the job's
// parallel limit at once, the others waiting in a bounded queue. Each
// failure and each job that finds the queue full is reported through the
// given function; the command's output goes to the log (standard error),
// each line after the capture file's name.
class TAfterJobRunner {
 public:
  static constexpr std::size_t kQueueBound = 10000;
  // The text of one failure, and its cause alone (without the file), by
  // which a flood of one failure can be held back.
  using TReport = std::function<void(const std::string& text, const std::string& cause)>;
  // The limits of a run from its job's AfterJobSeconds.
  using TLimitsFor = std::function<TAfterJobLimits(int seconds)>;

  explicit TAfterJobRunner(TReport report, std::size_t queueBound = kQueueBound,
                           TLogWriter& log = StandardErrorLog(),
                           TLimitsFor limitsFor = &TAfterJobLimits::FromSeconds);
  // The program ends: running commands go on by themselves (see
  // TAfterJobRun::LeaveRunning); every job still waiting is named in the log
  // as not run, one line each.
  ~TAfterJobRunner();
  TAfterJobRunner(const TAfterJobRunner&) = delete;
  TAfterJobRunner& operator=(const TAfterJobRunner&) = delete;

  void Run(const TJob& record, const std::string& commandLine, int parallel, int seconds);

  std::size_t Running() const;
  std::size_t Waiting() const { return waiting_.size(); }

 private:
  struct TWaitingJob {
    TJob Record;
    std::string CommandLine;
    int Seconds;
  };

  void StartWaiting();
  void Finished(TAfterJobRun& run);

  TReport report_;
  std::size_t queueBound_;
  TLogWriter& log_;
  TLimitsFor limitsFor_;
  std::size_t parallel_ = 1;
  std::deque<TWaitingJob> waiting_;
  std::vector<std::unique_ptr<TAfterJobRun>> running_;
};
