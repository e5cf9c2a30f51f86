#pragma once

#include <sys/types.h>

#include <QObject>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/job.h"

class QSocketNotifier;
class QTimer;

// The environment of an after-job command: ours, with the job's facts added
// as TARNOCK_* variables (a variable of that name we inherited is replaced).
// The job's facts travel only here, never in the command text, so nothing a
// peer controls can ever become shell syntax.
std::vector<std::string> AfterJobEnvironment(const TJob& record);

// "exit status 3", "killed by signal 9": what became of a command, from its
// wait status.
std::string DescribeWaitStatus(int status);

// One run of an after-job command: /bin/sh -c with the command line, in the
// job's capture folder, standard input /dev/null, standard output and error
// read by us, no other descriptor of ours, in a process group of its own.
// Started and reaped through the event loop; the caller never waits.
class TAfterJobRun : public QObject {
  Q_OBJECT

 public:
  // Output lines are cut at this length, and a run's output beyond
  // kOutputLimit is counted, not passed on: a chatty command can't flood.
  static constexpr std::size_t kLineLimit = 1000;
  static constexpr std::size_t kOutputLimit = 64 * 1024;
  // Between SIGTERM and SIGKILL when a command runs too long.
  static constexpr int kKillGraceMs = 5000;

  using TOutputLine = std::function<void(const std::string& line)>;
  using TFinished = std::function<void(TAfterJobRun& run)>;

  TAfterJobRun(TJob record, std::string commandLine, int seconds, TOutputLine outputLine,
               TFinished finished);
  // Leaves a command that still runs alone: it is neither killed nor
  // waited for.
  ~TAfterJobRun() override;

  // False when the command could not be started; Failure() says why.
  bool Start();

  const TJob& Record() const { return record_; }
  // Empty when the command ended with exit status 0; otherwise one phrase
  // such as "exit status 3" or "cannot start: No such file or directory".
  const std::string& Failure() const { return failure_; }
  bool Finished() const { return finished_; }

 private:
  void ReadOutput();
  void PassOn(const std::string& text);
  void FlushOutput();
  void Reap();
  void EndTooLong();
  void Release();

  TJob record_;
  std::string commandLine_;
  int seconds_;
  TOutputLine outputLine_;
  TFinished finished_callback_;
  pid_t pid_ = -1;
  int pidHandle_ = -1;
  int outputHandle_ = -1;
  QSocketNotifier* exitNotifier_ = nullptr;
  QSocketNotifier* outputNotifier_ = nullptr;
  QTimer* reapPoll_ = nullptr;
  QTimer* deadline_ = nullptr;
  std::string partialLine_;
  std::size_t outputPassed_ = 0;
  int64_t outputDropped_ = 0;
  bool timedOut_ = false;
  bool finished_ = false;
  std::string failure_;
};

// Runs the after-job command of every finished job: at most the job's
// parallel limit at once, the others waiting in a bounded queue. Each
// failure and each job that finds the queue full is reported through the
// given function; the command's output goes to standard error, each line
// after the capture file's name.
class TAfterJobRunner {
 public:
  static constexpr std::size_t kQueueBound = 10000;
  using TReport = std::function<void(const std::string& text)>;

  explicit TAfterJobRunner(TReport report, std::size_t queueBound = kQueueBound);
  // The program ends: running commands go on by themselves; every job still
  // waiting is named on standard error as not run.
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
  std::size_t parallel_ = 1;
  std::deque<TWaitingJob> waiting_;
  std::vector<std::unique_ptr<TAfterJobRun>> running_;
};
