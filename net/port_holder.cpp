#include "net/port_holder.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <system_error>
#include <utility>

#include "base/system_calls.h"
#include "base/text.h"
#include "base/whole_file.h"

namespace {

// /proc/net/tcp holds a line of about 150 bytes per socket; a busy server's
// table stays far below this.
constexpr off_t kMaxTableSize = 64 * 1024 * 1024;
// The socket state /proc/net/tcp writes for a listener.
constexpr std::string_view kListenState = "0A";

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t at = 0;
  while (at < line.size()) {
    const size_t start = line.find_first_not_of(' ', at);
    if (start == std::string_view::npos) break;
    size_t end = line.find(' ', start);
    if (end == std::string_view::npos) end = line.size();
    fields.push_back(line.substr(start, end - start));
    at = end;
  }
  return fields;
}

template <typename Number>
bool ParseWhole(std::string_view text, Number& value, int base) {
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return error == std::errc() && end == text.data() + text.size();
}

// "0100007F:238C" or a 32-digit IPv6 address: the port follows the colon, in
// hexadecimal.
bool LocalPortIs(std::string_view localAddress, uint16_t port) {
  const size_t colon = localAddress.rfind(':');
  uint16_t found = 0;
  return colon != std::string_view::npos && ParseWhole(localAddress.substr(colon + 1), found, 16) &&
         found == port;
}

std::string LinkTarget(const std::string& path) {
  char target[64];
  const ssize_t length = FileCalls().ReadLink(path.c_str(), target, sizeof target);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof target) return {};
  return std::string(target, static_cast<size_t>(length));
}

std::string CommandName(const std::filesystem::path& process) {
  try {
    return TrimBlanks(LoadWholeFile((process / "comm").string(), 4096).content);
  } catch (const EInOutError&) {
    return {};
  }
}

}  // namespace

std::vector<uint64_t> ListeningSocketInodes(std::string_view table, uint16_t port) {
  std::vector<uint64_t> inodes;
  for (const std::string_view line : SplitLines(table, TLineEnds::Terminal)) {
    const std::vector<std::string_view> fields = Fields(line);
    uint64_t inode = 0;
    if (fields.size() < 10 || fields[3] != kListenState || !LocalPortIs(fields[1], port) ||
        !ParseWhole(fields[9], inode, 10) || inode == 0) {
      continue;
    }
    inodes.push_back(inode);
  }
  return inodes;
}

std::vector<std::string> ListeningSocketLinks(const char* table, uint16_t port) {
  std::vector<std::string> links;
  try {
    for (uint64_t inode : ListeningSocketInodes(LoadWholeFile(table, kMaxTableSize).content, port))
      links.push_back("socket:[" + std::to_string(inode) + "]");
  } catch (const EInOutError&) {
    // A kernel without IPv6 has no tcp6 table: nothing listens there.
  }
  return links;
}

bool ProcessHoldsAnyOf(const std::string& processFolder, const std::vector<std::string>& links) {
  if (links.empty()) return false;
  std::error_code error;
  for (const auto& descriptor : std::filesystem::directory_iterator(processFolder + "/fd", error)) {
    const std::string target = LinkTarget(descriptor.path().string());
    if (!target.empty() && std::find(links.begin(), links.end(), target) != links.end())
      return true;
  }
  return false;
}

std::optional<TPortHolder> FindPortHolder(uint16_t port) {
  std::vector<std::string> links = ListeningSocketLinks("/proc/net/tcp", port);
  for (std::string& link : ListeningSocketLinks("/proc/net/tcp6", port))
    links.push_back(std::move(link));
  if (links.empty()) return std::nullopt;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    pid_t pid = 0;
    if (!ParseWhole(entry.path().filename().string(), pid, 10)) continue;
    if (ProcessHoldsAnyOf(entry.path().string(), links))
      return TPortHolder{pid, CommandName(entry.path())};
  }
  return std::nullopt;
}

std::string PortHolderNote(std::string_view portText) {
  uint16_t port = 0;
  if (!ParseWhole(TrimBlanksView(portText), port, 10)) return {};
  const std::optional<TPortHolder> holder = FindPortHolder(port);
  if (!holder) return {};
  return "held by " + (holder->Name.empty() ? std::string("a process") : holder->Name) + " (pid " +
         std::to_string(holder->Pid) + ")";
}
