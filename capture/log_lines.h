#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "capture/job.h"

// "08/12/26 14:30 - ": begins every log line except the listening lines
// and the chunk errors; taken anew for every line.
std::string TimestampPrefix();

// "ERROR: " and the failure's message.
std::string ErrorLine(const std::exception& failure);

// "<prefix>Connected to: <peer> on port <port>".
std::string ConnectedLine(const TJob& job);
// "<prefix><file> cut at <N> bytes": a byte beyond the size limit came.
std::string CutLine(const TJob& job);
// "<prefix><peer> on port <port> sent nothing for <N> seconds".
std::string IdleLine(const TJob& job);

// The message log line that closes a job's report: "<prefix>5 bytes written
// to <file>". The window reads it back to open the capture it names.
std::string SizeLine(const std::string& prefix, int64_t size, const std::string& file);

// The capture file a message log line names, when it is a size line; none
// for any other line.
std::optional<std::string> CaptureFileNamedIn(std::string_view line);
