#include "capture/job_settings.h"

#include <algorithm>
#include <charconv>

#include "base/text.h"
#include "capture/ini_file.h"

namespace {

constexpr const char* kSection = "Jobs";
constexpr const char* kOneFilePerJob = "OneFilePerJob";
constexpr const char* kJobIndex = "JobIndex";

constexpr const char* kAllowedSenders = "AllowedSenders";
constexpr const char* kMaxJobBytes = "MaxJobBytes";
constexpr const char* kIdleSeconds = "IdleSeconds";
constexpr const char* kDeleteAfterDays = "DeleteAfterDays";
constexpr const char* kAfterJob = "AfterJob";
constexpr const char* kAfterJobParallel = "AfterJobParallel";
constexpr const char* kAfterJobSeconds = "AfterJobSeconds";
constexpr const char* kNotify = "Notify";

// A limit the file spells wrongly is no limit: a typo must not cut every job
// to nothing.
int64_t ReadLimit(const TIniFile& settings, const char* key) {
  return ParseJobLimit(settings.ReadText(kSection, key, "")).value_or(0);
}

// A limit below one would never run anything; it counts as one.
int AtLeastOne(int value) { return value < 1 ? 1 : value; }

}  // namespace

std::optional<int64_t> ParseJobLimit(std::string_view text) {
  const std::string trimmed = TrimBlanks(text);
  int64_t value = 0;
  const char* last = trimmed.data() + trimmed.size();
  const auto [end, failure] = std::from_chars(trimmed.data(), last, value);
  if (failure != std::errc() || end != last || value < 0) return std::nullopt;
  return value;
}

TJobSettings TJobSettings::Read(const std::string& settingsPath) {
  const TIniFile settings(settingsPath);
  TJobSettings jobs;
  jobs.OneFilePerJob = settings.ReadFlag(kSection, kOneFilePerJob, false);
  jobs.JobIndex = settings.ReadFlag(kSection, kJobIndex, false);

  jobs.AllowedSenders = TrimBlanks(settings.ReadText(kSection, kAllowedSenders, ""));
  jobs.MaxJobBytes = ReadLimit(settings, kMaxJobBytes);
  jobs.IdleSeconds =
      static_cast<int32_t>(std::min<int64_t>(ReadLimit(settings, kIdleSeconds), kMaxIdleSeconds));
  jobs.DeleteAfterDays = settings.ReadFlag(kSection, kDeleteAfterDays, false);
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

  settings.WriteText(kSection, kAllowedSenders, AllowedSenders);
  settings.WriteText(kSection, kMaxJobBytes, FormatInteger(MaxJobBytes));
  settings.WriteNumber(kSection, kIdleSeconds, IdleSeconds);
  settings.WriteFlag(kSection, kDeleteAfterDays, DeleteAfterDays);
  settings.WriteText(kSection, kAfterJob, AfterJob);
  settings.WriteNumber(kSection, kAfterJobParallel, AfterJobParallel);
  settings.WriteNumber(kSection, kAfterJobSeconds, AfterJobSeconds);
  settings.WriteFlag(kSection, kNotify, Notify);
}
