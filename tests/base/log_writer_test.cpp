#include "base/log_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

namespace {

std::string ReadAvailable(int fd) {
  std::string text;
  char chunk[4096];
  for (ssize_t got; (got = ::read(fd, chunk, sizeof chunk)) > 0;)
    text.append(chunk, static_cast<std::size_t>(got));
  return text;
}

class LogWriterTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK), 0);
    // The smallest pipe the platform makes, so that a test fills it fast.
    ::fcntl(pipe_[1], F_SETPIPE_SZ, 4096);
  }
  void TearDown() override {
    ::close(pipe_[0]);
    ::close(pipe_[1]);
  }
  int pipe_[2] = {-1, -1};
};

TEST_F(LogWriterTest, LinesArriveWholeAndInOrder) {
  TLogWriter writer(pipe_[1]);
  std::string expected;
  for (int i = 0; i < 100; ++i) {
    const std::string line = "line " + std::to_string(i) + "\n";
    writer.Write(line);
    expected += line;
  }
  ASSERT_TRUE(writer.Drain(std::chrono::seconds(10)));
  EXPECT_EQ(ReadAvailable(pipe_[0]), expected);
  EXPECT_EQ(writer.DroppedLines(), 0);
}

bool WaitFor(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

struct TDropCase {
  const char* name;
  // The reader takes nothing until the lines have come (its pipe is full),
  // or it could take them all but they come faster than the writer writes.
  bool readerStalled;
  // The descriptor was made non-blocking by another program sharing it.
  bool nonBlocking;
  const char* cause;
};

class LogWriterDropTest : public LogWriterTest, public testing::WithParamInterface<TDropCase> {};

// Writing never waits; what does not fit is dropped and counted, and once
// lines fit again (or the log is drained) one line says how many went
// missing, where they went missing, and why.
TEST_P(LogWriterDropTest, DroppedLinesAreCountedWhereTheyWentWithTheirCause) {
  const TDropCase& c = GetParam();
  std::string filler;
  if (c.readerStalled) {
    // The pipe is full before the writer starts: its thread blocks at once.
    filler.assign(4096, 'f');
    ASSERT_EQ(::write(pipe_[1], filler.data(), filler.size()), 4096);
  }
  if (!c.nonBlocking) ::fcntl(pipe_[1], F_SETFL, 0);
  constexpr int kLines = 100;
  {
    // A stall counts at once, so the test need not wait for the stall time.
    TLogWriter writer(
        pipe_[1], 256,
        c.readerStalled ? std::chrono::milliseconds(0) : TLogWriter::kDefaultStallTime);
    writer.Write("kept first\n");
    if (c.readerStalled) {
      ASSERT_TRUE(WaitFor([&] { return writer.Stalled(); }));
    }
    for (int i = 0; i < kLines; ++i) writer.Write("kept " + std::to_string(i % 10) + "\n");
    const int64_t dropped = writer.DroppedLines();
    EXPECT_GT(dropped, 0);
    std::string all = ReadAvailable(pipe_[0]);
    ASSERT_TRUE(writer.Drain(std::chrono::seconds(10)));
    all += ReadAvailable(pipe_[0]);
    writer.Write("after\n");
    ASSERT_TRUE(writer.Drain(std::chrono::seconds(10)));
    all += ReadAvailable(pipe_[0]);
    ASSERT_EQ(all.substr(0, filler.size()), filler);
    const std::string rest = all.substr(filler.size());
    const std::regex notice(std::string("tarnock: (\\d+) log lines dropped here: ") + c.cause);
    int64_t kept = 0, noticed = 0;
    std::string line, last;
    for (std::istringstream lines(rest); std::getline(lines, line); last = line) {
      std::smatch count;
      if (std::regex_match(line, count, notice))
        noticed += std::stoll(count[1].str());
      else if (line.starts_with("kept "))
        ++kept;
    }
    EXPECT_EQ(last, "after");
    EXPECT_EQ(noticed, dropped) << rest;
    EXPECT_EQ(kept + noticed, kLines + 1) << rest;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LogWriterDropTest,
    testing::Values(TDropCase{"ReaderStalled", true, false, "standard error was not being read"},
                    TDropCase{"NonBlockingReaderStalled", true, true,
                              "standard error was not being read"},
                    TDropCase{"LinesFasterThanTheWriter", false, false,
                              "they came faster than standard error took them"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
