#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "capture/ini_file.h"
#include "capture/job_settings.h"
#include "support/file_contents.h"
#include "support/loopback.h"
#include "support/lpd_client.h"
#include "support/monitor_fixture.h"
#include "support/wait.h"

namespace {

using namespace std::string_literals;

// A port that speaks the line printer protocol, each row's captures in a
// folder of their own with one file per job and the index.
class LpdWireTest : public MonitorFixture {
 protected:
  void SetUp() override {
    MonitorFixture::SetUp();
    UsePort("first", {});
    StartMonitor();
  }
  // The port's folder and section as the next connection reads them.
  void UsePort(const std::string& folder,
               const std::vector<std::pair<std::string, std::string>>& keys) {
    folder_ = CaptureFolder() + "/" + folder;
    WritePortValue(folder_ + ",'job',F,0,");
    TIniFile settings(IniPath());
    settings.WriteFlag("Jobs", "OneFilePerJob", true);
    settings.WriteFlag("Jobs", "JobIndex", true);
    const std::string section = PortSectionName(PortText());
    settings.WriteText(section, "Protocol", "lpd");
    for (const auto& [key, value] : keys) settings.WriteText(section, key, value);
  }
  // Sends each step and waits for its answer, as a client does; then ends
  // its side and waits until the session is gone. Answers all that came.
  std::string Converse(const TLpdClient& client, bool endOurSide = true) {
    const int before = monitor_->SessionCount();
    const int peer = Connect();
    std::string answers;
    for (const TLpdStep& step : client.Steps()) {
      EXPECT_TRUE(SendAll(peer, step.send));
      const std::size_t wanted = answers.size() + step.expect.size();
      EXPECT_TRUE(WaitUntil([&] { return Drain(peer, answers) || answers.size() >= wanted; }));
    }
    if (endOurSide) ::shutdown(peer, SHUT_WR);
    EXPECT_TRUE(WaitUntil([&] {
      Drain(peer, answers);
      return monitor_->SessionCount() == before;
    }));
    return answers;
  }
  // Takes what the peer was sent; true once its side has ended.
  static bool Drain(int peer, std::string& bytes) {
    char buffer[4096];
    for (;;) {
      const ssize_t got = ::recv(peer, buffer, sizeof buffer, MSG_DONTWAIT);
      if (got > 0) {
        bytes.append(buffer, static_cast<std::size_t>(got));
        continue;
      }
      return got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
    }
  }
  std::string Capture(int number) const {
    return folder_ + (number == 1 ? "/job.txt" : "/job-" + std::to_string(number) + ".txt");
  }
  std::vector<std::string> IndexLines() const {
    std::vector<std::string> lines;
    const std::string index = ReadWholeFile(folder_ + "/jobs.csv");
    for (std::size_t at = index.find("\r\n"); at != std::string::npos;) {
      const std::size_t next = index.find("\r\n", at + 2);
      if (next != std::string::npos) lines.push_back(index.substr(at + 2, next - at - 2));
      at = next;
    }
    return lines;
  }
  bool Logged(const std::string& ending) const {
    return std::any_of(window_.MessageLines.begin(), window_.MessageLines.end(),
                       [&](const std::string& line) { return line.ends_with(ending); });
  }

