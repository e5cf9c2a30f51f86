// Makes --files aged captures in a folder of their own, starts a capture
// monitor with Delete after Days on, and reports, as key=value lines, how
// long the sweep took and the longest turn of the event loop meanwhile: the
// longest the window would have stood still.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "capture/monitor.h"

namespace {

class TCountingWindow : public TMonitorWindow {
 public:
  long Deleted = 0;
  int lines = 0;
  void ClearPortLog() override {}
  void AppendPortLine(const std::string&) override {}
  void AppendMessageLine(const std::string& line) override {
    if (line.find(" deleted, older than ") != std::string::npos) ++Deleted;
    ++lines;
  }
  int MessageLineCount() const override { return lines; }
  void DeleteFirstMessageLines(int count) override { lines -= count; }
  void SetCaption(const std::string&) override {}
  bool DeleteIfEmpty() const override { return true; }
  void SetDeleteIfEmpty(bool) override {}
  int Top() const override { return 0; }
  int Left() const override { return 0; }
  int Height() const override { return 400; }
  void SetTop(int) override {}
  void SetLeft(int) override {}
  void SetHeight(int) override {}
  bool IsNormalState() const override { return false; }
};

bool MakeAgedFiles(const std::string& folder, long count) {
  timespec times[2];
  clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= 10 * 86400;
  times[1] = times[0];
  char name[64];
  for (long i = 0; i < count; ++i) {
    std::snprintf(name, sizeof name, "/2026%010ld.txt", i);
    const std::string path = folder + name;
    const int handle = open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    if (handle < 0 || futimens(handle, times) != 0) return false;
    close(handle);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  long count = 100000;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::string(argv[i]) == "--files") count = std::atol(argv[i + 1]);
  char base[] = "/tmp/tarnock-sweep.XXXXXX";
  if (mkdtemp(base) == nullptr) return 1;
  const std::string root = base;
  const std::string folder = root + "/cap";
  std::filesystem::create_directory(folder);
  if (!MakeAgedFiles(folder, count)) return 1;
  std::ofstream(root + "/tarnock.ini")
      << "[Ports]\n0=" << folder << ",yyyymmddhhnnss,F,3,\n[Jobs]\nDeleteAfterDays=1\n";

  TCountingWindow window;
  TCaptureMonitor monitor(window, root + "/tarnock.ini");
  QElapsedTimer turn;
  qint64 longestTurnNs = 0;
  QTimer everyTurn;
  everyTurn.setInterval(0);
  QObject::connect(&everyTurn, &QTimer::timeout, [&] {
    longestTurnNs = std::max(longestTurnNs, turn.nsecsElapsed());
    turn.restart();
  });
  QElapsedTimer sweep;
  sweep.start();
  monitor.FormCreate();
  turn.start();
  everyTurn.start();
  while (window.Deleted < count && sweep.elapsed() < 600000)
    app.processEvents(QEventLoop::AllEvents, 50);
  const double seconds = static_cast<double>(sweep.nsecsElapsed()) / 1e9;
  monitor.FormDestroy();
  std::filesystem::remove_all(root);
  std::printf("files=%ld\ndeleted=%ld\nsweep_seconds=%.2f\nlongest_turn_ms=%.2f\n", count,
              window.Deleted, seconds, static_cast<double>(longestTurnNs) / 1e6);
  return window.Deleted == count ? 0 : 1;
}
