#pragma once

#include <string>
#include <string_view>

// Paths use "/" as the separator; there are no drive letters and ":" is no
// separator. The extension is the part from the last "." after the last "/".

// Replaces the extension (from the last "." that comes after the last "/") by
// the given one, which includes its dot; appends it when there is none.
std::string ReplaceExtension(std::string_view path, std::string_view extension);

// The path up to and including its last "/"; empty when it has none.
std::string DirectoryPart(std::string_view path);

// The directory unchanged when it ends in "/", else with "/" appended; the
// empty text stays empty.
std::string IncludeSeparator(std::string_view directory);

// True when an entry of that name exists and is not a directory.
bool FileIsPresent(const std::string& path);

// True when an entry of that name exists and is a directory.
bool DirectoryIsPresent(const std::string& path);

// Creates the directory and every missing parent. Raises Exception "Unable to
// create directory" for the empty text (also reached by a missing relative
// name, whose parent is empty). The root "/" and existing directories stop
// the chain; a refusal by the platform to create a level is silent.
void CreateDirectoryChain(std::string_view directory);

// The text of the symbolic link at path, as it stands in the link; empty when
// path is no link or its text is too long to be a path.
std::string LinkText(const std::string& path);

// The file at the end of path's chain of symbolic links, or path itself when
// it is no link. A relative link is read from the folder of the link.
std::string FileBehindLinks(const std::string& path);
