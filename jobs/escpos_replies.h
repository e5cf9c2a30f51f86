#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jobs/command_stream.h"
#include "jobs/reply_profile.h"

// The status queries of the receipt printer command language, answered as a
// ready printer of that language answers them.
//
// Real-time queries (DLE EOT n) are answered wherever their bytes stand, as
// the printer takes them out of the stream on arrival, even inside image
// data. The other queries (GS r, GS I, GS a) are commands the printer
// processes in turn, so they are read command by command: the counted data
// of an image or graphics command is skipped, and query-like bytes inside it
// are data. While the printer is not ready it processes no commands: those
// queries wait (up to 64 of them) and are answered once a later receive
// finds it ready. Automatic status back (GS a n, n not 0) sends the 4-byte
// status at once and again whenever the state has changed; a change is
// noticed when the client next sends bytes.
class TEscPosReplies final : public TReplyProfile, private TCommandStream {
 public:
  void Resume(TReplyHost& host) override;
  void Feed(std::string_view bytes, uint64_t offset, TReplyHost& host) override;
  std::size_t CarriedBytes() const override;

 private:
  // A query processed in turn: the command's second byte ('r', 'I', 'a')
  // and its parameter.
  struct TQuery {
    char Command = 0;
    uint8_t N = 0;
  };

  std::size_t Step(std::string_view at, uint64_t atOffset, TReplyHost& host) override;
  std::size_t StepCommand(std::string_view at, uint64_t atOffset, TReplyHost& host);
  void ScanRealTime(std::string_view bytes, uint64_t offset, TReplyHost& host);
  void TakeQuery(TQuery query, uint64_t start, uint64_t end, TReplyHost& host);
  // The reply to a query processed while ready; none for a query that
  // sends nothing (GS a 0, an unknown n).
  std::optional<std::string> Process(TQuery query);
  void AnnounceStatusChange(TPrinterState state, TReplyHost& host);

  // Real-time recognition: how many bytes of DLE EOT have arrived.
  int realTimeHave_ = 0;
  uint64_t realTimeStart_ = 0;
  // Command reading: the data still to skip, and the bytes left to look
  // for the NUL that ends a command's data.
  uint64_t payload_ = 0;
  std::size_t nulBudget_ = 0;
  std::vector<TQuery> waiting_;
  // Automatic status back: which statuses the client asked for (0: off),
  // and what it was last sent.
  uint8_t automaticStatus_ = 0;
  std::string lastAutomaticStatus_;
};
