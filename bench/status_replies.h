// The client of the status reply runs: real-time status queries (DLE EOT 1)
// one at a time on one connection, each timed from the call that sends its
// bytes until the reply's byte has arrived, optionally while a raster stream flows on a
// second connection to the same port.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "payload.h"

namespace bench {

struct TReplyRunSettings {
  uint16_t port = 0;
  uint32_t queries = 2000;
  // Sent and answered before the timed ones, so the server's first-job work
  // (accept, file, log lines) is not timed as a reply.
  uint32_t warm_queries = 20;
  int reply_timeout_ms = 2000;
  bool raster = false;
  // The raster stream's pace; 0: as fast as the server takes it.
  double raster_mib_per_s = 0;
  // Where the server keeps its captures; empty for a server that keeps none.
  std::string capture_dir;
  int close_timeout_s = 30;
};

struct TReplyRunResult {
  std::string problem;  // empty unless a reply, a close or a capture was wrong
  uint64_t queries_sent = 0;
  uint64_t unanswered_query = 0;     // from 1; 0 when every query was answered in time
  std::vector<double> latencies_us;  // the timed queries only
  uint64_t bytes_after_replies = 0;  // what came back beyond one byte per query
  uint64_t raster_blocks = 0;
  double raster_seconds = 0;
  uint64_t raster_reply_bytes = 0;
  bool captures_checked = false;
  TCheckResult captures;
};

// Runs the queries; a server that stays silent ends the run at the first
// query it leaves unanswered for reply_timeout_ms.
TReplyRunResult RunStatusReplies(const TReplyRunSettings& settings);

}  // namespace bench
