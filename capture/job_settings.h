#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The [Jobs] section: options beyond plain capturing, each off by default, so
// that a settings file without the section captures exactly as before. Read
// afresh for every job, like the port definitions.
// A size or a count as the [Jobs] section spells it: a whole decimal number,
// 0 or more, blanks around it allowed; nothing for any other text.
std::optional<int64_t> ParseJobLimit(std::string_view text);

struct TJobSettings {
  // Every job gets a file of its own: a taken name gets "-2", "-3", ...
  bool OneFilePerJob = false;
  // Every finished job adds one line to jobs.csv in its port's folder.
  bool JobIndex = false;

  // Limits on who may send, how much and for how long; empty or 0 is none.
  // Comma-separated IPv4 addresses and address/prefix blocks.
  std::string AllowedSenders;
  // Bytes a job keeps at most before its connection is closed.
  int64_t MaxJobBytes = 0;
  // Seconds a connection may stay silent before it is closed.
  int32_t IdleSeconds = 0;
  // Captures older than their port's Days are deleted.
  bool DeleteAfterDays = false;
  // Longer idle limits are read as this: 24 days, what one timer can wait.
  static constexpr int32_t kMaxIdleSeconds = 24 * 24 * 3600;
  // After-job command: a /bin/sh command line run once per finished job, the
  // job's facts in its environment; empty runs nothing. At most
  // AfterJobParallel run at once, each for at most AfterJobSeconds.
  std::string AfterJob;
  int AfterJobParallel = 4;
  int AfterJobSeconds = 600;
  // One desktop notification per finished job, bursts merged.
  bool Notify = false;

  static TJobSettings Read(const std::string& settingsPath);
  // Raises "Unable to write to %s" like every other settings write.
  void Write(const std::string& settingsPath) const;
};
