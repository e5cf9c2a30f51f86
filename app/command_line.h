#pragma once

#include <optional>

// What the program answers before it opens a window or a listener. Each
// check returns the exit status when the program should end there, and
// nothing when it should go on.

// --help prints the usage text and --version the version, on standard
// output; both end the program with 0.
std::optional<int> AnswerHelpOrVersion(int argc, char** argv);

// Without a display the window system would abort with a message about
// reinstalling; this reports no display and ends with 1. A platform chosen
// with -platform or QT_QPA_PLATFORM is left to the window system.
std::optional<int> RefuseWithoutDisplay(int argc, char** argv);

// The one line that says there is no display and what to do instead.
void ReportNoDisplay();

// To be called once the window system has taken its own arguments: any
// argument left is none of ours and ends the program with 2.
std::optional<int> RefuseLeftoverArguments(int argc, char** argv);
