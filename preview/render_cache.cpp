#include "preview/render_cache.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include "base/text.h"
#include "preview/png_splitter.h"

namespace {

constexpr int kKeyHexDigits = 32;

bool IsPageName(const std::string& name) {
  return name.size() == PageFileName(1).size() && name.starts_with("page-") &&
         name.ends_with(".png");
}

bool IsKeyName(const std::string& name) {
  return name.size() == kKeyHexDigits &&
         std::all_of(name.begin(), name.end(), [](char c) { return std::isxdigit(c) != 0; });
}

}  // namespace

std::string RenderCacheKey(const struct stat& capture, const std::string& renderer,
                           int resolutionDpi) {
  // Each field on its own line: no two different sets of fields read alike,
  // since only the renderer's text, the last, may hold anything.
  std::string identity;
  for (int64_t field :
       {static_cast<int64_t>(capture.st_dev), static_cast<int64_t>(capture.st_ino),
        static_cast<int64_t>(capture.st_size), static_cast<int64_t>(capture.st_mtim.tv_sec),
        static_cast<int64_t>(capture.st_mtim.tv_nsec), static_cast<int64_t>(resolutionDpi)})
    identity += FormatInteger(field) + "\n";
  identity += renderer;
  const QByteArray digest =
      QCryptographicHash::hash(QByteArray::fromStdString(identity), QCryptographicHash::Sha256);
  return digest.toHex().left(kKeyHexDigits).toStdString();
}

std::vector<std::string> CachedPages(const std::string& folder) {
  std::vector<std::string> pages;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (IsPageName(entry.path().filename().string())) pages.push_back(entry.path().string());
  }
  std::sort(pages.begin(), pages.end());
  return pages;
}

std::string MakeRenderFolder(const std::string& cacheFolder, const std::string& key,
                             std::string& failure) {
  static std::atomic<int64_t> renders{0};
  std::error_code error;
  std::filesystem::create_directories(cacheFolder, error);
  if (error) {
    failure = "The page cache " + cacheFolder + " cannot be made: " + error.message();
    return {};
  }
  // Unique within the machine: two renders of one key may run at once, in
  // this program or in another.
  const std::string folder = cacheFolder + "/" + key + ".part-" + FormatInteger(::getpid()) + "-" +
                             FormatInteger(++renders);
  std::filesystem::create_directory(folder, error);
  if (error) {
    failure = "The page cache " + cacheFolder + " cannot be written: " + error.message();
    return {};
  }
  return folder;
}

std::string CommitRenderFolder(const std::string& renderFolder, const std::string& keyFolder) {
  std::error_code error;
  std::filesystem::rename(renderFolder, keyFolder, error);
  if (!error) return keyFolder;
  RemoveRenderFolder(renderFolder);
  // Renaming onto a folder that holds pages fails: the other render won.
  return CachedPages(keyFolder).empty() ? std::string() : keyFolder;
}

void RemoveRenderFolder(const std::string& folder) {
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

void PruneRenderCache(const std::string& cacheFolder, std::size_t keep) {
  std::vector<std::pair<std::filesystem::file_time_type, std::filesystem::path>> renders;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(cacheFolder, error)) {
    if (!IsKeyName(entry.path().filename().string()) || !entry.is_directory(error)) continue;
    const auto drawn = entry.last_write_time(error);
    if (!error) renders.emplace_back(drawn, entry.path());
  }
  if (renders.size() <= keep) return;
  std::sort(renders.begin(), renders.end(), [](const auto& a, const auto& b) { return a > b; });
  for (std::size_t i = keep; i < renders.size(); ++i) RemoveRenderFolder(renders[i].second);
}
