// The real program started on settings files that no editor would write:
// it starts, listens on the port it can read, captures a connection, leaves
// the file as it is until it saves, and the save at the end keeps every line
// it did not change.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "reliability/capture_fixture.h"
#include "support/loopback.h"
#include "support/program_process.h"
#include "support/wait.h"

namespace {

// Deterministic bytes of every value, line ends included.
std::string Garbage(std::size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  for (char& byte : bytes) {
    seed = seed * 1664525u + 1013904223u;
    byte = static_cast<char>(seed >> 24);
  }
  return bytes;
}

template <std::size_t N>
std::string Bytes(const char (&text)[N]) {
  return std::string(text, N - 1);
}

std::string Repeated(const std::string& piece, std::size_t times) {
  std::string text;
  text.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) text += piece;
  return text;
}

std::string TenThousandUnusablePorts() {
  std::string text = "[Ports]\n";
  // Numbers past 65535 name no port, so no listener binds, and each one is
  // one busy line in the port log.
  for (int i = 0; i < 10000; ++i) text += std::to_string(70000 + i) + "=/tmp,x,F,0,\n";
  return text;
}

struct TBadSettingsCase {
  const char* name;
  // The settings text around the one readable port entry.
  std::string before;
  std::string after;
  // The folder the entry names, below the program's folder.
  std::string captureFolder = "cap";
};

std::vector<TBadSettingsCase> BadSettingsCases() {
  return {
      {"BinaryGarbage", Garbage(8192, 1) + "\n", "\n" + Garbage(8192, 2)},
      {"NulBytes", Bytes("[Window]\0Top=\0\n\0\0\0\n[Fi\0le]\nDeleteIfEmpty=0\0\n"),
       Bytes("\0\n[Ports]\0\n\0=\0\n")},
      {"MebibyteLine", "[Other]\nlong=" + std::string(1 << 20, 'x') + "\n", ""},
      {"TenMebibyteFile", Repeated("; " + std::string(1020, 'c') + "\n", 10 * 1024), ""},
      {"InvalidUtf8", "; \xC3\x28 \xFF\xFE \xED\xA0\x80\n[\xE2\x82]\n\xF0\x9F=\xC0\xAF\n", "",
       "cap\xFF\xFE"},
      {"TenThousandPorts", TenThousandUnusablePorts(), ""},
      {"RepeatedSections", "[Ports]\n[Window]\nTop=3\n[Ports]\n",
       "[ports]\n@PORT@=/nowhere,'other',T,0,\n[PORTS]\n[Window]\nTop=4\n"},
      {"KeysWithoutEquals", "[Ports]\njust words\n@PORT@\n=no key\n  \n",
       "[File]\nDeleteIfEmpty\n"},
  };
}

std::string Substituted(std::string text, const std::string& port) {
  for (auto at = text.find("@PORT@"); at != std::string::npos; at = text.find("@PORT@"))
    text.replace(at, 6, port);
  return text;
}

// The running copy's process id, found by its executable's path.
pid_t ProcessOf(const std::string& executable) {
  DIR* processes = ::opendir("/proc");
  if (processes == nullptr) return 0;
  pid_t found = 0;
  while (dirent* entry = ::readdir(processes)) {
    const std::string link = std::string("/proc/") + entry->d_name + "/exe";
    std::error_code error;
    if (std::filesystem::read_symlink(link, error) == executable) {
      found = static_cast<pid_t>(std::stoi(entry->d_name));
      break;
    }
  }
  ::closedir(processes);
  return found;
}

// "Max open files" soft and hard limits of a process, as /proc shows them.
std::pair<std::string, std::string> OpenFileLimits(pid_t process) {
  std::ifstream limits("/proc/" + std::to_string(process) + "/limits");
  std::string line;
  while (std::getline(limits, line)) {
    if (line.rfind("Max open files", 0) != 0) continue;
    std::istringstream fields(line.substr(14));
    std::string soft, hard;
    fields >> soft >> hard;
    return {soft, hard};
  }
  return {};
}

class BadSettingsTest : public testing::TestWithParam<TBadSettingsCase> {};

TEST_P(BadSettingsTest, ProgramStartsUsesWhatItCanReadAndKeepsTheFile) {
  TProgramProcess program(TARNOCK_BINARY);
  ASSERT_TRUE(program.IsReady());
  const uint16_t port = FreeLoopbackPort();
  const std::string portText = std::to_string(port);
  const std::string folder = program.Folder() + "/" + GetParam().captureFolder;
  const std::string settings = Substituted(GetParam().before, portText) + "\n[Ports]\n" + portText +
                               "=" + folder + ",'job',F,0,\n" +
                               Substituted(GetParam().after, portText);
  program.WriteSettings(settings);
  ASSERT_TRUE(program.Start());
  ASSERT_TRUE(WaitUntil([&] { return TProgramProcess::PortIsListening(port); }, 60000))
      << program.Output();

  const int peer = ConnectLoopback(port);
  ASSERT_GE(peer, 0);
  ASSERT_TRUE(SendAll(peer, "captured"));
  ::close(peer);
  // Read with the bytes of the path as they are: the folder's name need not
  // be UTF-8.
  const std::string capture = folder + "/job.txt";
  EXPECT_TRUE(WaitUntil([&] { return ReadWholeFile(capture) == "captured"; }, 30000));
  EXPECT_TRUE(ReadWholeFile(program.SettingsPath()) == settings) << "changed before any save";

  ASSERT_TRUE(program.Signal(SIGTERM));
  EXPECT_TRUE(program.EndedCleanly(60000)) << program.Output();
  // The save at the end adds the placement and keeps everything else.
  const std::string saved = ReadWholeFile(program.SettingsPath());
  EXPECT_NE(saved.find(portText + "=" + folder + ",'job',F,0,"), std::string::npos);
  EXPECT_GE(saved.size() + 64, settings.size());
  if (GetParam().before.size() > 1000) {
    EXPECT_NE(saved.find(GetParam().before.substr(0, 1000)), std::string::npos);
  }
  std::filesystem::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(Files, BadSettingsTest, testing::ValuesIn(BadSettingsCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// Thousands of connections need thousands of descriptors: the program takes
// the hard limit as its soft limit at start.
TEST(ProgramLimits, SoftDescriptorLimitIsRaisedToTheHardLimit) {
  rlimit ours{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &ours), 0);
  rlimit lowered = ours;
  if (lowered.rlim_max == RLIM_INFINITY || lowered.rlim_max > 1024) lowered.rlim_cur = 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
  TProgramProcess program(TARNOCK_BINARY);
  const uint16_t port = FreeLoopbackPort();
  program.WriteSettings("[Ports]\n" + std::to_string(port) + "=" + program.Folder() +
                        ",'job',F,0,\n");
  const bool started = program.IsReady() && program.Start();
  ::setrlimit(RLIMIT_NOFILE, &ours);
  ASSERT_TRUE(started);
  ASSERT_TRUE(WaitUntil([&] { return TProgramProcess::PortIsListening(port); }, 60000));
  const pid_t process = ProcessOf(program.Folder() + "/tarnock");
  ASSERT_NE(process, 0);
  const auto [soft, hard] = OpenFileLimits(process);
  EXPECT_FALSE(hard.empty());
  EXPECT_EQ(soft, hard);
  ASSERT_TRUE(program.Signal(SIGTERM));
  EXPECT_TRUE(program.EndedCleanly(60000));
}

}  // namespace
