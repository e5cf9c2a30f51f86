#pragma once

#include <string>

// The [Jobs] section: options beyond plain capturing, each off by default, so
// that a settings file without the section captures exactly as before. Read
// afresh for every job, like the port definitions.
struct TJobSettings {
  // Every job gets a file of its own: a taken name gets "-2", "-3", ...
  bool OneFilePerJob = false;
  // Every finished job adds one line to jobs.csv in its port's folder.
  bool JobIndex = false;

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
