#include "jobs/retention.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <utility>

#include "base/paths.h"
#include "base/text.h"
#include "capture/ini_file.h"
#include "capture/job_settings.h"
#include "capture/port_definition.h"

namespace {

constexpr std::string_view kCaptureExtension = ".txt";
constexpr std::time_t kSecondsPerDay = 86400;
// Entries handled between two looks at the clock.
constexpr int kEntriesPerClockLook = 16;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Nothing, or "-" and the number one file per job adds, then ".txt".
bool IsCaptureEnding(std::string_view rest) {
  if (!rest.empty() && rest.front() == '-') {
    std::size_t digits = 1;
    while (digits < rest.size() && IsDigit(rest[digits])) ++digits;
    if (digits == 1) return false;
    rest.remove_prefix(digits);
  }
  return rest == kCaptureExtension;
}

}  // namespace

// ---------------------------------------------------------------------------
// Capture names

TCaptureNames::TCaptureNames(std::string_view fileFormat)
    : shape_(DatePatternShape(TrimBlanks(fileFormat))) {
  for (const TPatternPiece& piece : shape_)
    for (const char c : piece.Text)
      if (c == '/') ++folderDepth_;
}

bool TCaptureNames::Matches(std::string_view relativeName) const {
  return MatchesFrom(0, relativeName);
}

// Numbers of varying width and words of varying length can be read more
// than one way, so each way is tried; the pieces are few and short.
bool TCaptureNames::MatchesFrom(std::size_t piece, std::string_view rest) const {
  if (piece == shape_.size()) return IsCaptureEnding(rest);
  const TPatternPiece& expected = shape_[piece];
  if (expected.MaxDigits > 0) {
    std::size_t digits = 0;
    const auto most = static_cast<std::size_t>(expected.MaxDigits);
    while (digits < most && digits < rest.size() && IsDigit(rest[digits])) ++digits;
    for (; digits >= static_cast<std::size_t>(expected.MinDigits) && digits > 0; --digits)
      if (MatchesFrom(piece + 1, rest.substr(digits))) return true;
    return false;
  }
  if (!expected.Words.empty()) {
    for (const std::string& word : expected.Words)
      if (rest.starts_with(word) && MatchesFrom(piece + 1, rest.substr(word.size()))) return true;
    return false;
  }
  return rest.starts_with(expected.Text) &&
         MatchesFrom(piece + 1, rest.substr(expected.Text.size()));
}

std::vector<TRetainedPort> RetainedPorts(const std::string& settingsPath) {
  const TIniFile settings(settingsPath);
  std::vector<std::string> entries;
  settings.ListEntries("Ports", entries);
  std::vector<TRetainedPort> ports;
  for (const std::string& entry : entries) {
    const std::size_t equals = entry.find('=');
    if (equals == std::string::npos) continue;
    const TPortDefinition definition = DecodePortDefinition(entry.substr(equals + 1));
    int days = 0;
    try {
      days = ParseInteger(definition.Days);
    } catch (const std::exception&) {
      continue;
    }
    if (days <= 0) continue;
    ports.push_back(TRetainedPort{IncludeSeparator(definition.Directory), days,
                                  TCaptureNames(definition.FileFormat)});
  }
  return ports;
}

// ---------------------------------------------------------------------------
// One sweep

TRetentionSweep::TRetentionSweep(std::vector<TRetainedPort> ports, std::time_t now, TInUse inUse,
                                 TDeleted deleted)
    : ports_(std::move(ports)), now_(now), inUse_(std::move(inUse)), deleted_(std::move(deleted)) {
  OpenPort();
}

TRetentionSweep::~TRetentionSweep() { CloseFolders(); }

void TRetentionSweep::CloseFolders() {
  for (TFolder& folder : folders_) closedir(folder.listing);
  folders_.clear();
}

// Opens the next port's folder that can be opened; a missing one has
// nothing to delete.
void TRetentionSweep::OpenPort() {
  for (; port_ < ports_.size() && folders_.empty(); ++port_) {
    if (ports_[port_].Folder.empty()) continue;
    Enter(AT_FDCWD, ports_[port_].Folder.c_str(), "", 0);
    if (!folders_.empty()) return;
  }
}

