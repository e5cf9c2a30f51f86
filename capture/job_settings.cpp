#include "capture/job_settings.h"

#include <algorithm>
#include <charconv>
#include <utility>

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

constexpr const char* kReplies = "Replies";
constexpr const char* kPrinterState = "PrinterState";
constexpr const char* kReplyRules = "ReplyRules";
constexpr const char* kProtocol = "Protocol";
constexpr const char* kKeepControlFile = "KeepControlFile";

// Where each key is read: the port's section when it holds the key, [Jobs]
// otherwise. Without a port every key comes from [Jobs].
class TKeySource {
 public:
  TKeySource(const TIniSnapshot& settings, std::string portSection)
      : settings_(settings), portSection_(std::move(portSection)) {}

  std::string Text(const char* key, std::string_view defaultText) const {
    return settings_.ReadText(SectionOf(key), key, defaultText);
  }
  int32_t Number(const char* key, int32_t defaultValue) const {
    return settings_.ReadNumber(SectionOf(key), key, defaultValue);
  }
  bool Flag(const char* key, bool defaultValue) const {
    return settings_.ReadFlag(SectionOf(key), key, defaultValue);
  }
  // A port's own key: never from [Jobs].
  std::string OwnText(const char* key) const {
    return portSection_.empty() ? std::string() : settings_.ReadText(portSection_, key, "");
  }
  bool OwnFlag(const char* key) const {
    return !portSection_.empty() && settings_.ReadFlag(portSection_, key, false);
  }

 private:
  std::string_view SectionOf(const char* key) const {
    if (!portSection_.empty() && settings_.HasKey(portSection_, key)) return portSection_;
    return kSection;
  }

  const TIniSnapshot& settings_;
  std::string portSection_;
};

// A limit the file spells wrongly is no limit: a typo must not cut every job
// to nothing.
int64_t ReadLimit(const TKeySource& source, const char* key) {
  return ParseJobLimit(source.Text(key, "")).value_or(0);
}

// A time limit goes to a timer in milliseconds: beyond kMaxTimerSeconds it
// would overflow there, and a timer cannot wait longer anyway.
int32_t AtMostTimerSeconds(int64_t seconds) {
  return static_cast<int32_t>(std::min<int64_t>(seconds, TJobSettings::kMaxTimerSeconds));
}

// A limit below one would never run anything; it counts as one.
int AtLeastOne(int value) { return value < 1 ? 1 : value; }

// Every Renderer.<language> key of [Jobs]: the languages are the preview's
// business, so whatever the file names is kept as it stands.
TIniEntries ReadRenderers(const TIniSnapshot& settings) {
  std::vector<std::string> keys;
  settings.ListKeys(kSection, keys);
  TIniEntries renderers;
  for (const std::string& key : keys) {
    const std::string_view prefix = TJobSettings::kRendererPrefix;
    if (key.size() > prefix.size() && SameTextIgnoringCase(key.substr(0, prefix.size()), prefix))
      renderers.emplace_back(key, TrimBlanks(settings.ReadText(kSection, key, "")));
  }
  return renderers;
}

TJobSettings ReadFrom(const TKeySource& source) {
  TJobSettings jobs;
  jobs.OneFilePerJob = source.Flag(kOneFilePerJob, false);
  jobs.JobIndex = source.Flag(kJobIndex, false);

  jobs.AllowedSenders = TrimBlanks(source.Text(kAllowedSenders, ""));
  jobs.MaxJobBytes = ReadLimit(source, kMaxJobBytes);
  jobs.IdleSeconds = AtMostTimerSeconds(ReadLimit(source, kIdleSeconds));
  jobs.DeleteAfterDays = source.Flag(kDeleteAfterDays, false);
  jobs.AfterJob = source.Text(kAfterJob, "");
  jobs.AfterJobParallel = AtLeastOne(source.Number(kAfterJobParallel, 4));
  jobs.AfterJobSeconds = AtMostTimerSeconds(AtLeastOne(source.Number(kAfterJobSeconds, 600)));
  jobs.Notify = source.Flag(kNotify, false);

  jobs.Replies = TrimBlanks(source.OwnText(kReplies));
  jobs.PrinterState = TrimBlanks(source.OwnText(kPrinterState));
  jobs.ReplyRules = TrimBlanks(source.OwnText(kReplyRules));
  jobs.Protocol = TrimBlanks(source.OwnText(kProtocol));
  jobs.KeepControlFile = source.OwnFlag(kKeepControlFile);
  return jobs;
}

