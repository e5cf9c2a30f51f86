#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The format of the settings file, INI style.
//
// Format: "[name]" lines open sections; "key=value" lines belong to the
// section above them. Section and key names match without regard to ASCII
// case, blanks around names and values are trimmed, nothing is quoted or
// escaped; lines starting with ";" or "#" and blank lines are kept as they
// are. CRLF line ends are read like LF. The first of several equal keys is
// the one read and written. A line without "=" names no key.

// Entries in the order they are to be written: key, then value.
using TIniEntries = std::vector<std::pair<std::string, std::string>>;

struct TIniDocument;

// The settings file as it stood at one moment, read and parsed once: every
// read answers from that one parse, so a reader that needs many keys (a
// connection needs its port and every [Jobs] key) costs one load. Copies
// share the parsed text, which never changes.
class TIniSnapshot {
 public:
  static constexpr std::size_t kMaxTextLength = 2047;

  // An empty file: every read gives its default.
  TIniSnapshot();

  // The key's value, or the default when the section or key is missing; at
  // most kMaxTextLength bytes.
  std::string ReadText(std::string_view section, std::string_view key,
                       std::string_view defaultText) const;
  // "0x"/"0X" become "$", then ParseIntegerOr with the default.
  int32_t ReadNumber(std::string_view section, std::string_view key, int32_t defaultValue) const;
  // ReadNumber with default 1 or 0; true when not 0.
  bool ReadFlag(std::string_view section, std::string_view key, bool defaultValue) const;
  // Whether the section holds the key, with any value, empty included.
  bool HasKey(std::string_view section, std::string_view key) const;

  // Empties the list, then appends every key name of the section, whole, in
  // file order.
  void ListKeys(std::string_view section, std::vector<std::string>& keys) const;
  // Does not empty the list. For each key: a non-empty value replaces the
  // line "key=..." already in the list (key compared without regard to case)
  // or is appended as "key=value"; an empty value removes such a line. A
  // line without "=" names no key and stays.
  void ListEntries(std::string_view section, std::vector<std::string>& entries) const;

 private:
  friend class TIniFile;
  explicit TIniSnapshot(std::shared_ptr<const TIniDocument> document);
  std::shared_ptr<const TIniDocument> document_;
};

// The settings accessor: holds nothing but the path of the file and reads
// the file afresh at every operation.
//
// Reading never waits and reads nothing but a regular file of at most 16 MiB
// (LoadWholeFile): a missing file reads as empty, one that exists but cannot
// be read raises its I/O error. Each read below is Load() and the snapshot's
// read of the same name.
//
// A write keeps every other line as it was and replaces the file in one step
// (ReplaceWholeFile: a failed write leaves the old file whole, a symbolic
// link is followed and stays); it raises Exception "Unable to write to " +
// path.
class TIniFile {
 public:
  static constexpr std::size_t kMaxTextLength = TIniSnapshot::kMaxTextLength;

  explicit TIniFile(std::string path) : path_(std::move(path)) {}
  const std::string& FileName() const { return path_; }

  // The file as it is now, read and parsed once.
  TIniSnapshot Load() const;

  std::string ReadText(std::string_view section, std::string_view key,
                       std::string_view defaultText) const;
  int32_t ReadNumber(std::string_view section, std::string_view key, int32_t defaultValue) const;
  bool ReadFlag(std::string_view section, std::string_view key, bool defaultValue) const;
  void ListKeys(std::string_view section, std::vector<std::string>& keys) const;
  void ListEntries(std::string_view section, std::vector<std::string>& entries) const;

  // Sets the key, creating the file, section and key as needed.
  void WriteText(std::string_view section, std::string_view key, std::string_view value);
  void WriteNumber(std::string_view section, std::string_view key, int32_t value);
  void WriteFlag(std::string_view section, std::string_view key, bool value);
  // Sets every given key of the section as WriteText does, in one atomic
  // write: afterwards the file holds either none or all of them. Other keys
  // of the section stay. Keys new to the section follow its last entry, in
  // the given order; of a key given twice the last value counts. No entries
  // write nothing.
  void WriteTexts(std::string_view section, const TIniEntries& entries);

  // Removes the section with all its keys.
  void DropSection(std::string_view section);
  // Replaces every entry of the section by the given ones, in order, in one
  // atomic write: afterwards the file holds either the old or the new
  // section, never a part. No entries removes the section.
  void ReplaceSection(std::string_view section, const TIniEntries& entries);

 private:
  std::string path_;
};

// Where the settings of the executable at that path live, for the user with
// that id: beside it, named after it with the extension ".ini", when its
// folder lies outside /usr, belongs to that user, and the file exists there
// or the folder is writable; otherwise tarnock/tarnock.ini in the user's
// configuration folder ($XDG_CONFIG_HOME, by default ~/.config), and beside
// the executable only when neither variable names a folder.
std::string SettingsPathFor(std::string_view executable, uid_t user);

// SettingsPathFor the running executable's real path (/proc/self/exe) and
// the effective user, decided at the first call and the same for the rest
// of the run.
std::string SettingsFilePath();
