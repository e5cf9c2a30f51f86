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

  static TJobSettings Read(const std::string& settingsPath);
  // Raises "Unable to write to %s" like every other settings write.
  void Write(const std::string& settingsPath) const;
};
