#include "jobs/lpd_receiver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/lpd_client.h"

namespace {

using namespace std::string_literals;

// The events as one text, "; " between them, consecutive data bytes as one
// event: how the bytes were split across receives must not show.
class TTranscript : public TLpdReceiver::TEvents {
 public:
  void Reply(std::string_view bytes) override {
    replies += bytes;
    Add(bytes == "\0"s ? "ack" : bytes == "\x01" ? "nak" : "reply " + std::string(bytes));
  }
  bool DataFileBegins(const TLpdFile& f) override {
    Add("begin " + f.queue + " " + f.name + " " + std::to_string(f.count));
    return takesFiles;
  }
  void DataBytes(std::string_view bytes) override {
    if (!inData_) Add("data ");
    inData_ = true;
    text += bytes;
  }
  void DataFileEnds(bool complete) override { Add(complete ? "end" : "end incomplete"); }
  void ControlFile(const TLpdControl& c) override {
    std::string sources;
    for (const auto& [file, source] : c.sourceNames) sources += " " + file + "<-" + source;
    Add("control " + c.queue + " J=" + c.jobName + " N=" + c.sourceName + " P=" + c.user +
        " H=" + c.host + sources + " |" + c.text + "|");
  }
  void JobEnds(TLpdJobEnd how) override {
    const char* names[] = {"whole", "aborted", "cut short", "refused"};
    Add("job "s + names[static_cast<int>(how)]);
  }
  void Refused(const std::string& line) override { Add(line); }

  std::string text;
  std::string replies;
  bool takesFiles = true;

