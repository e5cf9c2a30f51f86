#include "capture/ini_file.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <optional>
#include <unordered_map>

#include "base/exceptions.h"
#include "base/paths.h"
#include "base/system_calls.h"
#include "base/text.h"
#include "base/whole_file.h"

namespace {

enum class TLineKind { Other, Header, Entry };

// One line of the file as it stands; text and ending point into the content.
struct TLine {
  std::string_view text;    // without its line end
  std::string_view ending;  // "\n", "\r\n", or empty for a last line without one
  TLineKind kind = TLineKind::Other;
  std::string_view name;   // section name of a header, key of an entry; trimmed
  std::string_view value;  // value of an entry; trimmed
  int section = -1;        // index of the header line above, -1 before any
};

}  // namespace

// The file's text and its lines, which point into it; made once and never
// moved, so the lines stay valid for as long as anyone holds the document.
struct TIniDocument {
  TWholeFile file;
  std::vector<TLine> lines;
  // The header lines' indexes, in file order: a look-up compares section
  // names once per section rather than once per line, so a key of a small
  // section costs little beside ten thousand ports.
  std::vector<std::size_t> headers;
  std::string newline = "\n";  // the line end new lines get
};

namespace {

using TDocument = TIniDocument;

void ClassifyLine(TLine& line) {
  const std::string_view trimmed = TrimBlanksView(line.text);
  if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#') return;
  if (trimmed[0] == '[') {
    std::string_view inside = trimmed.substr(1);
    if (const std::size_t close = inside.find(']'); close != std::string_view::npos) {
      inside = inside.substr(0, close);
    }
    line.kind = TLineKind::Header;
    line.name = TrimBlanksView(inside);
    return;
  }
  const std::size_t equals = trimmed.find('=');
  if (equals == std::string_view::npos) return;
  const std::string_view key = TrimBlanksView(trimmed.substr(0, equals));
  if (key.empty()) return;
  line.kind = TLineKind::Entry;
  line.name = key;
  line.value = TrimBlanksView(trimmed.substr(equals + 1));
}

void SplitIntoLines(TDocument& document) {
  std::string_view rest(document.file.content);
  bool newlineChosen = false;
  int section = -1;
  while (!rest.empty()) {
    TLine line;
    const std::size_t end = rest.find('\n');
    if (end == std::string_view::npos) {
      line.text = rest;
      rest = std::string_view();
    } else {
      const bool crlf = end > 0 && rest[end - 1] == '\r';
      line.text = rest.substr(0, crlf ? end - 1 : end);
      line.ending = rest.substr(line.text.size(), end + 1 - line.text.size());
      rest.remove_prefix(end + 1);
      if (!newlineChosen) {
        document.newline = crlf ? "\r\n" : "\n";
        newlineChosen = true;
      }
    }
    ClassifyLine(line);
    if (line.kind == TLineKind::Header) {
      section = static_cast<int>(document.lines.size());
      document.headers.push_back(document.lines.size());
    }
    line.section = line.kind == TLineKind::Header ? -1 : section;
    document.lines.push_back(line);
  }
}

// Anything larger is no settings file anyone wrote by hand, and reading it
// whole at every connection would exhaust memory.
constexpr off_t kMaxSettingsSize = 16 << 20;

// The file as it stands; a missing file is an empty document. A reader
// reports why a file that exists cannot be read; a writer only that it
// cannot write, since it must not replace what it cannot see.
std::shared_ptr<const TDocument> LoadDocument(const std::string& path, bool forWriting) {
  auto document = std::make_shared<TDocument>();
  try {
    document->file = LoadWholeFile(path, kMaxSettingsSize);
  } catch (const EInOutError&) {
    if (forWriting) throw UnableToWrite(path);
    throw;
  }
  SplitIntoLines(*document);
  return document;
}

bool InSection(const TDocument& document, const TLine& line, std::string_view section) {
  if (line.kind == TLineKind::Header) return SameTextIgnoringCase(line.name, section);
  return line.section >= 0 &&
         SameTextIgnoringCase(document.lines[static_cast<std::size_t>(line.section)].name, section);
}

bool IsEntryOf(const TDocument& document, const TLine& line, std::string_view section) {
  return line.kind == TLineKind::Entry && InSection(document, line, section);
}

// The first entry of the key in the section, or nullptr.
const TLine* FindEntry(const TDocument& document, std::string_view section, std::string_view key) {
  for (const std::size_t header : document.headers) {
    if (!SameTextIgnoringCase(document.lines[header].name, section)) continue;
    for (std::size_t i = header + 1;
         i < document.lines.size() && document.lines[i].kind != TLineKind::Header; ++i) {
      const TLine& line = document.lines[i];
      if (line.kind == TLineKind::Entry && SameTextIgnoringCase(line.name, key)) return &line;
    }
  }
  return nullptr;
}

// Changes to a document's lines, applied when it is written.
struct TEdit {
  explicit TEdit(const TDocument& document)
      : drop(document.lines.size(), false),
        replace(document.lines.size()),
        insertAfter(document.lines.size()) {}
  std::vector<bool> drop;
  std::vector<std::optional<std::string>> replace;
  std::vector<std::vector<std::string>> insertAfter;
  std::vector<std::string> append;
};

std::string Render(const TDocument& document, const TEdit& edit) {
  // Pieces of text, each with its line end; only the very last may lack one.
  std::vector<std::pair<std::string_view, std::string_view>> pieces;
  for (std::size_t i = 0; i < document.lines.size(); ++i) {
    const TLine& line = document.lines[i];
    if (!edit.drop[i]) {
      pieces.emplace_back(edit.replace[i] ? std::string_view(*edit.replace[i]) : line.text,
                          line.ending);
    }
    for (const std::string& added : edit.insertAfter[i])
      pieces.emplace_back(added, document.newline);
  }
  for (const std::string& added : edit.append) pieces.emplace_back(added, document.newline);
  std::string result;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    result += pieces[i].first;
    const bool last = i + 1 == pieces.size();
    result +=
        (pieces[i].second.empty() && !last) ? std::string_view(document.newline) : pieces[i].second;
  }
  return result;
}

