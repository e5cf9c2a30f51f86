#include "jobs/status_responder.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

constexpr std::array<TPrinterState, 4> kStates{TPrinterState::Ready, TPrinterState::PaperOut,
                                               TPrinterState::CoverOpen, TPrinterState::Offline};

// A responder whose state the test sets, counting the reads.
struct TResponderRun {
  TResponderRun(TReplyLanguage language, const std::string& rules = "")
      : responder(language, ParseReplyRules(rules).Rules, [this] {
          ++stateReads;
          return state;
        }) {}
  std::string Send(std::string_view bytes) {
    std::string replies;
    responder.Received(bytes, replies);
    return replies;
  }
  TPrinterState state = TPrinterState::Ready;
  int stateReads = 0;
  TStatusResponder responder;
};

std::string Zpl(const std::string& text) { return "\x02" + text + "\x03\r\n"; }
std::string ZplHostStatus(const char* first, const char* second) {
  return Zpl("030,"s + first + ",1218,000,0,0,0,000,0,0,0") +
         Zpl("000,0,"s + second + ",0,1,2,6,0,00000000,1,000") + Zpl("1234,0");
}
std::string ZplStatus(const char* errors) {
  return "\x02\r\n  PRINTER STATUS\r\n    ERRORS:         "s + errors +
         "\r\n    WARNINGS:       0 00000000 00000000\r\n\x03\r\n";
}
std::string PjlStatus(const char* head, const char* code, const char* display, const char* online) {
  return head + "\r\nCODE="s + code + "\r\nDISPLAY=\"" + display + "\"\r\nONLINE=" + online +
         "\r\n\f";
}

struct TQueryCase {
  TReplyLanguage language;
  std::string query;
  std::array<std::string, 4> replies;  // ready, paper out, cover open, offline
};