std::string Flag(bool value) { return value ? "1" : "0"; }

bool IsOneOf(std::string_view key, const TIniEntries& entries) {
  return std::any_of(entries.begin(), entries.end(),
                     [key](const auto& entry) { return SameTextIgnoringCase(entry.first, key); });
}

bool IsOneOf(std::string_view key, const std::vector<std::string>& keys) {
  return std::any_of(keys.begin(), keys.end(),
                     [key](const std::string& own) { return SameTextIgnoringCase(own, key); });
}

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
  TJobSettings jobs = ReadFrom(TKeySource(settings, ""));
  jobs.Renderers = ReadRenderers(settings);
  return jobs;
}

TJobSettings TJobSettings::Read(const TIniSnapshot& settings, std::string_view port) {
  return ReadFrom(TKeySource(settings, PortSectionName(port)));
}

std::string TJobSettings::Renderer(std::string_view key) const {
  for (const auto& [name, command] : Renderers)
    if (SameTextIgnoringCase(name, key)) return command;
  return {};
}

TJobSettings TJobSettings::Read(const std::string& settingsPath) {
  return Read(TIniFile(settingsPath).Load());
}

TIniEntries TJobSettings::SharedEntries() const {
  return {{kOneFilePerJob, Flag(OneFilePerJob)},
          {kJobIndex, Flag(JobIndex)},
          {kAllowedSenders, AllowedSenders},
          {kMaxJobBytes, FormatInteger(MaxJobBytes)},
          {kIdleSeconds, FormatInteger(IdleSeconds)},
          {kDeleteAfterDays, Flag(DeleteAfterDays)},
          {kAfterJob, AfterJob},
          {kAfterJobParallel, FormatInteger(AfterJobParallel)},
          {kAfterJobSeconds, FormatInteger(AfterJobSeconds)},
          {kNotify, Flag(Notify)}};
}

void TJobSettings::Write(const std::string& settingsPath) const {
  TIniEntries entries = SharedEntries();
  entries.insert(entries.end(), Renderers.begin(), Renderers.end());
  TIniFile(settingsPath).WriteTexts(kSection, entries);
}

void TJobSettings::WritePort(const std::string& settingsPath, std::string_view port,
                             const std::vector<std::string>& ownKeys) const {
  TIniFile file(settingsPath);
  const std::string section = PortSectionName(port);
  const TIniEntries shared = SharedEntries();
  const TIniEntries portOnly = {
      {kReplies, Replies}, {kPrinterState, PrinterState}, {kReplyRules, ReplyRules}};
  TIniEntries entries;
  std::vector<std::string> kept;
  file.Load().ListEntries(section, kept);
  for (const std::string& line : kept) {
    const std::size_t equals = line.find('=');
    const std::string key = line.substr(0, equals);
    if (!IsOneOf(key, shared) && !IsOneOf(key, portOnly))
      entries.emplace_back(key, line.substr(equals + 1));
  }
  for (const auto& entry : shared)
    if (IsOneOf(entry.first, ownKeys)) entries.push_back(entry);
  for (const auto& entry : portOnly)
    if (!entry.second.empty()) entries.push_back(entry);
  file.ReplaceSection(section, entries);
}

std::string PortSectionName(std::string_view port) { return "Port " + TrimBlanks(port); }

std::vector<std::string> PortOwnKeys(const TIniSnapshot& settings, std::string_view port) {
  const std::string section = PortSectionName(port);
  std::vector<std::string> own;
  for (const auto& [key, text] : TJobSettings().SharedEntries())
    if (settings.HasKey(section, key)) own.push_back(key);
  return own;
}