void Commit(const std::string& path, const TDocument& document, const TEdit& edit) {
  ReplaceWholeFile(path, Render(document, edit), document.file.mode);
}

bool HasAny(std::string_view text, std::string_view bytes) {
  return text.find_first_of(bytes) != std::string_view::npos;
}

// Names and values that the format cannot hold would change other lines or
// be read back differently; such a write fails rather than corrupt the file.
std::string CheckedSection(const std::string& path, std::string_view section) {
  std::string name = TrimBlanks(section);
  if (name.empty() || HasAny(name, "]\r\n")) throw UnableToWrite(path);
  return name;
}

std::string EntryLine(const std::string& path, std::string_view key, std::string_view value) {
  const std::string name = TrimBlanks(key);
  if (name.empty() || HasAny(name, "=\r\n") || name[0] == '[' || name[0] == ';' || name[0] == '#' ||
      HasAny(value, "\r\n")) {
    throw UnableToWrite(path);
  }
  return name + "=" + std::string(value);
}

// The lines of the given entries, each checked as EntryLine checks it.
std::vector<std::string> EntryLines(const std::string& path, const TIniEntries& entries) {
  std::vector<std::string> lines;
  for (const auto& [key, value] : entries) lines.push_back(EntryLine(path, key, value));
  return lines;
}

// A section the file lacks goes at its end, with the given lines.
void AppendSection(TEdit& edit, const std::string& name, const std::vector<std::string>& lines) {
  edit.append.push_back("[" + name + "]");
  edit.append.insert(edit.append.end(), lines.begin(), lines.end());
}