// What a client written against each command reference sees in each state.
// Commands the receipt printer processes in turn wait while it is not ready.
const std::vector<TQueryCase>& QueryCases() {
  static const std::vector<TQueryCase> cases{
      {TReplyLanguage::EscPos, "\x10\x04\x01", {"\x12", "\x1A", "\x1A", "\x1A"}},
      {TReplyLanguage::EscPos, "\x10\x04\x02", {"\x12", "\x32", "\x16", "\x52"}},
      {TReplyLanguage::EscPos, "\x10\x04\x03", {"\x12", "\x12", "\x12", "\x52"}},
      {TReplyLanguage::EscPos, "\x10\x04\x04", {"\x12", "\x72", "\x12", "\x12"}},
      {TReplyLanguage::EscPos, "\x10\x04\x05", {"", "", "", ""}},
      {TReplyLanguage::EscPos, "\x1Dr\x01", {"\0"s, "", "", ""}},
      {TReplyLanguage::EscPos, "\x1Dr2", {"\0"s, "", "", ""}},
      {TReplyLanguage::EscPos, "\x1DI\x01", {"\x01", "", "", ""}},
      {TReplyLanguage::EscPos, "\x1DI\x02", {"\x02", "", "", ""}},
      {TReplyLanguage::EscPos, "\x1DI3", {"\x10", "", "", ""}},
      {TReplyLanguage::EscPos, "\x1DI\x41", {"_1.0\0"s, "", "", ""}},
      {TReplyLanguage::EscPos, "\x1DI\x42", {"_Tarnock\0"s, "", "", ""}},
      {TReplyLanguage::EscPos, "\x1DI\x43", {"_Tarnock\0"s, "", "", ""}},
      {TReplyLanguage::EscPos, "\x1DI\x44", {"_00000001\0"s, "", "", ""}},
      {TReplyLanguage::EscPos, "\x1DI\x45", {"_ANK\0"s, "", "", ""}},
      {TReplyLanguage::EscPos,
       "\x1D"
       "a\x0F",
       {"\x10\0\0\0"s, "", "", ""}},
      {TReplyLanguage::Zpl,
       "~HS",
       {ZplHostStatus("0,0", "0"), ZplHostStatus("1,0", "0"), ZplHostStatus("0,0", "1"),
        ZplHostStatus("0,1", "0")}},
      {TReplyLanguage::Zpl,
       "~hs",
       {ZplHostStatus("0,0", "0"), ZplHostStatus("1,0", "0"), ZplHostStatus("0,0", "1"),
        ZplHostStatus("0,1", "0")}},
      {TReplyLanguage::Zpl,
       "~HI",
       {Zpl("Tarnock,V1.0,8,8192KB"), Zpl("Tarnock,V1.0,8,8192KB"), Zpl("Tarnock,V1.0,8,8192KB"),
        Zpl("Tarnock,V1.0,8,8192KB")}},
      {TReplyLanguage::Zpl,
       "~HQES",
       {ZplStatus("0 00000000 00000000"), ZplStatus("1 00000000 00000001"),
        ZplStatus("1 00000000 00000004"), ZplStatus("0 00000000 00000000")}},
      {TReplyLanguage::Zpl, "~HQHA", {"", "", "", ""}},
      {TReplyLanguage::Zpl, "^HS", {"", "", "", ""}},
      {TReplyLanguage::Pjl,
       "@PJL INFO STATUS\r\n",
       {PjlStatus("@PJL INFO STATUS", "10001", "READY", "TRUE"),
        PjlStatus("@PJL INFO STATUS", "41000", "PAPER OUT", "TRUE"),
        PjlStatus("@PJL INFO STATUS", "40021", "COVER OPEN", "TRUE"),
        PjlStatus("@PJL INFO STATUS", "10002", "OFFLINE", "FALSE")}},
      {TReplyLanguage::Pjl,
       "\x1B%-12345X@PJL info  status\n",
       {PjlStatus("@PJL INFO STATUS", "10001", "READY", "TRUE"),
        PjlStatus("@PJL INFO STATUS", "41000", "PAPER OUT", "TRUE"),
        PjlStatus("@PJL INFO STATUS", "40021", "COVER OPEN", "TRUE"),
        PjlStatus("@PJL INFO STATUS", "10002", "OFFLINE", "FALSE")}},
      {TReplyLanguage::Pjl,
       "@PJL INFO ID\r\n",
       {"@PJL INFO ID\r\n\"Tarnock\"\r\n\f", "@PJL INFO ID\r\n\"Tarnock\"\r\n\f",
        "@PJL INFO ID\r\n\"Tarnock\"\r\n\f", "@PJL INFO ID\r\n\"Tarnock\"\r\n\f"}},
      {TReplyLanguage::Pjl,
       "@PJL ECHO job 7 \"x\"\r\n",
       {"@PJL ECHO job 7 \"x\"\r\n\f", "@PJL ECHO job 7 \"x\"\r\n\f", "@PJL ECHO job 7 \"x\"\r\n\f",
        "@PJL ECHO job 7 \"x\"\r\n\f"}},
      {TReplyLanguage::Pjl, "@pjl INFO ID\r\n", {"", "", "", ""}},
      {TReplyLanguage::Pjl, "@PJL INFO CONFIG\r\n", {"", "", "", ""}},
  };
  return cases;
}

// Whole, and split at every position: answered once, when the last byte
// arrives.
TEST(StatusResponderTest, EveryQueryInEveryStateAndEverySplit) {
  for (const TQueryCase& c : QueryCases()) {
    for (std::size_t s = 0; s < kStates.size(); ++s) {
      for (std::size_t split = 0; split < c.query.size(); ++split) {
        TResponderRun run(c.language);
        run.state = kStates[s];
        const std::string head = c.query.substr(0, split);
        EXPECT_EQ(run.Send(head), "") << c.query << " state " << s << " split " << split;
        EXPECT_EQ(run.Send(c.query.substr(split)), c.replies[s])
            << c.query << " state " << s << " split " << split;
        EXPECT_EQ(run.responder.Answered(), c.replies[s].empty() ? 0 : 1) << c.query;
        EXPECT_LE(run.stateReads, 2) << c.query;
      }
    }
  }
}

struct TStep {
  TPrinterState state;
  std::string bytes;
  std::string replies;
};

struct TScript {
  const char* name;
  TReplyLanguage language;
  std::string rules;
  std::vector<TStep> steps;
  int64_t answered;
  int stateReads;
};

