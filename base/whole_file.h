#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "base/exceptions.h"

// A small file read and replaced in one piece, as a settings file is.

struct TWholeFile {
  std::string content;
  // The permission bits a replacement keeps; those of a new file when the
  // file is missing.
  mode_t mode = 0666;
};

// Reads the regular file of at most maxSize bytes whole. Never waits: a FIFO
// planted under the name would block every reader. A missing file reads as
// empty; one that exists but cannot be read raises EInOutError with its I/O
// error and the path ("File access denied: <path>" for anything but a
// regular file, "I/O error 223: <path>" for one larger than maxSize).
TWholeFile LoadWholeFile(const std::string& path, off_t maxSize);

// Replaces the file by content in one step: a temporary file in the folder of
// the file is written, synced and renamed over it, so that a failure at any
// point leaves the old file whole and no temporary behind. A symbolic link is
// followed: the file at the end of its chain is replaced, in that file's
// folder, and the link stays. Raises UnableToWrite(path).
void ReplaceWholeFile(const std::string& path, std::string_view content, mode_t mode);

// Exception "Unable to write to " + path: the one failure every save of a
// settings file raises, whatever stopped it.
Exception UnableToWrite(const std::string& path);

// Removes the temporary files that replacements of the file at path left
// behind when their process was killed in the middle (named after the file,
// the replacing process and a counter), but none of a process that still
// runs.
void RemoveAbandonedTemporaries(const std::string& path);
