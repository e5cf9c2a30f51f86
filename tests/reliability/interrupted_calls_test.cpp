// A signal may interrupt a platform call that waits. With every such call of
// the file and socket tables interrupted once before it goes through, a whole run (listen,
// capture, close report, a restart with a placement save) behaves exactly as
// an uninterrupted one.
#include <cerrno>
#include <memory>

#include "capture/ini_file.h"
#include "reliability/capture_fixture.h"
#include "support/fault_injection.h"
#include "support/wait.h"

namespace {

class InterruptedCallsTest : public CaptureFixture {
 protected:
  // Every call that a signal can interrupt on Linux; the others (socket,
  // bind, listen, stat, rename, ...) never report EINTR.
  void InterruptEverything() {
    TFault interrupt;
    interrupt.interruptEveryCall = true;
    for (TFileCall call :
         {TFileCall::Open, TFileCall::Read, TFileCall::Write, TFileCall::Close, TFileCall::Sync})
      fileFaults_.push_back(std::make_unique<TFileFault>(call, interrupt));
    for (TSocketCall call : {TSocketCall::Accept, TSocketCall::Recv, TSocketCall::Close})
      socketFaults_.push_back(std::make_unique<TSocketFault>(call, interrupt));
  }

  int Interruptions() const {
    int total = 0;
    for (const auto& fault : fileFaults_) total += fault->Injected();
    for (const auto& fault : socketFaults_) total += fault->Injected();
    return total;
  }

  void TearDown() override {
    CaptureFixture::TearDown();
    fileFaults_.clear();
    socketFaults_.clear();
  }

  std::vector<std::unique_ptr<TFileFault>> fileFaults_;
  std::vector<std::unique_ptr<TSocketFault>> socketFaults_;
};

TEST_F(InterruptedCallsTest, CaptureRunsAsIfNothingInterruptedIt) {
  InterruptEverything();
  Start();
  const int peer = Connect();
  ASSERT_GE(peer, 0);
  const std::string job = Pattern(3000, 6);
  const std::size_t lines = window_.MessageLines.size();
  SendStored(peer, job);
  Finish(peer);
  EXPECT_EQ(ReadWholeFile(CapturePath()), job);
  ExpectCloseReport(LinesFrom(lines), job.size(), CapturePath());

  // A restart saves the placement and listens again.
  window_.TopValue = 77;
  monitor_->Restart();
  EXPECT_EQ(window_.PortLines, std::vector<std::string>{"Listening on port " + PortText()});
  const int next = Connect();
  ASSERT_GE(next, 0);
  SendStored(next, "again");
  Finish(next);
  EXPECT_EQ(ReadWholeFile(CapturePath()), job + "again");
  EXPECT_GT(Interruptions(), 20);
  fileFaults_.clear();
  EXPECT_EQ(TIniFile(IniPath()).ReadText("Window", "Top", ""), "77");
}

}  // namespace
