#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/ini_file.h"

// The [Jobs] section: options beyond plain capturing, each off by default, so
// that a settings file without the section captures exactly as before. Read
// afresh for every job, like the port definitions. A [Port <port>] section
// may set any of them for that port alone, and holds the keys that only
// make sense per port (the status replies).
// A size or a count as the [Jobs] section spells it: a whole decimal number,
// 0 or more, blanks around it allowed; nothing for any other text.
std::optional<int64_t> ParseJobLimit(std::string_view text);

struct TJobSettings {
  // Every job gets a file of its own: a taken name gets "-2", "-3", ...
  bool OneFilePerJob = false;
  // Every finished job adds one line to jobs.csv in its port's folder.
  bool JobIndex = false;

  // Limits on who may send, how much and for how long; empty or 0 is none.
  // Comma-separated IPv4 addresses and address/prefix blocks.
  std::string AllowedSenders;
  // Bytes a job keeps at most before its connection is closed.
  int64_t MaxJobBytes = 0;
  // Seconds a connection may stay silent before it is closed.
  int32_t IdleSeconds = 0;
  // Captures older than their port's Days are deleted.
  bool DeleteAfterDays = false;
  // Every time limit is read as at most this: 24 days, what one timer can
  // wait, and few enough that the limit in milliseconds fits an int32_t.
  static constexpr int32_t kMaxTimerSeconds = 24 * 24 * 3600;
  // After-job command: a /bin/sh command line run once per finished job, the
  // job's facts in its environment; empty runs nothing. At most
  // AfterJobParallel run at once, each for at most AfterJobSeconds.
  std::string AfterJob;
  int AfterJobParallel = 4;
  int AfterJobSeconds = 600;
  // One desktop notification per finished job, bursts merged.
  bool Notify = false;

  // A port's own keys, as written; [Jobs] never holds them. The printer
  // language whose status queries are answered ("none" when empty), the
  // printer state the answers report, and the operator's own
  // "pattern => reply" rules. Checked where they are used, so that a wrong
  // value is reported there and never blocks a capture.
  std::string Replies;
  std::string PrinterState;
  std::string ReplyRules;
  // How the port's peers send their jobs: "raw" (or empty), each
  // connection one job, or "lpd", the line printer protocol, each file it
  // sends one job. Checked where it is used, like the replies.
  std::string Protocol;
  // An LPD job's control file is kept beside each of its captures.
  bool KeepControlFile = false;

  // The commands that draw a capture's pages in the job list's preview, one
  // per printer language: the [Jobs] keys that start with kRendererPrefix,
  // as written. The program never runs them for a job, only for a preview,
  // so only the [Jobs] reading fills them: a connection's options go
  // without.
  static constexpr std::string_view kRendererPrefix = "Renderer.";
  TIniEntries Renderers;
  // The command of one such key ("Renderer.ZPL"); empty when none is set.
  std::string Renderer(std::string_view key) const;

  // The [Jobs] keys of one loaded settings file; what the file spells wrongly
  // reads as the default, what lies out of range as the nearest bound.
  static TJobSettings Read(const TIniSnapshot& settings);
  // Read from the file as it is now.
  static TJobSettings Read(const std::string& settingsPath);
  // The options in force on one port: each key its [Port <port>] section
  // holds, whatever its value, else the [Jobs] one.
  static TJobSettings Read(const TIniSnapshot& settings, std::string_view port);

  // The keys every port shares, [Jobs] and a port's section alike, with
  // their texts as they are written, in the order they are written.
  TIniEntries SharedEntries() const;
  // Sets every [Jobs] key in one atomic write that keeps every other line:
  // a failure leaves the file as it was. Raises "Unable to write to %s" like
  // every other settings write.
  void Write(const std::string& settingsPath) const;
  // Sets the port's section in one atomic write: of the shared keys those
  // named in ownKeys, with this value's texts, and the port's own keys that
  // are not empty. Keys of the section that no option knows stay; a section
  // left with no key goes. Raises "Unable to write to %s".
  void WritePort(const std::string& settingsPath, std::string_view port,
                 const std::vector<std::string>& ownKeys) const;
};

// "Port 9100" for the port "9100": the section of that port's options.
std::string PortSectionName(std::string_view port);
// The shared keys the port's section sets, in the order SharedEntries has
// them, each spelled as there.
std::vector<std::string> PortOwnKeys(const TIniSnapshot& settings, std::string_view port);
