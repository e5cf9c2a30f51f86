#pragma once

#include <string>
#include <vector>

// One run of another program, timed from just before its start until it has
// been waited for, as a person typing its name would wait for it.
struct TPeerRun {
  double Milliseconds = 0;
  // Its exit status; -1 when it could not start or ended by a signal.
  int ExitStatus = -1;
};

// Runs arguments[0], looked for on PATH, with standard output to outputPath
// and standard error discarded.
TPeerRun RunPeer(const std::vector<std::string>& arguments,
                 const std::string& outputPath = "/dev/null");

// Whether a program of that name is on PATH.
bool HavePeer(const std::string& name);
