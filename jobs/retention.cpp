#include "jobs/retention.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <utility>

#include "base/paths.h"
#include "base/system_calls.h"
#include "base/text.h"
#include "capture/ini_file.h"
#include "capture/job_settings.h"
#include "capture/port_definition.h"

namespace {

constexpr std::string_view kCaptureExtension = ".txt";
constexpr std::time_t kSecondsPerDay = 86400;
// Entries handled between two looks at the clock.
constexpr int kEntriesPerClockLook = 16;

// The entries one read of a folder takes at most.
constexpr std::size_t kFolderReadSize = 8192;

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

// Last changed more than days ago.
bool OlderThan(const struct stat& status, int days, std::time_t now) {
  return status.st_mtim.tv_sec < now - static_cast<std::time_t>(days) * kSecondsPerDay;
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

std::vector<TRetainedPort> RetainedPorts(const TIniSnapshot& settings) {
  std::vector<TRetainedPort> ports;
  for (const auto& [port, definition] : PortEntries(settings)) {
    // A port that keeps its captures still counts: a file it would also
    // name stays.
    const bool deletes = TJobSettings::Read(settings, port).DeleteAfterDays;
    ports.push_back(TRetainedPort{IncludeSeparator(definition.Directory),
                                  deletes ? ParseIntegerOr(definition.Days, 0) : 0,
                                  TCaptureNames(definition.FileFormat)});
  }
  return ports;
}

// ---------------------------------------------------------------------------
// One sweep

TRetentionSweep::TRetentionSweep(std::vector<TRetainedPort> ports, std::time_t now, TInUse inUse,
                                 TDeleted deleted)
    : ports_(std::move(ports)), now_(now), inUse_(std::move(inUse)), deleted_(std::move(deleted)) {
  // A port without a folder writes into the working folder.
  for (const TRetainedPort& port : ports_)
    portFolders_.push_back(FileIdentityOf(port.Folder.empty() ? "." : port.Folder));
  OpenPort();
}

TRetentionSweep::~TRetentionSweep() { CloseFolders(); }

void TRetentionSweep::CloseFolders() {
  for (TFolder& folder : folders_) CloseOnce(folder.handle);
  folders_.clear();
}

// Opens the folder of the next port that deletes anything and can be
// opened; a missing one has nothing to delete.
void TRetentionSweep::OpenPort() {
  for (; port_ < ports_.size() && folders_.empty(); ++port_) {
    if (ports_[port_].Days <= 0 || ports_[port_].Folder.empty()) continue;
    Enter(AT_FDCWD, ports_[port_].Folder.c_str(), "");
    if (!folders_.empty()) return;
  }
}

// The port's own folder may be a link the operator chose; below it, no link
// is followed (O_NOFOLLOW on every open).
void TRetentionSweep::Enter(int parent, const char* name, std::string relative) {
  const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (folders_.empty() ? 0 : O_NOFOLLOW);
  const int handle = OpenAtRetrying(parent, name, flags);
  if (handle < 0) return;
  struct stat status {};
  if (FileCalls().FileStatus(handle, &status) != 0) {
    CloseOnce(handle);
    return;
  }
  folders_.push_back(TFolder{handle, IdentityOfStatus(status), std::move(relative),
                             std::vector<char>(kFolderReadSize)});
}

// The name of the folder's next entry; nullptr at its end, and when it can
// be read no further.
const char* TRetentionSweep::NextName(TFolder& folder) {
  if (folder.next >= folder.end) {
    const ssize_t got = RetryOnEintr([&] {
      return FileCalls().ReadFolder(folder.handle, folder.entries.data(), kFolderReadSize);
    });
    if (got <= 0) return nullptr;
    folder.next = 0;
    folder.end = static_cast<std::size_t>(got);
  }
  const auto* entry = reinterpret_cast<const dirent64*>(folder.entries.data() + folder.next);
  folder.next += entry->d_reclen;
  return entry->d_name;
}

bool TRetentionSweep::Step(std::chrono::steady_clock::time_point deadline) {
  int sinceClockLook = 0;
  while (!folders_.empty()) {
    if (++sinceClockLook == kEntriesPerClockLook) {
      sinceClockLook = 0;
      if (std::chrono::steady_clock::now() >= deadline) return false;
    }
    const char* entry = NextName(folders_.back());
    if (entry == nullptr) {
      CloseOnce(folders_.back().handle);
      folders_.pop_back();
      if (folders_.empty()) {
        ++port_;
        OpenPort();
      }
      continue;
    }
    // A copy: entering a folder below adds to the walk's folders.
    const std::string name = entry;
    if (name == "." || name == "..") continue;
    Consider(folders_.size() - 1, name);
  }
  return true;
}

void TRetentionSweep::Consider(std::size_t level, const std::string& name) {
  const TRetainedPort& port = ports_[port_];
  const TFolder& folder = folders_[level];
  const std::string relative = folder.relative + name;
  // Only names of the right shape cost a status call; in a folder of the
  // pattern's own, anything may be a folder to enter.
  const bool deepest = level == static_cast<std::size_t>(port.Names.FolderDepth());
  if (deepest && !port.Names.Matches(relative)) return;
  struct stat status {};
  if (FileCalls().StatusAt(folder.handle, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return;
  if (S_ISDIR(status.st_mode)) {
    if (!deepest) Enter(folder.handle, name.c_str(), relative + '/');
    return;
  }
  if (!deepest || !S_ISREG(status.st_mode)) return;
  // Younger than this port's Days, it is younger than the largest Days too.
  if (!OlderThan(status, port.Days, now_)) return;
  const int days = DaysToKeep(level, relative);
  if (days <= 0 || !OlderThan(status, days, now_)) return;
  if (inUse_(IdentityOfStatus(status))) return;
  const int result = FileCalls().UnlinkAt(folder.handle, name.c_str(), 0);
  const int error = result == 0 ? 0 : errno;
  if (result == 0) RemoveKeptControlFile(folder.handle, name);
  deleted_(port.Folder + relative, days, error);
}

// An LPD job's control file, kept beside its capture, goes with it: nothing
// else would ever delete it. Only a regular file of exactly that name.
void TRetentionSweep::RemoveKeptControlFile(int folder, const std::string& capture) {
  const std::string kept = capture + ".cf";
  struct stat status {};
  if (FileCalls().StatusAt(folder, kept.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return;
  if (S_ISREG(status.st_mode)) FileCalls().UnlinkAt(folder, kept.c_str(), 0);
}

// The largest Days of the ports whose folder holds the capture at their
// format's depth and whose format names it; 0 when one of them keeps its
// captures. The walk's folders give the capture's folders above it, by
// identity, up to the swept port's own.
int TRetentionSweep::DaysToKeep(std::size_t level, std::string_view relative) const {
  int most = 0;
  for (std::size_t i = 0; i < ports_.size(); ++i) {
    const auto depth = static_cast<std::size_t>(ports_[i].Names.FolderDepth());
    if (depth > level || portFolders_[i] != folders_[level - depth].identity) continue;
    const std::size_t above = folders_[level - depth].relative.size();
    if (!ports_[i].Names.Matches(relative.substr(above))) continue;
    if (ports_[i].Days <= 0) return 0;
    most = std::max(most, ports_[i].Days);
  }
  return most;
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
    const TIniSnapshot settings = TIniFile(settingsPath_).Load();
    std::vector<TRetainedPort> ports = RetainedPorts(settings);
    if (std::none_of(ports.begin(), ports.end(),
                     [](const TRetainedPort& port) { return port.Days > 0; }))
      return;
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
