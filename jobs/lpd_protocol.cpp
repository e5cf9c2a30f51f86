#include "jobs/lpd_protocol.h"

#include <exception>
#include <utility>

TLpdProtocol::TLpdProtocol(TLpdLimits limits) : receiver_(limits) {}

void TLpdProtocol::Received(std::string_view bytes, TJobFrames& frames) {
  frames_ = &frames;
  receiver_.Received(bytes, *this);
}

void TLpdProtocol::PeerEnded(TJobFrames& frames) {
  frames_ = &frames;
  receiver_.PeerEnded(*this);
}

void TLpdProtocol::Reply(std::string_view bytes) { frames_->Reply(bytes); }

// A file that cannot be stored is refused before it is acknowledged, so the
// client keeps its job rather than take it for printed.
bool TLpdProtocol::DataFileBegins(const TLpdFile& file) {
  try {
    frames_->BeginCapture();
  } catch (const std::exception& failure) {
    frames_->Refused("LPD: data file " + LpdQuoted(file.name) + " not stored: " + failure.what());
    return false;
  }
  queue_ = file.queue;
  dataFiles_.push_back(file.name);
  return true;
}

void TLpdProtocol::DataBytes(std::string_view bytes) { frames_->CaptureBytes(bytes); }

void TLpdProtocol::DataFileEnds(bool complete) { frames_->EndCapture(complete); }

void TLpdProtocol::ControlFile(const TLpdControl& control) {
  queue_ = control.queue;
  controls_.push_back(control);
}

// The last control file that names the data file; else the last of all, as
// a client with one control file for the job may name its files otherwise.
const TLpdControl* TLpdProtocol::ControlNaming(const std::string& dataFile) const {
  for (auto control = controls_.rbegin(); control != controls_.rend(); ++control)
    if (control->Names(dataFile)) return &*control;
  return controls_.empty() ? nullptr : &controls_.back();
}

// However the job ended, its files are captures: an aborted job's files and
// a job cut short keep their bytes, and their records say how they ended.
void TLpdProtocol::JobEnds(TLpdJobEnd /*how*/) {
  std::vector<TCaptureLabels> captures;
  for (const std::string& dataFile : dataFiles_) {
    TCaptureLabels capture;
    capture.Labels.Queue = queue_;
    if (const TLpdControl* control = ControlNaming(dataFile)) {
      capture.Labels.JobName = control->jobName;
      capture.Labels.SourceName = control->SourceNameOf(dataFile);
      capture.Labels.User = control->user;
      capture.Labels.Host = control->host;
      capture.ControlFile = control->text;
    }
    captures.push_back(std::move(capture));
  }
  dataFiles_.clear();
  controls_.clear();
  frames_->EndJob(captures);
}

void TLpdProtocol::Refused(const std::string& line) { frames_->Refused(line); }
