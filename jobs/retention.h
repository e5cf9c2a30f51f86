#pragma once

#include <QTimer>
#include <chrono>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_identity.h"
#include "capture/date_pattern.h"

class TIniSnapshot;

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

// One port as the sweep sees it.
struct TRetainedPort {
  std::string Folder;  // with its separator
  // Days above 0: its captures older than that may go. Otherwise (a Days
  // that is no number included) it keeps them all.
  int Days = 0;
  TCaptureNames Names;
};

// Every port of the loaded settings, those that keep everything included:
// another port whose folder and format name the same captures must not
// delete them. A port whose options leave DeleteAfterDays off keeps all.
std::vector<TRetainedPort> RetainedPorts(const TIniSnapshot& settings);

// One walk through the folders of the ports whose Days is above 0, deleting
// the captures last changed more than Days ago. A capture goes only when
// every port whose folder (the same folder, however spelled) and format name
// it would delete it: a port whose Days keeps everything keeps it, and of
// several Days the largest counts. It works in steps so that the caller
// decides how long each may take. Links are never followed, and only
// regular files are deleted. Every platform call goes through FileCalls().
class TRetentionSweep {
 public:
  using TInUse = std::function<bool(const TFileIdentity& file)>;
  // The full path, the Days it was kept for and, when the file could not
  // be deleted, the errno.
  using TDeleted = std::function<void(const std::string& path, int days, int platformErrno)>;

  TRetentionSweep(std::vector<TRetainedPort> ports, std::time_t now, TInUse inUse,
                  TDeleted deleted);
  ~TRetentionSweep();
  TRetentionSweep(const TRetentionSweep&) = delete;
  TRetentionSweep& operator=(const TRetentionSweep&) = delete;

  // Works until the deadline has passed; true once the walk is done.
  bool Step(std::chrono::steady_clock::time_point deadline);

 private:
  // One open folder of the walk; the walk's folders, from the port's own
  // down, are the path to the folder being read, so the n-th lies n levels
  // below the port's folder.
  struct TFolder {
    int handle;
    TFileIdentity identity;
    std::string relative;  // below the port's folder, with its separator
    std::vector<char> entries;
    std::size_t next = 0;  // the first entry not yet handled
    std::size_t end = 0;   // the end of the entries read
  };
  void OpenPort();
  void Enter(int parent, const char* name, std::string relative);
  const char* NextName(TFolder& folder);
  void Consider(std::size_t level, const std::string& name);
  static void RemoveKeptControlFile(int folder, const std::string& capture);
  int DaysToKeep(std::size_t level, std::string_view relative) const;
  void CloseFolders();

  std::vector<TRetainedPort> ports_;
  // Each port's folder, when it exists.
  std::vector<std::optional<TFileIdentity>> portFolders_;
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