// Index of the first header of the section, or -1.
int FirstHeader(const TDocument& document, std::string_view section) {
  for (std::size_t i = 0; i < document.lines.size(); ++i) {
    const TLine& line = document.lines[i];
    if (line.kind == TLineKind::Header && SameTextIgnoringCase(line.name, section)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

// Each key once, in the order keys first appear; a key given twice keeps
// its last value.
TIniEntries WithoutRepeatedKeys(const TIniEntries& entries) {
  TIniEntries result;
  std::unordered_map<std::string, std::size_t> byKey;
  for (const auto& [key, value] : entries) {
    const auto [found, added] = byKey.try_emplace(UpperAscii(TrimBlanks(key)), result.size());
    if (added)
      result.emplace_back(key, value);
    else
      result[found->second].second = value;
  }
  return result;
}

// The lines of the list that name a key (the part before their first "="),
// by the key in upper case, first line first. A line without "=" names no key
// and is never replaced or removed.
std::unordered_map<std::string, std::deque<std::size_t>> ListLinesByKey(
    const std::vector<std::optional<std::string>>& lines) {
  std::unordered_map<std::string, std::deque<std::size_t>> linesByKey;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::size_t equals = lines[i]->find('=');
    if (equals != std::string::npos)
      linesByKey[UpperAscii(lines[i]->substr(0, equals))].push_back(i);
  }
  return linesByKey;
}

std::shared_ptr<const TDocument> EmptyDocument() {
  static const auto empty = std::make_shared<const TDocument>();
  return empty;
}

}  // namespace

// ---------------------------------------------------------------------------
// Reading: one parse, every rule in one place

TIniSnapshot::TIniSnapshot() : document_(EmptyDocument()) {}

TIniSnapshot::TIniSnapshot(std::shared_ptr<const TIniDocument> document)
    : document_(std::move(document)) {}

std::string TIniSnapshot::ReadText(std::string_view section, std::string_view key,
                                   std::string_view defaultText) const {
  const TLine* entry = FindEntry(*document_, TrimBlanks(section), TrimBlanks(key));
  const std::string_view text = entry ? entry->value : defaultText;
  return std::string(text.substr(0, std::min(text.size(), kMaxTextLength)));
}

bool TIniSnapshot::HasKey(std::string_view section, std::string_view key) const {
  return FindEntry(*document_, TrimBlanks(section), TrimBlanks(key)) != nullptr;
}

int32_t TIniSnapshot::ReadNumber(std::string_view section, std::string_view key,
                                 int32_t defaultValue) const {
  std::string text = ReadText(section, key, "");
  if (text.size() > 2 && (text.starts_with("0x") || text.starts_with("0X"))) {
    text.replace(0, 2, "$");
  }
  return ParseIntegerOr(text, defaultValue);
}

bool TIniSnapshot::ReadFlag(std::string_view section, std::string_view key,
                            bool defaultValue) const {
  return ReadNumber(section, key, defaultValue ? 1 : 0) != 0;
}

void TIniSnapshot::ListKeys(std::string_view section, std::vector<std::string>& keys) const {
  keys.clear();
  const std::string name = TrimBlanks(section);
  for (const TLine& line : document_->lines) {
    if (IsEntryOf(*document_, line, name)) keys.emplace_back(line.name);
  }
}

void TIniSnapshot::ListEntries(std::string_view section, std::vector<std::string>& entries) const {
  const TDocument& document = *document_;
  const std::string name = TrimBlanks(section);
  // The value read for a key is that of its first entry.
  std::unordered_map<std::string, std::string_view> firstValue;
  std::vector<std::string_view> keys;
  for (const TLine& line : document.lines) {
    if (!IsEntryOf(document, line, name)) continue;
    keys.push_back(line.name);
    firstValue.try_emplace(UpperAscii(line.name), line.value);
  }
  // Removed lines are marked and dropped at the end.
  std::vector<std::optional<std::string>> working(entries.begin(), entries.end());
  std::unordered_map<std::string, std::deque<std::size_t>> linesByName = ListLinesByKey(working);
  for (std::string_view key : keys) {
    const std::string folded = UpperAscii(key);
    std::string_view value = firstValue[folded];
    value = value.substr(0, std::min(value.size(), kMaxTextLength));
    std::deque<std::size_t>& found = linesByName[folded];
    if (!value.empty()) {
      std::string line = std::string(key) + "=" + std::string(value);
      if (found.empty()) {
        found.push_back(working.size());
        working.emplace_back(std::move(line));
      } else {
        working[found.front()] = std::move(line);
      }
    } else if (!found.empty()) {
      working[found.front()].reset();
      found.pop_front();
    }
  }
  entries.clear();
  for (std::optional<std::string>& line : working) {
    if (line) entries.push_back(std::move(*line));
  }
}

TIniSnapshot TIniFile::Load() const { return TIniSnapshot(LoadDocument(path_, false)); }

std::string TIniFile::ReadText(std::string_view section, std::string_view key,
                               std::string_view defaultText) const {
  return Load().ReadText(section, key, defaultText);
}

int32_t TIniFile::ReadNumber(std::string_view section, std::string_view key,
                             int32_t defaultValue) const {
  return Load().ReadNumber(section, key, defaultValue);
}

bool TIniFile::ReadFlag(std::string_view section, std::string_view key, bool defaultValue) const {
  return Load().ReadFlag(section, key, defaultValue);
}

void TIniFile::ListKeys(std::string_view section, std::vector<std::string>& keys) const {
  Load().ListKeys(section, keys);
}

void TIniFile::ListEntries(std::string_view section, std::vector<std::string>& entries) const {
  Load().ListEntries(section, entries);
}

// ---------------------------------------------------------------------------
// Writing: the file read afresh, changed, and replaced in one step

void TIniFile::WriteText(std::string_view section, std::string_view key, std::string_view value) {
  WriteTexts(section, {{std::string(key), std::string(value)}});
}

void TIniFile::WriteNumber(std::string_view section, std::string_view key, int32_t value) {
  WriteText(section, key, FormatInteger(value));
}

void TIniFile::WriteFlag(std::string_view section, std::string_view key, bool value) {
  WriteText(section, key, value ? "1" : "0");
}

void TIniFile::WriteTexts(std::string_view section, const TIniEntries& entries) {
  if (entries.empty()) return;
  const std::string sectionName = CheckedSection(path_, section);
  const TIniEntries distinct = WithoutRepeatedKeys(entries);
  const std::vector<std::string> lines = EntryLines(path_, distinct);
  const std::shared_ptr<const TDocument> loaded = LoadDocument(path_, true);
  const TDocument& document = *loaded;
  TEdit edit(document);
  const int header = FirstHeader(document, sectionName);
  // Where a key new to the section goes: below the last entry of the
  // section's first occurrence, or right below its header.
  int lastEntry = header;
  for (std::size_t i = 0; i < document.lines.size(); ++i) {
    const TLine& line = document.lines[i];
    if (IsEntryOf(document, line, sectionName) && line.section == header)
      lastEntry = static_cast<int>(i);
  }
  std::vector<std::string> added;
  for (std::size_t k = 0; k < distinct.size(); ++k) {
    const TLine* entry = FindEntry(document, sectionName, TrimBlanks(distinct[k].first));
    if (entry)
      edit.replace[static_cast<std::size_t>(entry - document.lines.data())] = lines[k];
    else
      added.push_back(lines[k]);
  }
  if (header < 0) {
    AppendSection(edit, sectionName, added);
  } else {
    edit.insertAfter[static_cast<std::size_t>(lastEntry)] = added;
  }
  Commit(path_, document, edit);
}

void TIniFile::DropSection(std::string_view section) {
  const std::string name = TrimBlanks(section);
  const std::shared_ptr<const TDocument> loaded = LoadDocument(path_, true);
  const TDocument& document = *loaded;
  if (FirstHeader(document, name) < 0) return;  // nothing to remove, nothing written
  TEdit edit(document);
  for (std::size_t i = 0; i < document.lines.size(); ++i) {
    if (InSection(document, document.lines[i], name)) edit.drop[i] = true;
  }
  Commit(path_, document, edit);
}

void TIniFile::ReplaceSection(std::string_view section, const TIniEntries& entries) {
  if (entries.empty()) {
    DropSection(section);
    return;
  }
  const std::string name = CheckedSection(path_, section);
  const std::vector<std::string> lines = EntryLines(path_, entries);
  const std::shared_ptr<const TDocument> loaded = LoadDocument(path_, true);
  const TDocument& document = *loaded;
  TEdit edit(document);
  const int header = FirstHeader(document, name);
  if (header < 0) {
    AppendSection(edit, name, lines);
    Commit(path_, document, edit);
    return;
  }
  // The first occurrence keeps its header and comments; its entries give way
  // to the new ones, which go where its first entry was. Later occurrences
  // of the same section go entirely.
  int insertAfter = header;
  bool entrySeen = false;
  for (std::size_t i = 0; i < document.lines.size(); ++i) {
    const TLine& line = document.lines[i];
    if (!InSection(document, line, name)) continue;
    const bool inFirst = static_cast<int>(i) == header || line.section == header;
    if (!inFirst) {
      edit.drop[i] = true;
    } else if (line.kind == TLineKind::Entry) {
      edit.drop[i] = true;
      entrySeen = true;
    } else if (!entrySeen) {
      insertAfter = static_cast<int>(i);
    }
  }
  // Comments between the header and the first entry stay above the entries.
  if (!entrySeen) insertAfter = header;
  edit.insertAfter[static_cast<std::size_t>(insertAfter)] = lines;
  Commit(path_, document, edit);
}

namespace {

// The user's configuration folder by the XDG rules, with a trailing "/":
// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config; empty when
// neither is known.
std::string UserConfigFolder() {
  const char* configured = std::getenv("XDG_CONFIG_HOME");
  if (configured && configured[0] == '/') return IncludeSeparator(configured);
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return IncludeSeparator(home) + ".config/";
  return "";
}

// Whether the settings may sit beside an executable in that folder. Not in
// the system's tree: its files belong to the package manager, which leaves a
// file written there behind when the package goes, and the administrator
// may write there. Nor in a folder of someone else's: the settings would
// change under that owner's copy of the program.
bool SettingsMayStayIn(const std::string& folder, uid_t user) {
  if (folder.starts_with("/usr/")) return false;
  struct stat status {};
  return FileCalls().PathStatus(folder.c_str(), &status) == 0 && status.st_uid == user;
}

}  // namespace

std::string SettingsPathFor(std::string_view executable, uid_t user) {
  const std::string beside = ReplaceExtension(executable, ".ini");
  const std::string directory = DirectoryPart(beside);
  const std::string folder = directory.empty() ? std::string(".") : directory;
  if (SettingsMayStayIn(folder, user) &&
      (FileIsPresent(beside) || FileCalls().Access(folder.c_str(), W_OK) == 0))
    return beside;
  // An installed copy, run by anybody, keeps the settings of each user in
  // that user's own folder, where they save and outlive no package.
  const std::string config = UserConfigFolder();
  return config.empty() ? beside : config + "tarnock/tarnock.ini";
}

std::string SettingsFilePath() {
  // Decided once, so that a folder that becomes writable later, or a file
  // that appears there, never splits the settings between two files.
  static const std::string path = [] {
    const std::string executable = LinkText("/proc/self/exe");
    return executable.empty() ? std::string("tarnock.ini") : SettingsPathFor(executable, geteuid());
  }();
  return path;
}