  std::string folder_;
};

const TLpdJobFields kFields;
const std::string kControl = LpdControlText(kFields, {"dfA"});
const std::string kTwoFiles = "Hhost2\nPbob\nJtwo\nNa.txt\nldfA\nNb.txt\nldfB\n";
const std::string kLabels = ",lp,report,report.txt,alice,client";

// Every order a client may send its files in: each data file is one
// capture of exactly its bytes, its record labelled by the control file
// wherever that came, and the peer gets every acknowledgement.
TEST_F(LpdWireTest, EveryFileOrderGivesOneCapturePerDataFile) {
  const std::string big = Pattern(300000, 1);
  struct TRow {
    const char* name;
    TLpdClient client;
    std::vector<std::string> captures;
    std::vector<std::string> indexEndings;
  };
  std::vector<TRow> rows;
  rows.push_back({"control first",
                  TLpdClient().ReceiveJob("lp").ControlFile("cfA", kControl).DataFile("dfA", big),
                  {big},
                  {",closed,0" + kLabels}});
  rows.push_back(
      {"data first",
       TLpdClient().ReceiveJob("lp").DataFile("dfA", "ab\0\n"s).ControlFile("cfA", kControl),
       {"ab\0\n"s},
       {",closed,0" + kLabels}});
  rows.push_back({"two data files, each its own source name",
                  TLpdClient()
                      .ReceiveJob("q")
                      .DataFile("dfA", "1")
                      .ControlFile("cfA", kTwoFiles)
                      .DataFile("dfB", "22"),
                  {"1", "22"},
                  {",closed,0,q,two,a.txt,bob,host2", ",closed,0,q,two,b.txt,bob,host2"}});
  rows.push_back(
      {"abort, then a job anew",
       TLpdClient().ReceiveJob("lp").DataFile("dfA", "x").AbortJob().DataFile("dfB", "y"),
       {"x", "y"},
       {",closed,0,lp,,,,", ",closed,0,lp,,,,"}});
  rows.push_back(
      {"count 0 runs to the end",
       TLpdClient().ReceiveJob("lp").ControlFile("cfA", kControl).DataFileToTheEnd("dfA", big),
       {big},
       {",closed,0" + kLabels}});
  for (std::size_t row = 0; row < rows.size(); ++row) {
    SCOPED_TRACE(rows[row].name);
    UsePort("row" + std::to_string(row), {});
    EXPECT_EQ(Converse(rows[row].client), rows[row].client.AllExpected());
    const std::vector<std::string> index = IndexLines();
    ASSERT_EQ(index.size(), rows[row].captures.size());
    for (std::size_t file = 0; file < index.size(); ++file) {
      EXPECT_EQ(ReadWholeFile(Capture(static_cast<int>(file) + 1)), rows[row].captures[file]);
      EXPECT_TRUE(index[file].ends_with(rows[row].indexEndings[file])) << index[file];
    }
    EXPECT_FALSE(std::filesystem::exists(Capture(1) + ".cf"));
  }
  EXPECT_TRUE(
      Logged(" - queue lp, job \"report\", file \"report.txt\", user alice, host client - " +
             std::to_string(big.size()) + " bytes written to " + Capture(1)));
  EXPECT_EQ(window_.Errors, 0);
}

// The control file is kept beside each capture only when asked; the labels
// are made fit for a log line and a command's environment.
TEST_F(LpdWireTest, ControlFileKeptBesideEachCaptureWhenAsked) {
  const std::string both = "Hh\x1b[2J\nPp\nJj\nldfA\nldfB\n";
  UsePort("kept", {{"KeepControlFile", "1"}});
  Converse(TLpdClient()
               .ReceiveJob("lp")
               .ControlFile("cfA", both)
               .DataFile("dfA", "a")
               .DataFile("dfB", "b"));
  EXPECT_EQ(ReadWholeFile(Capture(1) + ".cf"), both);
  EXPECT_EQ(ReadWholeFile(Capture(2) + ".cf"), both);
  EXPECT_TRUE(IndexLines().at(0).ends_with(",closed,0,lp,j,,p,h?[2J"));

  // One control file per data file, each sent before its file: each
  // capture keeps the one that names it.
  const std::string first = "Hh\nPp\nJj\nNa.txt\nldfA\n";
  const std::string second = "Hh\nPp\nJj\nNb.txt\nldfB\n";
  UsePort("one-each", {{"KeepControlFile", "1"}});
  Converse(TLpdClient()
               .ReceiveJob("lp")
               .ControlFile("cfA", first)
               .DataFile("dfA", "a")
               .ControlFile("cfB", second)
               .DataFile("dfB", "b"));
  EXPECT_EQ(ReadWholeFile(Capture(1) + ".cf"), first);
  EXPECT_EQ(ReadWholeFile(Capture(2) + ".cf"), second);
  EXPECT_TRUE(IndexLines().at(0).ends_with(",lp,j,a.txt,p,h"));
  EXPECT_TRUE(IndexLines().at(1).ends_with(",lp,j,b.txt,p,h"));
}

// Bad input gets its line and a negative acknowledgement, and never a
// capture claimed complete; the port goes on taking jobs.
TEST_F(LpdWireTest, BadInputIsRefusedAndNothingIsClaimedComplete) {
  const std::string refused = "ERROR: 127.0.0.1 on port " + PortText() + ": LPD: ";
  EXPECT_EQ(Converse(TLpdClient().Raw("\x07lp\n", "\x01"), false), "\x01");
  EXPECT_TRUE(Logged(refused + "unknown command 0x07"));

  UsePort("cut", {});
  Converse(TLpdClient()
               .ReceiveJob("lp")
               .ControlFile("cfA", kControl)
               .Raw("\x03"
                    "5 dfA\n",
                    "\0"s)
               .Raw("ab", ""));
  EXPECT_EQ(ReadWholeFile(Capture(1)), "ab");
  EXPECT_TRUE(IndexLines().at(0).ends_with(",incomplete,0" + kLabels)) << IndexLines().at(0);
  EXPECT_TRUE(Logged(refused + "data file 'dfA' ended after 2 of 5 bytes"));

  UsePort("limit", {{"MaxJobBytes", "4"}});
  EXPECT_EQ(Converse(TLpdClient().ReceiveJob("lp").Raw("\x03"
                                                       "5 dfA\n",
                                                       "\x01"),
                     false),
            "\0\x01"s);
  EXPECT_TRUE(Logged(refused + "data file of 5 bytes is over the size limit of 4"));

  // A folder that cannot be made: the file is refused before it is acknowledged.
  WriteWholeFile(CaptureFolder() + "/a-file", "");
  UsePort("a-file/below", {});
  EXPECT_EQ(Converse(TLpdClient().ReceiveJob("lp").Raw("\x03"
                                                       "1 dfA\n",
                                                       "\x01"),
                     false),
            "\0\x01"s);
  EXPECT_TRUE(std::any_of(
      window_.MessageLines.begin(), window_.MessageLines.end(), [&](const std::string& line) {
        return line.find(refused + "data file 'dfA' not stored: ") != std::string::npos;
      }));

  // A client that stops inside a line holds up nobody else.
  UsePort("after", {});
  const int stalled = Connect();
  ASSERT_TRUE(SendAll(stalled,
                      "\x02lp\n\x03"
                      "5 d"));
  Converse(TLpdClient().ReceiveJob("lp").DataFile("dfA", "next"));
  EXPECT_EQ(ReadWholeFile(Capture(1)), "next");
  EXPECT_EQ(monitor_->SessionCount(), 1);
}

// The commands besides receive job are answered and the connection ends;
// a Protocol nobody knows captures raw and says so.
TEST_F(LpdWireTest, OtherCommandsAnsweredAndAnUnknownProtocolCapturesRaw) {
  for (const TLpdClient& client :
       {TLpdClient().QueueState("lp", false), TLpdClient().QueueState("lp", true),
        TLpdClient().PrintWaitingJobs("lp"), TLpdClient().RemoveJobs("lp", "root")})
    EXPECT_EQ(Converse(client, false), client.AllExpected());

  UsePort("raw", {{"Protocol", "ipp"}});
  Converse(TLpdClient().Raw("\x02lp\n", ""));
  EXPECT_EQ(ReadWholeFile(Capture(1)), "\x02lp\n");
  EXPECT_TRUE(Logged("ERROR: Port " + PortText() +
                     ": Protocol=ipp is no protocol (raw, lpd); its jobs are captured raw"));
}

}  // namespace
