#include "capture/log_lines.h"

#include "base/text.h"
#include "capture/date_pattern.h"

namespace {

constexpr std::string_view kSizeLineMark = " bytes written to ";

}  // namespace

std::string TimestampPrefix() {
  return FormatDatePattern("dd/mm/yy hh:nn", CurrentLocalTime()) + " - ";
}

std::string ErrorLine(const std::exception& failure) {
  return std::string("ERROR: ") + failure.what();
}

std::string ConnectedLine(const TJob& job) {
  return TimestampPrefix() + "Connected to: " + job.PeerAddress + " on port " + job.Port;
}

std::string CutLine(const TJob& job) {
  return TimestampPrefix() + job.FileName + " cut at " + FormatInteger(job.Options.MaxJobBytes) +
         " bytes";
}

std::string IdleLine(const TJob& job) {
  const int32_t limit = job.Options.IdleSeconds;
  return TimestampPrefix() + job.PeerAddress + " on port " + job.Port + " sent nothing for " +
         FormatInteger(limit) + (limit == 1 ? " second" : " seconds");
}

std::vector<std::string> AnswerLines(const TJob& job) {
  std::vector<std::string> lines;
  const int64_t answered = job.QueriesAnswered;
  if (answered > 0)
    lines.push_back(TimestampPrefix() + FormatInteger(answered) +
                    (answered == 1 ? " status query answered" : " status queries answered"));
  if (job.RepliesDropped > 0)
    lines.push_back(TimestampPrefix() + FormatInteger(job.RepliesDropped) +
                    (job.RepliesDropped == 1 ? " reply byte" : " reply bytes") +
                    " dropped: " + job.PeerAddress + " on port " + job.Port + " did not read them");
  return lines;
}

std::string SizeLine(const std::string& prefix, int64_t size, const std::string& file) {
  return prefix + FormatInteger(size) + std::string(kSizeLineMark) + file;
}

std::string CaptureSizeLine(const TJob& job) {
  std::string prefix = TimestampPrefix();
  if (!job.Labels.Empty()) prefix += job.Labels.Describe() + " - ";
  return SizeLine(prefix, job.FileSize, job.FileName);
}

std::optional<std::string> CaptureFileNamedIn(std::string_view line) {
  for (std::size_t mark = line.rfind(kSizeLineMark); mark != std::string_view::npos;
       mark = mark == 0 ? std::string_view::npos : line.rfind(kSizeLineMark, mark - 1)) {
    // The size stands right before the mark, after a "- ".
    std::size_t digits = mark;
    while (digits > 0 && line[digits - 1] >= '0' && line[digits - 1] <= '9') --digits;
    if (digits == mark || digits < 2 || line.substr(digits - 2, 2) != "- ") continue;
    const std::string_view file = line.substr(mark + kSizeLineMark.size());
    if (file.empty()) return std::nullopt;
    return std::string(file);
  }
  return std::nullopt;
}
