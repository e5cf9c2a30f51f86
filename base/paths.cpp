#include "base/paths.h"

#include <sys/stat.h>

#include "base/exceptions.h"
#include "base/system_calls.h"

namespace {

// Index of the last byte of path that is one of separators, or npos.
std::size_t LastSeparator(std::string_view path, std::string_view separators) {
  return path.find_last_of(separators);
}

bool StatPath(const std::string& path, struct stat& status) {
  return FileCalls().PathStatus(path.c_str(), &status) == 0;
}

}  // namespace

std::string ReplaceExtension(std::string_view path, std::string_view extension) {
  const std::size_t last = LastSeparator(path, "./");
  std::string result(path);
  if (last != std::string_view::npos && path[last] == '.') result.resize(last);
  result += extension;
  return result;
}

std::string DirectoryPart(std::string_view path) {
  const std::size_t last = LastSeparator(path, "/");
  if (last == std::string_view::npos) return std::string();
  return std::string(path.substr(0, last + 1));
}

std::string IncludeSeparator(std::string_view directory) {
  if (directory.empty() || directory.back() == '/') return std::string(directory);
  return std::string(directory) + "/";
}

bool FileIsPresent(const std::string& path) {
  struct stat status {};
  return !path.empty() && StatPath(path, status) && !S_ISDIR(status.st_mode);
}

bool DirectoryIsPresent(const std::string& path) {
  struct stat status {};
  return !path.empty() && StatPath(path, status) && S_ISDIR(status.st_mode);
}

void CreateDirectoryChain(std::string_view directory) {
  if (directory.empty()) throw Exception("Unable to create directory");
  std::string text(directory);
  if (text.back() == '/') text.pop_back();
  // The root "/" (now empty) stops the chain like a drive does; so does a text
  // that still ends in "/" after one was removed (its parent is itself).
  if (text.empty() || DirectoryIsPresent(text) || DirectoryPart(text) == text) return;
  CreateDirectoryChain(DirectoryPart(text));
  // A refusal shows when a file in this directory is opened.
  FileCalls().MakeDirectory(text.c_str(), 0777);
}

std::string LinkText(const std::string& path) {
  char text[4096];
  const ssize_t length = FileCalls().ReadLink(path.c_str(), text, sizeof text);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof text) return std::string();
  return std::string(text, static_cast<std::size_t>(length));
}

std::string FileBehindLinks(const std::string& path) {
  // As many hops as the kernel follows; a longer chain fails to open anyway.
  constexpr int kMaxLinks = 40;
  std::string current = path;
  for (int hop = 0; hop < kMaxLinks; ++hop) {
    const std::string link = LinkText(current);
    if (link.empty()) break;
    current = link.starts_with('/') ? link : DirectoryPart(current) + link;
  }
  return current;
}
