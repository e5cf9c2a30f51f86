#pragma once

#include <string>

// The file's whole content, byte for byte; empty when it can't be read.
std::string ReadWholeFile(const std::string& path);

// Replaces the file's content with the bytes, creating it when missing;
// false when that failed.
bool WriteWholeFile(const std::string& path, const std::string& bytes);