 private:
  void Add(const std::string& event) {
    text += (text.empty() ? "" : "; ") + event;
    inData_ = false;
  }
  bool inData_ = false;
};

struct TConversation {
  std::string name;
  std::string bytes;
  bool peerEnds;
  std::string transcript;  // "; close" at the end: the daemon wants the connection closed
  TLpdLimits limits = {};
};

TTranscript Converse(const TConversation& c, const std::vector<std::size_t>& splits) {
  TTranscript transcript;
  TLpdReceiver receiver(c.limits);
  std::size_t from = 0;
  for (const std::size_t to : splits) {
    receiver.Received(std::string_view(c.bytes).substr(from, to - from), transcript);
    from = to;
  }
  receiver.Received(std::string_view(c.bytes).substr(from), transcript);
  if (c.peerEnds)
    receiver.PeerEnded(transcript);
  else if (receiver.WantsClose())
    transcript.text += "; close";
  return transcript;
}

// All at once, in two receives split at every place, and byte by byte.
void ExpectAtEverySplit(const std::vector<TConversation>& conversations) {
  for (const TConversation& c : conversations) {
    std::vector<std::size_t> everyByte;
    for (std::size_t split = 0; split <= c.bytes.size(); ++split) {
      EXPECT_EQ(Converse(c, {split}).text, c.transcript) << c.name << ", split at " << split;
      everyByte.push_back(split);
    }
    EXPECT_EQ(Converse(c, everyByte).text, c.transcript) << c.name << ", byte by byte";
  }
}

// Data bytes that look like framing: zeros, line ends, subcommand bytes.
const std::string kPayload = "ab\0\n\x02\x03 9 x\n\0"s;
const std::string kControl = LpdControlText({}, {"dfA"});
const std::string kControlEvent =
    "control lp J=report N=report.txt P=alice H=client dfA<-report.txt |" + kControl + "|";
const std::string kTwoFiles = "Hclient\r\nPbob\nJtwo\nNa.txt\nldfA\nNb.txt\nldfB\n";
const std::string kJob = "\x02lp\n";
// The subcommands that announce a file; a count digit may follow.
const std::string kControlLine = "\x02";
const std::string kData = "\x03";

TEST(LpdReceiverTest, EverySubcommandOrderAndCommandAtEverySplit) {
  std::vector<TLpdClient> clients(5);
  clients[0].ReceiveJob("lp").ControlFile("cfA", kControl).DataFile("dfA", kPayload);
  clients[1].ReceiveJob("lp").DataFile("dfA", kPayload).ControlFile("cfA", kControl);
  clients[2]
      .ReceiveJob("q")
      .DataFile("dfA", "1")
      .ControlFile("cfA", kTwoFiles)
      .DataFile("dfB", "2");
  clients[3].ReceiveJob("lp").DataFile("dfA", "x").AbortJob().DataFile("dfB", "y");
  clients[4].ReceiveJob("lp").ControlFile("cfA", kControl).DataFileToTheEnd("dfA", kPayload + '\0');
  const std::string payload =
      "begin lp dfA " + std::to_string(kPayload.size()) + "; ack; data " + kPayload + "; end; ack";
  ExpectAtEverySplit({
      {"control first", clients[0].AllSent(), true,
       "ack; ack; " + kControlEvent + "; ack; " + payload + "; job whole"},
      {"data first", clients[1].AllSent(), true,
       "ack; " + payload + "; ack; " + kControlEvent + "; ack; job whole"},
      {"two data files", clients[2].AllSent(), true,
       "ack; begin q dfA 1; ack; data 1; end; ack; ack; control q J=two N=a.txt P=bob H=client "
       "dfA<-a.txt dfB<-b.txt |" +
           kTwoFiles + "|; ack; begin q dfB 1; ack; data 2; end; ack; job whole"},
      {"abort, then a job anew", clients[3].AllSent(), true,
       "ack; begin lp dfA 1; ack; data x; end; ack; ack; job aborted; begin lp dfB 1; ack; data "
       "y; end; ack; job whole"},
      {"count 0 runs to the end, zeros and all", clients[4].AllSent(), true,
       "ack; ack; " + kControlEvent + "; ack; begin lp dfA 0; ack; data " + kPayload +
           "\0; end; job whole"s},
      {"a job the peer ends at once", kJob, true, "ack; job whole"},
      {"an empty control file", kJob + kControlLine + "0 cf\n\0"s, false,
       "ack; ack; control lp J= N= P= H= ||; ack"},
      {"nothing sent", "", true, ""},
      {"print waiting jobs", "\x01lp\n", false, "ack; close"},
      {"remove jobs", "\x05lp root\n", false, "ack; close"},
      {"queue state, short", "\x03lp\n", false, "reply no entries\n; close"},
      {"queue state, long", "\x04lp alice\n", false, "reply no entries\n; close"},
  });
  for (const TLpdClient& client : clients)
    EXPECT_EQ(Converse({"", client.AllSent(), true, ""}, {}).replies, client.AllExpected());
}

TEST(LpdReceiverTest, BadInputIsRefusedWithItsLineAtEverySplit) {
  const TLpdLimits small{4, 16, 2, 8};
  ExpectAtEverySplit({
      {"unknown command", "\x07lp\n\x02lp\n", false, "LPD: unknown command 0x07; nak; close"},
      {"an empty line", "\n", false, "LPD: unknown command 0x0a; nak; close"},
      {"unknown subcommand", kJob + "\x04x\n", false,
       "ack; LPD: unknown subcommand 0x04; nak; job refused; close"},
      {"line at its bound", "\x02lpqueue\n", false, "ack", small},
      {"line over its bound", "\x02lpqueue1\n", false,
       "LPD: line without an end after 8 bytes; nak; close", small},
      {"line cut by the end", kJob + kData + "5 d", true,
       "ack; LPD: the connection ended inside a line; job cut short"},
      {"count no number", kJob + "\x03x12 dfA\n", false,
       "ack; LPD: data file count 'x12' is no number; nak; job refused; close"},
      {"count missing", kJob + "\x03 dfA\n", false,
       "ack; LPD: data file count '' is no number; nak; job refused; close"},
      {"control file count no number", kJob + "\x02-1 cfA\n", false,
       "ack; LPD: control file count '-1' is no number; nak; job refused; close"},
      {"count of 45 digits, shown in part", kJob + kData + std::string(45, '9') + "\n", false,
       "ack; LPD: data file count '" + std::string(40, '9') +
           "...' is over 64 bits; nak; job refused; close"},
      {"count over 64 bits", kJob + kData + "18446744073709551616 dfA\n", false,
       "ack; LPD: data file count '18446744073709551616' is over 64 bits; nak; job refused; close"},
      {"the largest count", kJob + kData + "18446744073709551615 dfA\nab", true,
       "ack; begin lp dfA 18446744073709551615; ack; data ab; LPD: data file 'dfA' ended after 2 "
       "of 18446744073709551615 bytes; end incomplete; job cut short"},
      {"data file at the size limit", kJob + kData + "4 dfA\nabcd\0"s, false,
       "ack; begin lp dfA 4; ack; data abcd; end; ack", small},
      {"data file over the size limit", kJob + kData + "5 dfA\n", false,
       "ack; LPD: data file of 5 bytes is over the size limit of 4; nak; job refused; close",
       small},
      {"count 0 at the size limit", kJob + kData + "0 dfA\nabcd", true,
       "ack; begin lp dfA 0; ack; data abcd; end; job whole", small},
      {"count 0 over the size limit", kJob + kData + "0 dfA\nabcdef", false,
       "ack; begin lp dfA 0; ack; data abcd; LPD: data file read to the connection's end is over "
       "the size limit of 4; end incomplete; job refused; close",
       small},
      {"control file over its bound", kJob + kControlLine + "17 cfA\n", false,
       "ack; LPD: control file of 17 bytes is over the bound of 16; nak; job refused; close",
       small},
      {"too many subcommands", kJob + "\x01\n\x01\n\x01\n", false,
       "ack; ack; job aborted; ack; LPD: more than 2 subcommands on one connection; nak; close",
       small},
      {"data file without its zero, a name to escape", kJob + kData + "3 d\x1b[2J\nabcX\0"s, false,
       "ack; begin lp d\x1b[2J 3; ack; data abc; LPD: data file 'd\\x1b[2J' ends with 0x58, not "
       "with a zero byte; nak; end incomplete; job refused; close"},
      {"control file without its zero", kJob + kControlLine + "2 cfA\nHh\x01", false,
       "ack; ack; LPD: control file 'cfA' ends with 0x01, not with a zero byte; nak; job refused; "
       "close"},
      {"data file cut short", kJob + kData + "5 dfA\nab", true,
       "ack; begin lp dfA 5; ack; data ab; LPD: data file 'dfA' ended after 2 of 5 bytes; end "
       "incomplete; job cut short"},
      // A streaming client leaves the zero out; every byte is there.
      {"data file without its zero at the end", kJob + kData + "2 dfA\nab", true,
       "ack; begin lp dfA 2; ack; data ab; end; job whole"},
      {"control file without its zero at the end", kJob + kControlLine + "2 cfA\nHh", true,
       "ack; ack; LPD: control file 'cfA' ended before its closing zero byte; job cut short"},
      {"control file cut short", kJob + kControlLine + "9 cfA\nHh\n", true,
       "ack; ack; LPD: control file 'cfA' ended after 3 of 9 bytes; job cut short"},
  });
}

// A file the session cannot store is refused before a byte of it is
// acknowledged, so the client knows the job did not get through.
TEST(LpdReceiverTest, AFileTheSessionCannotTakeIsRefused) {
  TTranscript transcript;
  transcript.takesFiles = false;
  TLpdReceiver receiver;
  receiver.Received(kJob + kData + "3 dfA\nabc\0"s, transcript);
  EXPECT_TRUE(receiver.WantsClose());
  EXPECT_EQ(transcript.text, "ack; begin lp dfA 3; nak; job refused");
}

// Counts past 32 bits, read to the end or announced, are carried whole.
TEST(LpdReceiverTest, FilesOverFourGibibytes) {
  struct TCounted : TTranscript {
    void DataBytes(std::string_view bytes) override { received += bytes.size(); }
    uint64_t received = 0;
  };
  constexpr uint64_t kSize = (uint64_t{4} << 30) + 3;
  const std::string chunk(1 << 20, 'x');
  for (const uint64_t count : {uint64_t{0}, kSize}) {
    TCounted counted;
    TLpdReceiver receiver;
    receiver.Received(kJob + kData + std::to_string(count) + " dfA\n", counted);
    for (uint64_t left = kSize; left > 0; left -= std::min<uint64_t>(left, chunk.size()))
      receiver.Received(std::string_view(chunk).substr(0, std::min<uint64_t>(left, chunk.size())),
                        counted);
    if (count != 0) receiver.Received("\0"s, counted);
    receiver.PeerEnded(counted);
    EXPECT_EQ(counted.received, kSize) << count;
    EXPECT_EQ(counted.text,
              "ack; begin lp dfA " + std::to_string(count) +
                  (count != 0 ? "; ack; end; ack; job whole" : "; ack; end; job whole"));
  }
}

}  // namespace
