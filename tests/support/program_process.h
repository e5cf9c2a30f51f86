#pragma once

#include <QProcess>
#include <cstdint>
#include <string>

#include "support/file_contents.h"
#include "support/temp_folder.h"

// The built program run the way an operator runs it: a copy of the executable
// in a temporary folder of its own, since the settings file sits beside it,
// on the offscreen platform so no display is needed.
class TProgramProcess {
 public:
  explicit TProgramProcess(const std::string& builtBinary);
  // Ends a program that is still running, so no test leaves one behind.
  ~TProgramProcess();

  bool IsReady() const { return ready_; }
  std::string Folder() const;
  std::string SettingsPath() const;
  void WriteSettings(const std::string& text) const;

  // Gives the program the descriptor as its standard error instead of the
  // channel Output reads; takes effect at the next Start.
  void SendStandardErrorTo(int descriptor);
  bool Start();
  // True once something listens on the port (the program opens its
  // listeners before it shows its window).
  static bool PortIsListening(uint16_t port);
  bool Signal(int signalNumber);
  // True when the program ended within the time, by itself or by a signal
  // it handled, with exit code 0.
  bool EndedCleanly(int timeoutMs);
  // Everything the program wrote to stdout and stderr.
  std::string Output();

 private:
  TTempFolder folder_;
  QProcess process_;
  bool ready_ = false;
};
