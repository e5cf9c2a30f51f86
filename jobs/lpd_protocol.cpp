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
  control_ = control;
}

// However the job ended, its files are captures: an aborted job's files and
// a job cut short keep their bytes, and their records say how they ended.
void TLpdProtocol::JobEnds(TLpdJobEnd /*how*/) {
  std::vector<TJobLabels> labels;
  for (const std::string& dataFile : dataFiles_) {
    TJobLabels fields;
    fields.Queue = queue_;
    if (control_) {
      fields.JobName = control_->jobName;
      fields.SourceName = control_->SourceNameOf(dataFile);
      fields.User = control_->user;
      fields.Host = control_->host;
    }
    labels.push_back(std::move(fields));
  }
  const std::string controlFile = control_ ? control_->text : std::string();
  dataFiles_.clear();
  control_.reset();
  frames_->EndJob(labels, controlFile);
}

void TLpdProtocol::Refused(const std::string& line) { frames_->Refused(line); }
