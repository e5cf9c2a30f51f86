#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_identity.h"
#include "capture/job.h"

// What the capture monitor offers the features that act on jobs: lines in
// its message log and its way of opening a capture. The features live above
// the capture core and reach the window only through here.
class TJobHost {
 public:
  // A message log line, with the timestamp prefix in front.
  virtual void JobLine(const std::string& text) = 0;
  // "ERROR: " and the text in the message log. Lines of one key that a flood
  // repeats are held back like the monitor's own failures.
  virtual void JobFailure(const std::string& key, const std::string& text) = 0;
  // The same in the port log, for what concerns a port rather than a job
  // (its publication on the network).
  virtual void PortLine(const std::string& text) = 0;
  virtual void PortFailure(const std::string& key, const std::string& text) = 0;
  virtual void OpenCapture(const std::string& file) = 0;
  // Whether an open session still writes into the file.
  virtual bool FileInUse(const TFileIdentity& file) const = 0;

 protected:
  ~TJobHost() = default;
};

// What a connection's peer is answered: the job's protocol reads the bytes as
// they arrive and decides what goes back. The capture keeps every byte all
// the same.
class TJobConversation {
 public:
  virtual ~TJobConversation() = default;
  // The bytes of one receive, in order; appends to replies what the peer is
  // to get for them, at once.
  virtual void Received(std::string_view bytes, std::string& replies) = 0;
  // The peer's queries answered so far.
  virtual int64_t Answered() const = 0;
};

// What the sender said of one capture: its labels, and the control file
// that named it as sent (empty when none did), for keeping beside it.
struct TCaptureLabels {
  TJobLabels Labels;
  std::string ControlFile;
};

// What a connection whose protocol frames jobs of its own is made into: the
// session's side. One connection may carry several files, each one capture
// with its own record; the bytes of the protocol itself go into none.
class TJobFrames {
 public:
  // Bytes for the peer: acknowledgements, listings, refusals.
  virtual void Reply(std::string_view bytes) = 0;
  // A new capture, named and kept by the port's pattern and options as a
  // raw job's is. Raises what preparing a capture raises; nothing is begun
  // then.
  virtual void BeginCapture() = 0;
  // The next bytes of the capture begun last.
  virtual void CaptureBytes(std::string_view bytes) = 0;
  // The capture is whole, or (complete false) its sender stopped inside it.
  virtual void EndCapture(bool complete) = 0;
  // The job is over: the records of its captures, begun since the last
  // EndJob, may be written. captures has one entry per capture, in the
  // order they began.
  virtual void EndJob(const std::vector<TCaptureLabels>& captures) = 0;
  // Bad input: the exact line for the message log. The protocol says
  // whether the connection is to close (TJobProtocol::WantsClose).
  virtual void Refused(const std::string& line) = 0;

 protected:
  ~TJobFrames() = default;
};

// The protocol of a port that frames its jobs: it reads the connection's
// bytes as they arrive and steers the captures through TJobFrames.
class TJobProtocol {
 public:
  virtual ~TJobProtocol() = default;
  // The bytes of one receive, in order.
  virtual void Received(std::string_view bytes, TJobFrames& frames) = 0;
  // The connection ended, by the peer or by us: whatever was open ends.
  virtual void PeerEnded(TJobFrames& frames) = 0;
  // Nothing more is to be said or taken on this connection.
  virtual bool WantsClose() const = 0;
};

// The features beyond plain capturing, behind the one interface the monitor
// calls. Without them the monitor captures as plainly as it always did.
class TJobFeatures {
 public:
  virtual ~TJobFeatures() = default;
  // Asked once per accepted connection, before any file or folder is made;
  // a job it refuses is reset at once and never counts as a connection.
  virtual bool Admits(const TJob& job) = 0;
  // Once per admitted connection, with its file prepared: what answers its
  // peer, or nothing, and then the peer never gets a byte.
  virtual std::unique_ptr<TJobConversation> Converse(const TJob& job) = 0;
  // Once per admitted connection, before its file is prepared: the protocol
  // that frames its jobs, or nothing for a raw port, whose connection is
  // one job with its file prepared at once.
  virtual std::unique_ptr<TJobProtocol> Frames(const TJob& /*job*/) { return nullptr; }
  // Once per job, when its capture file is final. A job still open when the
  // program ends comes here too, with the outcome Ended.
  virtual void Finished(const TJob& job) = 0;
  // With the monitor's start and stop, for what works on its own time.
  virtual void Start() = 0;
  virtual void Stop() = 0;
};

using TJobFeaturesMaker =
    std::function<std::unique_ptr<TJobFeatures>(TJobHost& host, const std::string& settingsPath)>;
