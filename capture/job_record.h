#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// What became of one finished job, made once when its close has been
// handled (size line, any deletion), so that everything acting on finished
// jobs tells the same story.
struct TJobRecord {
  enum class TOutcome { Closed, Reset, DeletedEmpty, Error };

  std::chrono::system_clock::time_point Start;
  std::chrono::system_clock::time_point End;
  std::string Port;
  std::string PeerAddress;
  uint16_t PeerPort = 0;
  // -1 when the size could not be taken.
  int64_t BytesStored = 0;
  // The port's capture folder with its separator, and the file's full path.
  std::string Folder;
  std::string FileName;
  TOutcome Outcome = TOutcome::Closed;
  // The first failure of the job when Outcome is Error.
  std::string Failure;

  // FileName without the folder in front, when it lies below it.
  std::string RelativeFileName() const;
  // "closed", "reset", "deleted empty" or "error: " and the failure.
  std::string OutcomeText() const;
};

// Local time, ISO 8601 with milliseconds and the UTC offset:
// 2026-12-08T14:30:05.123+01:00.
std::string FormatLocalIsoTime(std::chrono::system_clock::time_point when);
