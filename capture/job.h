#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "capture/job_settings.h"

// What a sender says of its job when its protocol tells it (a line printer
// client does): the queue it sent to, the job's name, the file it printed,
// its user and its host. All empty for a raw job. Made fit for a log line:
// see FitLabel.
struct TJobLabels {
  std::string Queue;
  std::string JobName;
  std::string SourceName;
  std::string User;
  std::string Host;

  bool Empty() const;
  // "queue lp, job "report", file "report.txt", user alice, host client":
  // the labels the sender gave, in that order.
  std::string Describe() const;
};

// A sender's text as the log, the index and a command's environment may
// take it: control bytes become '?', and at most kMaxLabelBytes are kept.
constexpr std::size_t kMaxLabelBytes = 255;
std::string FitLabel(std::string_view text);

// One job's facts, from its accept to its close. The session owns it while
// the connection lasts; once the close has been handled (size line, any
// deletion) it is the finished-job record, so everything acting on finished
// jobs tells the same story.
struct TJob {
  enum class TOutcome { Closed, Reset, DeletedEmpty, Error, Cut, Ended, Incomplete };

  std::chrono::system_clock::time_point Start;
  std::chrono::system_clock::time_point End;
  std::string Port;
  std::string PeerAddress;
  uint16_t PeerPort = 0;
  // The bytes this job stored, and the capture file's size at the close,
  // which is more when jobs share the file (-1 when it could not be taken).
  int64_t Bytes = 0;
  int64_t FileSize = -1;
  // The port's capture folder with its separator, and the file's full path.
  std::string Folder;
  std::string FileName;
  TOutcome Outcome = TOutcome::Closed;
  // A byte beyond the size limit arrived and was not stored.
  bool Cut = false;
  // The job's first failure (a lost chunk, a size that could not be taken);
  // empty when none. It decides the outcome.
  std::string Failure;
  // The options in force on the job's port when the job was accepted.
  TJobSettings Options;
  // Status queries of the peer that were answered, and the bytes of those
  // answers that were dropped because the peer did not read them.
  int64_t QueriesAnswered = 0;
  int64_t RepliesDropped = 0;
  // What the sender said of the job; empty for a raw one.
  TJobLabels Labels;

  // A job as its accept begins it: where from, and the options in force.
  static TJob Accepted(std::string port, std::string peerAddress, uint16_t peerPort,
                       TJobSettings options);

  // Keeps the first failure only.
  void Fail(const std::string& failure);
  // The outcome from how the connection ended (0 for the peer's close or
  // ours), unless a failure or the size limit decided it.
  void Settle(uint16_t closeError);

  // FileName without the folder in front, when it lies below it.
  std::string RelativeFileName() const;
  // "closed", "reset", "deleted empty", "cut" (at the size limit), "ended"
  // (still open when the program ended), "incomplete" (its sender stopped
  // inside the file it had announced) or "error: " and the failure.
  std::string OutcomeText() const;
};

// Local time, ISO 8601 with milliseconds and the UTC offset:
// 2026-12-08T14:30:05.123+01:00.
std::string FormatLocalIsoTime(std::chrono::system_clock::time_point when);
