#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/host_lookup.h"

class TOutgoingConnection;

// Where a resend reports: plain message-log lines, and failures the log
// shows as "ERROR: ...".
struct TResendReport {
  std::function<void(const std::string& text)> line;
  std::function<void(const std::string& text)> failure;
  // After the last file, in a turn of its own: the resender may be
  // destroyed inside it.
  std::function<void()> done;
};

struct TResendLimits {
  // How long a connect may take.
  std::chrono::milliseconds Connect{10000};
  // How long the peer may take no byte, or, after the last byte, not end
  // the connection.
  std::chrono::milliseconds Stall{30000};
  // Progress lines come at most this often and at most one per tenth of
  // the file, so a file costs a few lines however large or slow it is.
  std::chrono::milliseconds ProgressEvery{1000};
  std::function<std::chrono::steady_clock::time_point()> Now = [] {
    return std::chrono::steady_clock::now();
  };
};

// Sends captures to a host:port as they are, byte for byte and without any
// framing, each over a connection of its own, one after another in the given
// order. Nothing waits on the UI thread: the target's name is looked up off
// it, the connect and the writes follow readiness, and a file is read a chunk
// at a time, so a capture of any size costs one chunk of memory.
//
// Lines, for file F and target T ("host:port", "[::1]:9100"):
//   Resending F to T (M bytes)
//   F: N of M bytes sent to T              (at most nine per file)
//   F resent to T: N bytes                 (the peer has ended the connection)
// Failures:
//   Resend of F to T failed: <reason>
//   Resend to T failed: <reason>           (the target is unusable: no file sent)
// where the reason is the socket layer's "Error 10061 in function connect
// (Connection refused)", "Error 10060 in function connect (Connection timed
// out)", "Error 10060 in function send (Connection timed out)", "Error 11001
// in function getaddrinfo (Host not found)", the file's "File not found" and
// the like, or "the peer did not end the connection within S s after the
// last byte". A failed file does not stop the ones after it.
class TJobResender : public QObject {
 public:
  static constexpr std::size_t kChunkBytes = 64 * 1024;

  TJobResender(std::vector<std::string> files, std::string target, TResendReport report,
               TResendLimits limits = {}, THostLookup::TLookUp lookUp = LookUpAddresses);
  // Stops at once: the connection is closed, the file released, a look-up
  // still running is left to end alone, and nothing more is reported.
  ~TJobResender() override;
  TJobResender(const TJobResender&) = delete;
  TJobResender& operator=(const TJobResender&) = delete;

  void Start();
  bool Finished() const { return finished_; }

 private:
  enum class TPhase { Idle, Connecting, Sending, Ending };

  void LookedUp(const TLookupResult& result);
  void StartFile();
  bool OpenFile();
  void Connected();
  void Pump();
  bool FillChunk();
  void Sent(std::size_t count);
  void PeerEnded();
  void FileFailed(const std::string& reason);
  void TimedOut();
  void NextFile();
  void ReleaseFile();
  void Finish();
  const std::string& File() const { return files_[index_]; }

  std::vector<std::string> files_;
  std::string targetText_;
  TResendReport report_;
  TResendLimits limits_;
  THostLookup lookup_;
  std::vector<TSocketAddress> addresses_;
  QTimer deadline_;
  TPhase phase_ = TPhase::Idle;
  bool finished_ = false;
  std::size_t index_ = 0;
  // Counts the files begun, so that a turn queued for one file never acts
  // on the next.
  uint64_t serial_ = 0;
  TOutgoingConnection* connection_ = nullptr;
  int handle_ = -1;
  uint64_t size_ = 0;
  uint64_t sent_ = 0;
  uint64_t tenthsReported_ = 0;
  std::chrono::steady_clock::time_point lastLineAt_{};
  std::unique_ptr<char[]> chunk_;
  std::size_t chunkSize_ = 0;
  std::size_t chunkSent_ = 0;
};
