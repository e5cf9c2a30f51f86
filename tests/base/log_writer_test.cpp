#include "base/log_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <regex>
#include <sstream>
#include <string>

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

// A reader that stops reading: writing never waits, what does not fit is
// dropped and counted, and once lines fit again one line says how many went
// missing, where they went missing.
TEST_F(LogWriterTest, AStalledReaderDropsLinesAndSaysSoWhereTheyWent) {
  // The pipe is full before the writer starts: its thread blocks at once.
  const std::string filler(4096, 'f');
  ASSERT_EQ(::write(pipe_[1], filler.data(), filler.size()), 4096);
  ::fcntl(pipe_[1], F_SETFL, 0);  // the writer's own writes block, as on a real pipe
  constexpr int kLines = 100;
  {
    TLogWriter writer(pipe_[1], 256);
    for (int i = 0; i < kLines; ++i) writer.Write("kept " + std::to_string(i % 10) + "\n");
    EXPECT_FALSE(writer.Drain(std::chrono::milliseconds(50)));
    const int64_t dropped = writer.DroppedLines();
    EXPECT_GT(dropped, 0);
    std::string all = ReadAvailable(pipe_[0]);
    ASSERT_TRUE(writer.Drain(std::chrono::seconds(10)));
    writer.Write("after\n");
    ASSERT_TRUE(writer.Drain(std::chrono::seconds(10)));
    all += ReadAvailable(pipe_[0]);
    ASSERT_EQ(all.substr(0, filler.size()), filler);
    const std::string rest = all.substr(filler.size());
    // Every line is either written or counted in a notice that stands where
    // it went missing.
    const std::regex notice(
        "tarnock: (\\d+) log lines dropped here: standard error was not being read");
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
    EXPECT_EQ(noticed, dropped);
    EXPECT_EQ(kept + noticed, kLines) << rest;
  }
}

}  // namespace
