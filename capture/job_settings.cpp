#include "capture/job_settings.h"

#include "capture/ini_file.h"

namespace {

constexpr const char* kSection = "Jobs";
constexpr const char* kOneFilePerJob = "OneFilePerJob";
constexpr const char* kJobIndex = "JobIndex";

}  // namespace

TJobSettings TJobSettings::Read(const std::string& settingsPath) {
  const TIniFile settings(settingsPath);
  TJobSettings jobs;
  jobs.OneFilePerJob = settings.ReadFlag(kSection, kOneFilePerJob, false);
  jobs.JobIndex = settings.ReadFlag(kSection, kJobIndex, false);
  return jobs;
}

void TJobSettings::Write(const std::string& settingsPath) const {
  TIniFile settings(settingsPath);
  settings.WriteFlag(kSection, kOneFilePerJob, OneFilePerJob);
  settings.WriteFlag(kSection, kJobIndex, JobIndex);
}