constexpr auto kReady = TPrinterState::Ready;
constexpr auto kPaperOut = TPrinterState::PaperOut;
constexpr auto kCoverOpen = TPrinterState::CoverOpen;

const std::string kPjlId = "@PJL INFO ID\r\n\"Tarnock\"\r\n\f";
const std::string kZplId = Zpl("Tarnock,V1.0,8,8192KB");

TEST(StatusResponderTest, Scripts) {
  const TScript scripts[] = {
      {"waiting commands answered once ready, real-time at once",
       TReplyLanguage::EscPos,
       "",
       {{kPaperOut, "\x1Dr\x01\x10\x04\x04", "\x72"},
        {kPaperOut, "text", ""},
        {kReady, "\x1DI\x01", "\0\x01"s},
        {kReady, "more", ""}},
       3,
       3},
      {"automatic status at once and on each watched change",
       TReplyLanguage::EscPos,
       "",
       {{kReady,
         "\x1D"
         "a\x0F",
         "\x10\0\0\0"s},
        {kCoverOpen, "A", "\x38\0\0\0"s},
        {kCoverOpen, "B", ""},
        {kPaperOut, "C", "\x18\0\x0C\0"s},
        {kReady,
         "\x1D"
         "a\x01",
         "\x10\0\0\0"s
         "\x10\0\0\0"s},
        {kPaperOut, "D", ""},
        {kPaperOut,
         "\x1D"
         "a\x00"s,
         ""},
        {kReady, "E", ""}},
       2,
       8},
      {"counted image data is data, real-time queries in it are not",
       TReplyLanguage::EscPos,
       "",
       {{kReady, "\x1Dv0\x00\x02\x00\x02\x00\x1Dr\x01\x10"s, ""},
        {kReady, "\x04\x01\x1Dr\x01", "\x12\0"s},
        {kReady, "\x1B*\x21\x01\x00\x1DI\x01\x1DI\x01"s, "\x01"},
        {kReady,
         "\x1D(L\x03\x00\x1D"
         "a\x01\x1B@"s,
         ""}},
       3,
       2},
      {"rules come first and an empty reply swallows",
       TReplyLanguage::EscPos,
       "10 04 01 => \"R\"; \"PING\" => \"PONG\"; 10 04 02 =>; 1D 61 01 => \"A\"",
       {{kReady, "\x10\x04\x01", "R"},
        {kReady, "\x10\x04\x02\x10\x04\x03", "\x12"},
        {kReady, "xPI", ""},
        {kReady, "NG\x10\x04\x04PINGPING", "PONG\x12PONGPONG"},
        {kReady,
         "\x1D"
         "a\x01",
         "A"},
        {kPaperOut, "x", ""}},
       7,
       2},
      {"the tilde and caret can be changed",
       TReplyLanguage::Zpl,
       "",
       {{kReady, "^XA^CT+~HI+H", ""},
        {kReady, "I^XZ+CC%", kZplId},
        {kReady, "%CT~~HI^CT+~HI", kZplId + kZplId}},
       3,
       0},
      {"job language context: UEL, ENTER LANGUAGE, implicit switch",
       TReplyLanguage::Pjl,
       "",
       {{kReady, "\x1B%-12345X@PJL ENTER LANGUAGE=PCL\r\n@PJL INFO ID\r\n", ""},
        {kReady, "\x1B%-1234", ""},
        {kReady,
         "5X\r\n@PJL INFO ID\r\n\x1B"
         "E@PJL INFO ID\r\n",
         kPjlId},
        {kReady, "\x1B%-12345X@PJL ECHO A", ""},
        {kReady, "\n", "@PJL ECHO A\r\n\f"}},
       2,
       0},
      {"unsolicited device and job status",
       TReplyLanguage::Pjl,
       "",
       {{kReady, "@PJL USTATUS DEVICE = ON\r\n@PJL USTATUS JOB=ON\r\n@PJL JOB NAME=\"r1\"\n",
         "@PJL USTATUS JOB\r\nSTART\r\nNAME=\"r1\"\r\n\f"},
        {kPaperOut, "@PJL EOJ NAME=\"r1\"\r\n",
         PjlStatus("@PJL USTATUS DEVICE", "41000", "PAPER OUT", "TRUE") +
             "@PJL USTATUS JOB\r\nEND\r\nNAME=\"r1\"\r\nPAGES=0\r\n\f"},
        {kPaperOut, "\r\n", ""},
        {kReady, "@PJL USTATUSOFF\r\n", PjlStatus("@PJL USTATUS DEVICE", "10001", "READY", "TRUE")},
        {kPaperOut, "@PJL JOB\r\n", ""}},
       0,
       4},
      {"no language answers nothing",
       TReplyLanguage::None,
       "",
       {{kReady, "\x10\x04\x01~HS@PJL INFO ID\r\n", ""}},
       0,
       0},
  };
  for (const TScript& script : scripts) {
    TResponderRun run(script.language, script.rules);
    for (std::size_t i = 0; i < script.steps.size(); ++i) {
      run.state = script.steps[i].state;
      EXPECT_EQ(run.Send(script.steps[i].bytes), script.steps[i].replies)
          << script.name << ", step " << i + 1;
    }
    EXPECT_EQ(run.responder.Answered(), script.answered) << script.name;
    EXPECT_EQ(run.stateReads, script.stateReads) << script.name;
  }
}

