#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/file_contents.h"
#include "support/log_lines.h"
#include "support/monitor_fixture.h"

// The monitor fixture whose port appends to <root>/cap/job.txt.
class CaptureFixture : public MonitorFixture {
 protected:
  // Writes the settings and starts the monitor. By default the port appends
  // to job.txt and Delete if Empty is off, so every capture file stays for
  // the checks.
  void Start(const std::string& fileFormat = "'job'", char overwrite = 'F',
             bool deleteIfEmpty = false) {
    WriteWholeFile(IniPath(), std::string("[File]\nDeleteIfEmpty=") + (deleteIfEmpty ? "1" : "0") +
                                  "\n[Ports]\n" + PortText() + "=" + CaptureFolder() + "," +
                                  fileFormat + "," + overwrite + ",0,\n");
    StartMonitor();
    ASSERT_EQ(window_.PortLines, std::vector<std::string>{"Listening on port " + PortText()});
  }
};
