#pragma once

#include <dirent.h>

#include <QTimer>
#include <chrono>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_identity.h"
#include "capture/date_pattern.h"

// The names a port's file format gives its captures, relative to the port's
// folder: the pattern rendered at some time, an optional "-N" from one file
// per job, then ".txt".
class TCaptureNames {
 public:
  // The format as the port definition holds it; blanks around it are trimmed
  // as for the capture itself.
  explicit TCaptureNames(std::string_view fileFormat);

  bool Matches(std::string_view relativeName) const;
  // How many folders below the port's folder its captures lie.
  int FolderDepth() const { return folderDepth_; }

 private:
  bool MatchesFrom(std::size_t piece, std::string_view rest) const;

  std::vector<TPatternPiece> shape_;
  int folderDepth_ = 0;
};

// One port whose old captures go.
struct TRetainedPort {
  std::string Folder;  // with its separator
  int Days = 0;
  TCaptureNames Names;
};

// Every port of the settings file whose Days is above 0; a port whose Days
// is no number keeps everything.
std::vector<TRetainedPort> RetainedPorts(const std::string& settingsPath);

// One walk through the folders of the ports, deleting the captures last
// changed more than their port's Days ago. It works in steps so that the
// caller decides how long each may take. Links are never followed, and only
// regular files are deleted.
class TRetentionSweep {
 public:
  using TInUse = std::function<bool(const TFileIdentity& file)>;
  // The full path and, when the file could not be deleted, the errno.
  using TDeleted = std::function<void(const std::string& path, int days, int platformErrno)>;

  TRetentionSweep(std::vector<TRetainedPort> ports, std::time_t now, TInUse inUse,
                  TDeleted deleted);
  ~TRetentionSweep();
  TRetentionSweep(const TRetentionSweep&) = delete;
  TRetentionSweep& operator=(const TRetentionSweep&) = delete;

  // Works until the deadline has passed; true once the walk is done.
  bool Step(std::chrono::steady_clock::time_point deadline);

 private:
  struct TFolder {
    DIR* listing;
    std::string relative;  // below the port's folder, with its separator
    int depth;
  };
  void OpenPort();
  void Enter(int parent, const char* name, std::string relative, int depth);
  void Consider(const TFolder& folder, const char* name);
  void CloseFolders();

  std::vector<TRetainedPort> ports_;
  std::size_t port_ = 0;
  std::time_t now_;
  TInUse inUse_;
  TDeleted deleted_;
  std::vector<TFolder> folders_;
};

// Deletes old captures when the [Jobs] option asks for it: at every start of
// the monitor and every hour, each sweep in slices of a few milliseconds per
// event-loop turn, so that a folder of many files never stalls the window.
class TRetention {
 public:
  static constexpr std::chrono::milliseconds kSlice{4};
  static constexpr std::chrono::hours kPeriod{1};

  TRetention(std::string settingsPath, TRetentionSweep::TInUse inUse,
             TRetentionSweep::TDeleted deleted);

  // Reads the option afresh; when it is on, a sweep begins now (a sweep
  // under way begins again) and then every hour.
  void Start();
  void Stop();

 private:
  void BeginSweep();
  void Slice();

  std::string settingsPath_;
  TRetentionSweep::TInUse inUse_;
  TRetentionSweep::TDeleted deleted_;
  std::unique_ptr<TRetentionSweep> sweep_;
  QTimer period_;
  QTimer slice_;
};
