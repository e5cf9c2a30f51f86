#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "capture/job_features.h"
#include "jobs/lpd_receiver.h"

// The line printer protocol as a port's framing: every data file a client
// sends is one capture, and what its job's control file says labels each.
// The control file may come before the data files or after them, so the
// records wait for the job's end.
class TLpdProtocol : public TJobProtocol, private TLpdReceiver::TEvents {
 public:
  explicit TLpdProtocol(TLpdLimits limits);

  void Received(std::string_view bytes, TJobFrames& frames) override;
  void PeerEnded(TJobFrames& frames) override;
  bool WantsClose() const override { return receiver_.WantsClose(); }

 private:
  void Reply(std::string_view bytes) override;
  bool DataFileBegins(const TLpdFile& file) override;
  void DataBytes(std::string_view bytes) override;
  void DataFileEnds(bool complete) override;
  void ControlFile(const TLpdControl& control) override;
  void JobEnds(TLpdJobEnd how) override;
  void Refused(const std::string& line) override;
  const TLpdControl* ControlNaming(const std::string& dataFile) const;

  TLpdReceiver receiver_;
  TJobFrames* frames_ = nullptr;
  // The job's queue and the data files it has begun, in order.
  std::string queue_;
  std::vector<std::string> dataFiles_;
  // A client may send one control file per data file: each labels the
  // files it names.
  std::vector<TLpdControl> controls_;
};
