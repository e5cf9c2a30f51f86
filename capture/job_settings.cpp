#include "capture/job_settings.h"

#include "capture/ini_file.h"

namespace {

constexpr const char* kSection = "Jobs";
constexpr const char* kOneFilePerJob = "OneFilePerJob";
constexpr const char* kJobIndex = "JobIndex";

constexpr const char* kAfterJob = "AfterJob";
constexpr const char* kAfterJobParallel = "AfterJobParallel";
constexpr const char* kAfterJobSeconds = "AfterJobSeconds";
constexpr const char* kNotify = "Notify";

// A limit below one would never run anything; it counts as one.
int AtLeastOne(int value) { return value < 1 ? 1 : value; }

}  // namespace

TJobSettings TJobSettings::Read(const std::string& settingsPath) {
  const TIniFile settings(settingsPath);
  TJobSettings jobs;
  jobs.OneFilePerJob = settings.ReadFlag(kSection, kOneFilePerJob, false);
  jobs.JobIndex = settings.ReadFlag(kSection, kJobIndex, false);

  jobs.AfterJob = settings.ReadText(kSection, kAfterJob, "");
  jobs.AfterJobParallel = AtLeastOne(settings.ReadNumber(kSection, kAfterJobParallel, 4));
  jobs.AfterJobSeconds = AtLeastOne(settings.ReadNumber(kSection, kAfterJobSeconds, 600));
  jobs.Notify = settings.ReadFlag(kSection, kNotify, false);
  return jobs;
}

void TJobSettings::Write(const std::string& settingsPath) const {
  TIniFile settings(settingsPath);
  settings.WriteFlag(kSection, kOneFilePerJob, OneFilePerJob);
  settings.WriteFlag(kSection, kJobIndex, JobIndex);

  settings.WriteText(kSection, kAfterJob, AfterJob);
  settings.WriteNumber(kSection, kAfterJobParallel, AfterJobParallel);
  settings.WriteNumber(kSection, kAfterJobSeconds, AfterJobSeconds);
  settings.WriteFlag(kSection, kNotify, Notify);
}
