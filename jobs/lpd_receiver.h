#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>

// The bounds one LPD connection is held to. Everything a receiver keeps is
// bounded by them: a line, the control file, nothing of a data file.
struct TLpdLimits {
  uint64_t maxJobBytes = 0;  // largest data file; 0: no limit
  std::size_t maxControlFileBytes = 64 * 1024;
  std::size_t maxSubcommands = 10000;  // per receive-job command
  std::size_t maxLineBytes = 1024;     // a command or subcommand line without its LF
};

// A data file as its receive-data-file line announced it.
struct TLpdFile {
  std::string queue;   // from the receive-job line
  uint64_t count = 0;  // 0: the file runs to the connection's end
  std::string name;    // as sent ("dfA001host"), unchecked
};

// What a control file says of its job. Values are the bytes as sent, with a
// line's trailing CR removed; the session makes them fit wherever it writes
// them (log, index, environment).
struct TLpdControl {
  std::string queue;       // from the receive-job line
  std::string jobName;     // J
  std::string sourceName;  // the first N
  std::string user;        // P
  std::string host;        // H
  std::string text;        // the whole control file, for keeping beside the capture

  // The N line that precedes the first print line naming dataFileName; a
  // client sends one N per data file. The first N when none names it.
  const std::string& SourceNameOf(std::string_view dataFileName) const;

  std::map<std::string, std::string, std::less<>> sourceNames;  // data file -> its N
  // Every data file it prints or unlinks: a client may send one control
  // file per data file in one job.
  std::set<std::string, std::less<>> dataFiles;

  bool Names(std::string_view dataFileName) const { return dataFiles.count(dataFileName) > 0; }
};

// How one receive-job command ended.
enum class TLpdJobEnd {
  Whole,     // the peer ended between subcommands, or a read-to-the-end data file ended
  Aborted,   // the client sent abort job
  CutShort,  // the peer ended inside a line or a file
  Refused,   // bad input; the connection is to close
};

// A peer's bytes in quotes, as a log line shows them: at most 40, each
// control byte or byte past ASCII as \xNN.
std::string LpdQuoted(std::string_view bytes);

// The daemon side of the line printer protocol for one connection, as a
// parser the session feeds with every receive: it says what goes back to the
// peer, which bytes form each data file, and what the control file tells.
// It keeps at most one line or one control file, so a hostile peer costs a
// bounded amount of memory, and never waits: the session decides when to read.
class TLpdReceiver {
 public:
  // What the session does with the protocol. Calls come in the order of the
  // bytes that cause them.
  struct TEvents {
    virtual ~TEvents() = default;
    // Bytes for the peer: acknowledgements, queue listings, refusals.
    virtual void Reply(std::string_view bytes) = 0;
    // A data file is announced. True: it starts, is acknowledged, and
    // DataBytes and then DataFileEnds follow. False: it cannot be taken
    // (the session said why), it is refused and the connection closes.
    virtual bool DataFileBegins(const TLpdFile& file) = 0;
    // The next of the data file's bytes, nothing of the protocol.
    virtual void DataBytes(std::string_view bytes) = 0;
    // complete: every announced byte and the closing zero byte came, or a
    // file announced with count 0 ran to the connection's end.
    virtual void DataFileEnds(bool complete) = 0;
    // A control file came whole (with its closing zero byte).
    virtual void ControlFile(const TLpdControl& control) = 0;
    // A receive-job command's job is over; its records may be written.
    virtual void JobEnds(TLpdJobEnd how) = 0;
    // Bad input: the exact line for the port's log.
    virtual void Refused(const std::string& line) = 0;
  };

  explicit TLpdReceiver(TLpdLimits limits = {});

  void Received(std::string_view bytes, TEvents& events);
  // The peer's end: a file read to the end ends complete, anything cut
  // short ends incomplete and is refused.
  void PeerEnded(TEvents& events);
  // True once the daemon has nothing more to say: after a command other than
  // receive job was answered, and after a refusal. Later bytes are ignored.
  bool WantsClose() const { return state_ == TState::Closing; }

 private:
  enum class TState {
    CommandLine,
    SubcommandLine,
    ControlBytes,
    ControlEnd,
    DataBytes,
    DataEnd,
    DataToPeerEnd,
    Closing,
  };

  std::size_t Step(std::string_view bytes, TEvents& events);
  std::size_t ReadLine(std::string_view bytes, TEvents& events);
  void Command(std::string_view line, TEvents& events);
  void Subcommand(std::string_view line, TEvents& events);
  void BeginControlFile(std::string_view operand, TEvents& events);
  void BeginDataFile(std::string_view operand, TEvents& events);
  bool ParseCount(std::string_view operand, std::string_view what, uint64_t& count,
                  TEvents& events);
  std::string_view TakeAnnounced(std::string_view bytes, TState closingZero);
  std::size_t TakeControlBytes(std::string_view bytes);
  std::size_t TakeDataBytes(std::string_view bytes, TEvents& events);
  std::size_t TakeDataToPeerEnd(std::string_view bytes, TEvents& events);
  void ClosingZero(char byte, TEvents& events);
  void Refuse(const std::string& line, bool answer, TLpdJobEnd how, TEvents& events);
  void EndJob(TLpdJobEnd how, TEvents& events);
  void Answer(std::string_view reply, TEvents& events);

  TLpdLimits limits_;
  TState state_ = TState::CommandLine;
  std::string line_;
  std::string queue_;
  bool jobOpen_ = false;
  std::size_t subcommands_ = 0;
  std::string fileName_;  // the control or data file being received
  uint64_t fileCount_ = 0;
  uint64_t fileReceived_ = 0;
  std::string control_;
};
