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
int64_t ReadLimit(const TIniSnapshot& settings, const char* key) {
  return ParseJobLimit(settings.ReadText(kSection, key, "")).value_or(0);
}

// A time limit goes to a timer in milliseconds: beyond kMaxTimerSeconds it
// would overflow there, and a timer cannot wait longer anyway.
int32_t AtMostTimerSeconds(int64_t seconds) {
  return static_cast<int32_t>(std::min<int64_t>(seconds, TJobSettings::kMaxTimerSeconds));
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

TJobSettings TJobSettings::Read(const TIniSnapshot& settings) {
  TJobSettings jobs;
  jobs.OneFilePerJob = settings.ReadFlag(kSection, kOneFilePerJob, false);
  jobs.JobIndex = settings.ReadFlag(kSection, kJobIndex, false);

  jobs.AllowedSenders = TrimBlanks(settings.ReadText(kSection, kAllowedSenders, ""));
  jobs.MaxJobBytes = ReadLimit(settings, kMaxJobBytes);
  jobs.IdleSeconds = AtMostTimerSeconds(ReadLimit(settings, kIdleSeconds));
  jobs.DeleteAfterDays = settings.ReadFlag(kSection, kDeleteAfterDays, false);
  jobs.AfterJob = settings.ReadText(kSection, kAfterJob, "");
  jobs.AfterJobParallel = AtLeastOne(settings.ReadNumber(kSection, kAfterJobParallel, 4));
  jobs.AfterJobSeconds =
      AtMostTimerSeconds(AtLeastOne(settings.ReadNumber(kSection, kAfterJobSeconds, 600)));
  jobs.Notify = settings.ReadFlag(kSection, kNotify, false);
  return jobs;
}

TJobSettings TJobSettings::Read(const std::string& settingsPath) {
  return Read(TIniFile(settingsPath).Load());
}

namespace {

std::string Flag(bool value) { return value ? "1" : "0"; }

}  // namespace

void TJobSettings::Write(const std::string& settingsPath) const {
  TIniFile(settingsPath)
      .WriteTexts(kSection, {{kOneFilePerJob, Flag(OneFilePerJob)},
                             {kJobIndex, Flag(JobIndex)},
                             {kAllowedSenders, AllowedSenders},
                             {kMaxJobBytes, FormatInteger(MaxJobBytes)},
                             {kIdleSeconds, FormatInteger(IdleSeconds)},
                             {kDeleteAfterDays, Flag(DeleteAfterDays)},
                             {kAfterJob, AfterJob},
                             {kAfterJobParallel, FormatInteger(AfterJobParallel)},
                             {kAfterJobSeconds, FormatInteger(AfterJobSeconds)},
                             {kNotify, Flag(Notify)}});
}
