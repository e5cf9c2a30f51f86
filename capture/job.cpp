#include "capture/job.h"

#include <cstdio>
#include <ctime>
#include <utility>

namespace {

std::string TwoDigits(long value) {
  return std::string(1, static_cast<char>('0' + value / 10)) + static_cast<char>('0' + value % 10);
}

// "+01:00": the offset is what strftime's %z gives, with the colon ISO 8601
// writes in its extended form.
std::string UtcOffset(const std::tm& local) {
  const long minutes = local.tm_gmtoff / 60;
  const long magnitude = minutes < 0 ? -minutes : minutes;
  return std::string(minutes < 0 ? "-" : "+") + TwoDigits(magnitude / 60) + ":" +
         TwoDigits(magnitude % 60);
}

}  // namespace

std::string FormatLocalIsoTime(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const std::time_t seconds = system_clock::to_time_t(floor<std::chrono::seconds>(when));
  const auto millis = duration_cast<milliseconds>(when - floor<std::chrono::seconds>(when)).count();
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  char fraction[8];
  std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(millis));
  return std::string(text) + fraction + UtcOffset(local);
}

bool TJobLabels::Empty() const {
  return Queue.empty() && JobName.empty() && SourceName.empty() && User.empty() && Host.empty();
}

std::string TJobLabels::Describe() const {
  std::string text;
  const auto add = [&text](const char* name, const std::string& value, bool quoted) {
    if (value.empty()) return;
    if (!text.empty()) text += ", ";
    text += name;
    text += quoted ? " \"" + value + "\"" : " " + value;
  };
  add("queue", Queue, false);
  add("job", JobName, true);
  add("file", SourceName, true);
  add("user", User, false);
  add("host", Host, false);
  return text;
}

std::string FitLabel(std::string_view text) {
  std::string fit(text.substr(0, kMaxLabelBytes));
  for (char& byte : fit) {
    const auto code = static_cast<unsigned char>(byte);
    if (code < 0x20 || code == 0x7f) byte = '?';
  }
  return fit;
}

TJob TJob::Accepted(std::string port, std::string peerAddress, uint16_t peerPort,
                    TJobSettings options) {
  TJob job;
  job.Port = std::move(port);
  job.PeerAddress = std::move(peerAddress);
  job.PeerPort = peerPort;
  job.Options = std::move(options);
  return job;
}

void TJob::Fail(const std::string& failure) {
  if (Failure.empty()) Failure = failure;
}

void TJob::Settle(uint16_t closeError) {
  if (!Failure.empty())
    Outcome = TOutcome::Error;
  else if (Cut)
    Outcome = TOutcome::Cut;
  else
    Outcome = closeError == 0 ? TOutcome::Closed : TOutcome::Reset;
}

std::string TJob::RelativeFileName() const {
  if (!Folder.empty() && FileName.compare(0, Folder.size(), Folder) == 0)
    return FileName.substr(Folder.size());
  return FileName;
}

std::string TJob::OutcomeText() const {
  switch (Outcome) {
    case TOutcome::Closed:
      return "closed";
    case TOutcome::Reset:
      return "reset";
    case TOutcome::DeletedEmpty:
      return "deleted empty";
    case TOutcome::Cut:
      return "cut";
    case TOutcome::Ended:
      return "ended";
    case TOutcome::Incomplete:
      return "incomplete";
    case TOutcome::Error:
      break;
  }
  return "error: " + Failure;
}
