#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <string>
#include <vector>

// The page images of one capture drawn by one renderer live in a folder of
// their own under the cache folder, named by a key. The key changes when the
// capture's file does (another file, or this one grown or rewritten) and
// when the renderer does (its command, its resolution), so a stale page is
// never shown. A folder appears under its key only once every page is in it.

// The key: 32 hex digits from the capture's device, inode, size and
// modification time and from what names the renderer.
std::string RenderCacheKey(const struct stat& capture, const std::string& renderer,
                           int resolutionDpi);

// The pages in a folder, in order; none when the folder is not there.
std::vector<std::string> CachedPages(const std::string& folder);

// A fresh folder beside where the key's folder goes, for a render under way;
// empty, with the reason in failure, when none can be made.
std::string MakeRenderFolder(const std::string& cacheFolder, const std::string& key,
                             std::string& failure);

// Moves a finished render under its key. When another render of the same
// key got there first, that one is kept and this one removed. Answers the
// folder that holds the pages now, empty when the move failed.
std::string CommitRenderFolder(const std::string& renderFolder, const std::string& keyFolder);

// Removes a render folder and what is in it, quietly: an unfinished render
// is worth nothing.
void RemoveRenderFolder(const std::string& folder);

// How many drawn captures the cache keeps: the newest, so that the folder
// stays at a bounded size however many captures a person looks through.
constexpr std::size_t kKeptRenders = 200;

// Removes every drawn capture but the keep newest (by when they were
// drawn); a render under way and whatever else is in the folder stay.
void PruneRenderCache(const std::string& cacheFolder, std::size_t keep = kKeptRenders);
