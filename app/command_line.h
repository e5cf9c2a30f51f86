#pragma once

#include <optional>
#include <string>

// What the program answers before it opens a window or a listener. Each
// check returns the exit status when the program should end there, and
// nothing when it should go on.

// --help prints the usage text and --version the version, on standard
// output; both end the program with 0.
std::optional<int> AnswerHelpOrVersion(int argc, char** argv);

// The program's own options that start it in a particular way.
struct TStartOptions {
  // --hidden: the window starts in the system tray, for a desktop's autostart.
  bool Hidden = false;
  // --new-instance: runs beside an instance for the same settings file,
  // neither asking it nor answering later starts.
  bool NewInstance = false;
};

// Takes --hidden and --new-instance out of the arguments, so that neither the
// window system nor the check for leftover arguments sees them. The word
// after -platform is its value and stays.
TStartOptions TakeStartOptions(int& argc, char** argv);

// -platform as the last argument, or with an empty name after it, would be
// dropped by the window system, which then starts on its default platform:
// refused with 2.
std::optional<int> RefuseMissingPlatformValue(int argc, char** argv);

// Whether a display (DISPLAY, WAYLAND_DISPLAY) or a platform (-platform,
// QT_QPA_PLATFORM) is named. Without either the window system would abort
// with a message about reinstalling.
bool DisplayOrPlatformChosen(int argc, char** argv);

// The one line that says there is no display and what to do instead.
void ReportNoDisplay();

// The platform asked for: the last -platform argument, else
// QT_QPA_PLATFORM; empty when neither names one.
std::string ChosenPlatform(int argc, char** argv);

// Says why the window system could not start, given the platform asked for
// and the window system's own fatal message, and returns the exit status.
// A platform none of whose names (alternatives separated by ";") is among
// the available ones that the message lists gets a line naming it and
// them, and 2, like any other argument that can't be taken. Anything else is
// a display that can't be opened: the no-display line, and 1.
int ReportWindowSystemFailure(const std::string& platform, const std::string& message);

// To be called once the window system has taken its own arguments: any
// argument left is none of ours and ends the program with 2.
std::optional<int> RefuseLeftoverArguments(int argc, char** argv);
