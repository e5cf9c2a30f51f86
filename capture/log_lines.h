#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
// What a job's peer was answered, for its close: "<prefix><N> status
// queries answered" and, when the peer did not read them all, "<prefix><N>
// reply bytes dropped: <peer> on port <port> did not read them". None when
// there is nothing to say, as for every job on a port that answers nothing.
std::vector<std::string> AnswerLines(const TJob& job);

// The message log line that closes a job's report: "<prefix>5 bytes written
// to <file>". The window reads it back to open the capture it names.
std::string SizeLine(const std::string& prefix, int64_t size, const std::string& file);

// The size line of a job, its sender's labels in front when it has any:
// "<prefix>queue lp, job "report", user alice - 5 bytes written to <file>".
std::string CaptureSizeLine(const TJob& job);

// The capture file a message log line names, when it is a size line; none
// for any other line. The size that names it is the last one in the line, so
// a sender's label in front can never name a file of its own.
std::optional<std::string> CaptureFileNamedIn(std::string_view line);
