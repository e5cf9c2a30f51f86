// The settings reader on any file content: every read succeeds, and a write
// of one key leaves every other entry readable as before.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "capture/ini_file.h"

namespace {

const std::string& SettingsPath() {
  static const std::string path = "/tmp/tarnock-ini-fuzzer-" + std::to_string(::getpid()) + ".ini";
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::ofstream(SettingsPath(), std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  TIniFile settings(SettingsPath());
  std::vector<std::string> entries;
  settings.ListEntries("Ports", entries);
  for (const std::string& entry : entries) {
    if (entry.find('=') == std::string::npos) std::abort();
    if (entry.size() > 2047 + entry.find('=') + 1) std::abort();
  }
  settings.ReadNumber("Window", "Top", 10);
  settings.ReadFlag("File", "DeleteIfEmpty", true);

  try {
    settings.WriteText("Window", "Top", "42");
  } catch (const std::exception&) {
    std::abort();  // a plain file in a writable folder is always writable
  }
  if (settings.ReadText("Window", "Top", "") != "42") std::abort();
  std::vector<std::string> after;
  settings.ListEntries("Ports", after);
  if (after != entries) std::abort();
  std::remove(SettingsPath().c_str());
  return 0;
}
