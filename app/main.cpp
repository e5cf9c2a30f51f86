#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QSystemTrayIcon>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "app/command_line.h"
#include "app/single_instance.h"
#include "app/termination_signals.h"
#include "base/log_writer.h"
#include "base/paths.h"
#include "base/whole_file.h"
#include "capture/ini_file.h"
#include "capture/locale_formats.h"
#include "ui/add_port.h"
#include "ui/main_window.h"
#include "ui/options.h"
#include "ui/port_help.h"
#include "ui/window_style.h"

namespace {

// Every connection holds a descriptor; the soft limit is often far below
// what the system allows a process.
void RaiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

// A program started with standard error closed would get descriptor 2 for
// its first listener or capture file, and the log lines would go there.
void KeepStandardDescriptorsOpen() {
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (::fcntl(descriptor, F_GETFD) != -1) continue;
    const int placeholder = ::open("/dev/null", O_RDWR);
    if (placeholder > 2) ::close(placeholder);
  }
}

QtMessageHandler defaultMessageHandler = nullptr;
bool windowSystemStarting = false;
std::string chosenPlatform;

// Standard error carries the log. The window system's notes about its
// surroundings (no runtime folder, what the offscreen platform can't do)
// would mix with it, so only its critical and fatal messages go out. A
// platform that can't be started is fatal while the window system starts;
// that is said in our words, before anything listens.
void PassOnlyCriticalMessages(QtMsgType type, const QMessageLogContext& context,
                              const QString& message) {
  if (type == QtFatalMsg && windowSystemStarting)
    std::_Exit(ReportWindowSystemFailure(chosenPlatform, message.toStdString()));
  if (type == QtCriticalMsg || type == QtFatalMsg) defaultMessageHandler(type, context, message);
}

// The settings may live in the user's configuration folder, which a new
// account does not have yet; the first save needs it. Answers the folder
// when it could not be made, so the operator hears at start rather than at
// the first save.
std::optional<std::string> PrepareSettingsFolder() {
  const std::string folder = DirectoryPart(SettingsFilePath());
  if (folder.empty()) return std::nullopt;
  CreateDirectoryChain(folder);
  if (DirectoryIsPresent(folder)) return std::nullopt;
  return folder;
}

// How long the end waits for the log to reach standard error. A reader that
// has stalled gets no more: the end must not hang on it.
constexpr std::chrono::milliseconds kLogDrainAtEnd{1000};

// The platforms that draw nowhere, as a service runs the program: there is
// no window to show there, to a later start or anyone else.
bool ShowsWindows() {
  const QString platform = QGuiApplication::platformName();
  return platform != "offscreen" && platform != "minimal";
}

// A hidden window needs a tray to come back from; without one it is shown.
bool StartsHidden(const TStartOptions& options, bool trayAvailable) {
  if (!options.Hidden) return false;
  if (trayAvailable) return true;
  std::fputs("tarnock: no system tray to keep the window in; --hidden is ignored\n", stderr);
  return false;
}

int RunWindows(const std::optional<std::string>& missingSettingsFolder,
               const TStartOptions& options, TSingleInstance* instance) {
  TTerminationSignals terminationSignals;
  const bool trayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
  const bool hidden = StartsHidden(options, trayAvailable);
  // The main window's creation opens the listeners, before any other window
  // exists; connections that arrive meanwhile wait in the backlog.
  TForm1 form1;
  if (missingSettingsFolder)
    form1.Monitor().ReportStartFailure("Unable to create directory " + *missingSettingsFolder);
  TForm2 form2(&form1);
  THelp1 help1(&form1);
  TForm3 form3(&form1);
  form2.Attach(&form3, &help1);
  form1.AttachPortList(&form2);
  terminationSignals.EndThrough(form1);
  form1.SetUpTray(trayAvailable);
  if (instance) {
    instance->AnswerWith([&form1] {
      if (!ShowsWindows()) return false;
      form1.ShowAndRaise();
      return true;
    });
  }

  if (!hidden) form1.show();
  return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
  KeepStandardDescriptorsOpen();
  if (const std::optional<int> status = AnswerHelpOrVersion(argc, argv)) return *status;
  const TStartOptions options = TakeStartOptions(argc, argv);
  if (const std::optional<int> status = RefuseMissingPlatformValue(argc, argv)) return *status;
  // Without a display the window system can't start, but it alone knows which
  // arguments are its own; so it starts on the platform that needs none, and
  // an unknown argument is refused the same way with or without a display.
  chosenPlatform = ChosenPlatform(argc, argv);
  const bool displayChosen = DisplayOrPlatformChosen(argc, argv);
  if (!displayChosen) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Nothing is ever sent, but a peer's reset must never end the program.
  std::signal(SIGPIPE, SIG_IGN);
  RaiseOpenFileLimit();
  defaultMessageHandler = qInstallMessageHandler(PassOnlyCriticalMessages);
  windowSystemStarting = true;
  QApplication application(argc, argv);
  windowSystemStarting = false;
  if (const std::optional<int> status = RefuseLeftoverArguments(argc, argv)) return *status;
  if (!displayChosen) {
    ReportNoDisplay();
    return 1;
  }
  QApplication::setWindowIcon(ProgramIcon());
  // Lets a desktop match the window to its menu entry and icon.
  QGuiApplication::setDesktopFileName("org.tarnock.Tarnock");
  LoadLocaleFormats();
  // Before anything listens: a second instance would find every port busy.
  std::optional<TSingleInstance> instance;
  if (!options.NewInstance) {
    instance.emplace(SettingsFilePath());
    if (const std::optional<int> status = instance->ClaimOrHandOver(ShowsWindows())) return *status;
  }
  const std::optional<std::string> missingSettingsFolder = PrepareSettingsFolder();
  RemoveAbandonedTemporaries(SettingsFilePath());
  const int status = RunWindows(missingSettingsFolder, options, instance ? &*instance : nullptr);
  StandardErrorLog().Drain(kLogDrainAtEnd);
  return status;
}
