#include "app/command_line.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <utility>
#include <vector>

#include "base/text.h"
#include "capture/ini_file.h"

namespace {

bool IsSet(const char* variable) {
  const char* value = std::getenv(variable);
  return value && value[0] != '\0';
}

bool AskedFor(int argc, char** argv, std::string_view option) {
  for (int i = 1; i < argc; ++i) {
    if (argv[i] == option) return true;
  }
  return false;
}

bool IsPlatformOption(std::string_view argument) {
  return argument == "-platform" || argument == "--platform";
}

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string_view::npos) end = text.size();
    parts.emplace_back(TrimBlanks(std::string(text.substr(start, end - start))));
    start = end + 1;
  }
  return parts;
}

// The window system ends its fatal message with the platforms it has, as
// "...are: a, b, c."; nothing when the message has no such list.
std::vector<std::string> AvailablePlatforms(const std::string& message) {
  static constexpr std::string_view kListStart = "Available platform plugins are:";
  const size_t at = message.find(kListStart);
  if (at == std::string::npos) return {};
  std::string list = TrimBlanks(message.substr(at + kListStart.size()));
  if (!list.empty() && list.back() == '.') list.pop_back();
  std::vector<std::string> names;
  for (std::string& name : Split(list, ',')) {
    if (!name.empty()) names.push_back(std::move(name));
  }
  return names;
}

// Each alternative may carry options after a colon ("xcb:option").
bool AnyIsAvailable(const std::string& platform, const std::vector<std::string>& available) {
  for (const std::string& alternative : Split(platform, ';')) {
    const std::string name = alternative.substr(0, alternative.find(':'));
    if (std::find(available.begin(), available.end(), name) != available.end()) return true;
  }
  return false;
}

void PrintUsage() {
  std::printf(
      "Usage: tarnock [--hidden] [--new-instance] [-platform NAME] [Qt options]\n"
      "\n"
      "Listens on the TCP ports of its settings file and writes each connection's\n"
      "bytes into a capture file named after the time the connection arrived.\n"
      "Every line of the port log and the message log is also written to\n"
      "standard error. A second start for the same settings file shows the\n"
      "window of the one that runs and ends.\n"
      "\n"
      "Settings file: %s\n"
      "\n"
      "  -platform offscreen  capture without a window, with no display needed\n"
      "  -platform NAME       use that window system platform, such as xcb or wayland\n"
      "  --hidden             start with the window in the system tray, as a desktop's\n"
      "                       autostart does\n"
      "  --new-instance       start even when Tarnock runs for this settings file\n"
      "  --help               show this text\n"
      "  --version            show the version\n"
      "\n"
      "The manual page (man tarnock) and the README (/usr/share/doc/tarnock/README.md\n"
      "when installed) explain the settings file, the port list and running as a\n"
      "service.\n",
      SettingsFilePath().c_str());
}

}  // namespace

std::optional<int> AnswerHelpOrVersion(int argc, char** argv) {
  if (AskedFor(argc, argv, "--help")) {
    PrintUsage();
    return 0;
  }
  if (AskedFor(argc, argv, "--version")) {
    std::printf("tarnock %s\n", TARNOCK_VERSION);
    return 0;
  }
  return std::nullopt;
}

TStartOptions TakeStartOptions(int& argc, char** argv) {
  TStartOptions options;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--hidden") {
      options.Hidden = true;
      continue;
    }
    if (argument == "--new-instance") {
      options.NewInstance = true;
      continue;
    }
    argv[kept++] = argv[i];
    if (IsPlatformOption(argument) && i + 1 < argc) argv[kept++] = argv[++i];
  }
  argv[kept] = nullptr;
  argc = kept;
  return options;
}

std::optional<int> RefuseMissingPlatformValue(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (!IsPlatformOption(argv[i])) continue;
    if (i + 1 < argc && argv[i + 1][0] != '\0') {
      ++i;
      continue;
    }
    std::fprintf(stderr,
                 "tarnock: %s needs the name of a platform, such as -platform offscreen; see "
                 "tarnock --help\n",
                 argv[i]);
    return 2;
  }
  return std::nullopt;
}

bool DisplayOrPlatformChosen(int argc, char** argv) {
  if (IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY") || IsSet("QT_QPA_PLATFORM")) return true;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (IsPlatformOption(argument) || argument.starts_with("-platform=") ||
        argument.starts_with("--platform=")) {
      return true;
    }
  }
  return false;
}

void ReportNoDisplay() {
  std::fputs(
      "tarnock: no display; start it in a desktop session, or with -platform offscreen to "
      "capture without a window\n",
      stderr);
}

std::string ChosenPlatform(int argc, char** argv) {
  std::string platform;
  for (int i = 1; i + 1 < argc; ++i) {
    if (IsPlatformOption(argv[i])) platform = argv[++i];
  }
  if (platform.empty() && IsSet("QT_QPA_PLATFORM")) platform = std::getenv("QT_QPA_PLATFORM");
  return platform;
}

int ReportWindowSystemFailure(const std::string& platform, const std::string& message) {
  std::vector<std::string> available = AvailablePlatforms(message);
  std::sort(available.begin(), available.end());
  if (platform.empty() || available.empty() || AnyIsAvailable(platform, available)) {
    ReportNoDisplay();
    return 1;
  }
  std::string names;
  for (const std::string& name : available) names += (names.empty() ? "" : ", ") + name;
  std::fprintf(stderr, "tarnock: platform \"%s\" not found; available platforms: %s\n",
               platform.c_str(), names.c_str());
  return 2;
}

std::optional<int> RefuseLeftoverArguments(int argc, char** argv) {
  if (argc < 2) return std::nullopt;
  std::fprintf(stderr, "tarnock: unknown argument \"%s\"; see tarnock --help\n", argv[1]);
  return 2;
}
