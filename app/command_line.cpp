#include "app/command_line.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

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

void PrintUsage() {
  std::printf(
      "Usage: tarnock [-platform offscreen] [Qt options]\n"
      "\n"
      "Listens on the TCP ports of its settings file and writes each connection's\n"
      "bytes into a capture file named after the time the connection arrived.\n"
      "Every line of the port log and the message log is also written to\n"
      "standard error.\n"
      "\n"
      "Settings file: %s\n"
      "\n"
      "  -platform offscreen  capture without a window, with no display needed\n"
      "  --help               show this text\n"
      "  --version            show the version\n"
      "\n"
      "The README (/usr/share/doc/tarnock/README.md when installed) explains the\n"
      "settings file, the port list and running as a service.\n",
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

std::optional<int> RefuseWithoutDisplay(int argc, char** argv) {
  if (IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY") || IsSet("QT_QPA_PLATFORM")) {
    return std::nullopt;
  }
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "-platform" || argument == "--platform" || argument.starts_with("-platform=") ||
        argument.starts_with("--platform=")) {
      return std::nullopt;
    }
  }
  ReportNoDisplay();
  return 1;
}

void ReportNoDisplay() {
  std::fputs(
      "tarnock: no display; start it in a desktop session, or with -platform offscreen to "
      "capture without a window\n",
      stderr);
}

std::optional<int> RefuseLeftoverArguments(int argc, char** argv) {
  if (argc < 2) return std::nullopt;
  std::fprintf(stderr, "tarnock: unknown argument \"%s\"; see tarnock --help\n", argv[1]);
  return 2;
}
