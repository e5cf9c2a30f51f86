// One print job sent the way a line printer client sends it: the receive-job
// command for a queue, a control file that names the data file, then the
// data file with its byte count, each step waiting for the daemon's one
// zero byte of acknowledgement. Any other answer ends the run with a
// message that says which step got what.
#pragma once

#include <cstdint>
#include <string>

#include "payload.h"

namespace bench {

struct TLpdJobSettings {
  uint16_t port = 0;
  uint64_t bytes = 0;  // the data file: the stream's first `bytes` bytes
  std::string queue = "bench";
  // Where the server keeps the data file; empty for a server that keeps none.
  std::string capture_file;
  // How long one acknowledgement, or one send that makes no progress, may take.
  int step_timeout_ms = 30000;
  // How long the server may take to close and to hold every byte after the
  // last acknowledgement.
  int close_timeout_s = 30;
  // How long the whole data file may take.
  int timeout_s = 300;
};

struct TLpdJobResult {
  // From just before the connect until the data file's acknowledgement.
  double ack_seconds = 0;
  // From the same start until the server has closed and the capture file
  // holds every byte (what a raw stream's figure measures); 0 unchecked.
  double complete_seconds = 0;
  bool capture_checked = false;
  TCheckResult capture;
};

// The control file: host, user, job name, source name, and a print line
// ("l": print as it is) for the data file.
std::string LpdControlFile(const std::string& data_file_name);

// Sends one job to 127.0.0.1:port; throws TBenchError on a wrong or missing
// acknowledgement, a close before the end, or a time bound.
TLpdJobResult SendLpdJob(const TLpdJobSettings& settings, const TStreamPattern& pattern);

}  // namespace bench
