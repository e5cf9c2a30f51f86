#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <string>

#include "jobs/after_job.h"

class QTemporaryDir;

// One try of an after-job command from Job Settings, on a sample job: a
// small file of its own in a temporary folder, so that a command that moves
// or deletes its file harms no capture. The folder is removed only once the
// command has ended and been reaped.
class TAfterJobTry : public QObject {
 public:
  // The result shows at most this many lines of the command's output.
  static constexpr int kResultLines = 8;
  // Hears the result: "Ran: exit status 0", "Failed: exit status 3",
  // "Stopped: killed by signal 15", each with the first output lines.
  using TEnded = std::function<void(const std::string& result)>;

  TAfterJobTry(std::string command, TAfterJobLimits limits, TEnded ended);
  // Kills a command that still runs (the program is quitting).
  ~TAfterJobTry() override;
  TAfterJobTry(const TAfterJobTry&) = delete;
  TAfterJobTry& operator=(const TAfterJobTry&) = delete;

  // Starts the command; answers what to show meanwhile, "Running on
  // <file> ...", or why it did not start (ended is then never called).
  std::string Start();
  bool Running() const;
  // SIGTERM, and SIGKILL after the grace; ended hears of it once reaped.
  void Stop();
  // For a dialog that goes while its try may run: a running command is
  // stopped and the try deletes itself once it has been reaped, or when the
  // program quits first; one that has ended goes at once.
  static void Abandon(std::unique_ptr<TAfterJobTry> abandoned);

 private:
  void Ended(TAfterJobRun& run);

  std::string command_;
  TAfterJobLimits limits_;
  TEnded ended_;
  std::string output_;
  int outputLines_ = 0;
  // Declared before the run, so that the run goes first.
  std::unique_ptr<QTemporaryDir> folder_;
  std::unique_ptr<TAfterJobRun> run_;
};