// The port's own folder may be a link the operator chose; below it, no link
// is followed (O_NOFOLLOW on every open).
void TRetentionSweep::Enter(int parent, const char* name, std::string relative, int depth) {
  const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (depth > 0 ? O_NOFOLLOW : 0);
  const int handle = openat(parent, name, flags);
  if (handle < 0) return;
  DIR* listing = fdopendir(handle);
  if (listing == nullptr) {
    close(handle);
    return;
  }
  folders_.push_back(TFolder{listing, std::move(relative), depth});
}

bool TRetentionSweep::Step(std::chrono::steady_clock::time_point deadline) {
  int sinceClockLook = 0;
  while (!folders_.empty()) {
    if (++sinceClockLook == kEntriesPerClockLook) {
      sinceClockLook = 0;
      if (std::chrono::steady_clock::now() >= deadline) return false;
    }
    const TFolder folder = folders_.back();
    errno = 0;
    const dirent* entry = readdir(folder.listing);
    if (entry == nullptr) {
      closedir(folder.listing);
      folders_.pop_back();
      if (folders_.empty()) {
        ++port_;
        OpenPort();
      }
      continue;
    }
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    Consider(folder, entry->d_name);
  }
  return true;
}

void TRetentionSweep::Consider(const TFolder& folder, const char* name) {
  const TRetainedPort& port = ports_[port_];
  const std::string relative = folder.relative + name;
  const int parent = dirfd(folder.listing);
  // Only names of the right shape cost a status call; in a folder of the
  // pattern's own, anything may be a folder to enter.
  const bool deepest = folder.depth == port.Names.FolderDepth();
  if (deepest && !port.Names.Matches(relative)) return;
  struct stat status {};
  if (fstatat(parent, name, &status, AT_SYMLINK_NOFOLLOW) != 0) return;
  if (S_ISDIR(status.st_mode)) {
    if (!deepest) Enter(parent, name, relative + '/', folder.depth + 1);
    return;
  }
  if (!deepest || !S_ISREG(status.st_mode)) return;
  if (status.st_mtim.tv_sec >= now_ - static_cast<std::time_t>(port.Days) * kSecondsPerDay) return;
  if (inUse_(IdentityOfStatus(status))) return;
  const int result = unlinkat(parent, name, 0);
  deleted_(port.Folder + relative, port.Days, result == 0 ? 0 : errno);
}

// ---------------------------------------------------------------------------
// When sweeps run

TRetention::TRetention(std::string settingsPath, TRetentionSweep::TInUse inUse,
                       TRetentionSweep::TDeleted deleted)
    : settingsPath_(std::move(settingsPath)),
      inUse_(std::move(inUse)),
      deleted_(std::move(deleted)) {
  period_.setInterval(std::chrono::duration_cast<std::chrono::milliseconds>(kPeriod));
  QObject::connect(&period_, &QTimer::timeout, [this] { BeginSweep(); });
  slice_.setInterval(0);
  QObject::connect(&slice_, &QTimer::timeout, [this] { Slice(); });
}

void TRetention::Start() {
  Stop();
  period_.start();
  BeginSweep();
}

void TRetention::Stop() {
  period_.stop();
  slice_.stop();
  sweep_.reset();
}

// The option and the ports are read afresh for every sweep, like every
// other setting. A settings file that cannot be read sweeps nothing; the
// start has already said why in the port log.
void TRetention::BeginSweep() {
  slice_.stop();
  sweep_.reset();
  try {
    if (!TJobSettings::Read(settingsPath_).DeleteAfterDays) return;
    std::vector<TRetainedPort> ports = RetainedPorts(settingsPath_);
    if (ports.empty()) return;
    sweep_ =
        std::make_unique<TRetentionSweep>(std::move(ports), std::time(nullptr), inUse_, deleted_);
  } catch (const std::exception&) {
    return;
  }
  slice_.start();
}

void TRetention::Slice() {
  if (sweep_ && !sweep_->Step(std::chrono::steady_clock::now() + kSlice)) return;
  slice_.stop();
  sweep_.reset();
}