// Random bytes without the ones that would start a query or a command.
std::string Noise(std::mt19937& random, std::size_t size, char excluded) {
  std::string bytes(size, '\0');
  for (char& byte : bytes) {
    byte = static_cast<char>(random() & 0xFF);
    if (byte == excluded) byte = 0;
  }
  return bytes;
}

// Fed in reads that split queries, rules and image heads alike.
std::string SendInReads(TResponderRun& run, const std::string& stream, std::size_t readSize) {
  std::string replies;
  for (std::size_t at = 0; at < stream.size(); at += readSize)
    replies += run.Send(std::string_view(stream).substr(at, readSize));
  return replies;
}

TEST(StatusResponderTest, QueriesBetweenMegabytesOfImageData) {
  std::mt19937 random(29);
  std::string stream;
  std::string expected;
  for (int block = 0; block < 64; ++block) {
    // GS v 0: 64 bytes by 1024 dots, holding sequential queries as data
    // and a custom rule's pattern, which is looked for everywhere.
    std::string payload = Noise(random, 64 * 1024, '\x10');
    payload.replace(1000, 3, "\x1Dr\x01");
    payload.replace(2000, 3, "\x1DI\x01");
    payload.replace(40000, 9, "TARNOCK-Q");
    stream += "\x1Dv0\x00\x40\x00\x00\x04"s + payload + "\x1Dr\x01\x10\x04\x04";
    expected += "A\0\x12"s;
  }
  TResponderRun run(TReplyLanguage::EscPos, "\"TARNOCK-Q\" => \"A\"");
  EXPECT_EQ(SendInReads(run, stream, 65521), expected);
  EXPECT_EQ(run.responder.Answered(), 3 * 64);
}

TEST(StatusResponderTest, PageLanguageDataIsNotReadForCommands) {
  std::mt19937 random(12345);
  std::string stream;
  std::string expected;
  for (int job = 0; job < 4; ++job) {
    std::string data = Noise(random, 1 << 20, '\x1B');
    data.replace(500000, 18, "\n@PJL INFO STATUS\n");
    stream += "\x1B%-12345X@PJL INFO ID\r\n@PJL ENTER LANGUAGE = PCL\r\n" + data;
    expected += kPjlId;
  }
  TResponderRun run(TReplyLanguage::Pjl);
  EXPECT_EQ(SendInReads(run, stream, 4093), expected);
}

TEST(StatusResponderTest, KeepsABoundedTailOfARunawayLine) {
  TResponderRun run(TReplyLanguage::Pjl, "\"123456789\" => \"N\"");
  run.Send("@PJL ECHO ");
  for (int i = 0; i < 3 * 1024; ++i) {
    EXPECT_EQ(run.Send(std::string(1024, 'x')), "");
    ASSERT_LE(run.responder.CarriedBytes(), 1024u + 8u);
  }
  EXPECT_EQ(run.Send("\r\n@PJL INFO ID\r\n"), kPjlId);
  // Only the rule's tail is left: the line is done.
  EXPECT_LE(run.responder.CarriedBytes(), 8u);
}

}  // namespace
