// Times the job list's preview beside the tools a person would use instead,
// in one process and one run, and prints key=value lines for bench/run.sh:
//   memory  resident memory idle, and with a 4 GiB capture paged through
//   open    a 1 GiB capture to its first screen of hex, against xxd
//   filter  the job list's filter over 100,000 jobs, one keystroke at a
//           time, against grep over the same lines as a file
//   render  the first page of a 10-page PostScript job, against Ghostscript
//           asked for that page alone
// Every figure is a median over --rounds rounds, ours and the peer's taken in
// turn within each round.
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QEventLoop>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "jobs/job_history.h"
#include "peer_process.h"
#include "preview/hex_page.h"
#include "preview/page_renderer.h"
#include "preview/paged_file.h"
#include "preview/text_page.h"
#include "preview_samples.h"

namespace {

constexpr int kScreenLines = 60;
constexpr uint64_t kMiB = 1024 * 1024;
constexpr int kMemoryPlaces = 50;
constexpr int kPostScriptPages = 10;
constexpr const char* kTypedFilter = "192.0.2.17";

struct TOptions {
  std::string folder = "/tmp";
  int rounds = 5;
  uint64_t captureMib = 1024;
  uint64_t sparseMib = 4096;
  std::size_t jobRows = 100000;
  std::string rows = "memory open filter render";
};

bool failed = false;

void Print(const std::string& key, double value) { std::printf("%s=%.3f\n", key.c_str(), value); }
void PrintCount(const std::string& key, uint64_t count) {
  std::printf("%s=%llu\n", key.c_str(), static_cast<unsigned long long>(count));
}
void Print(const std::string& key, const std::string& value) {
  std::printf("%s=%s\n", key.c_str(), value.c_str());
}
void Problem(const std::string& text) {
  Print("problem", text);
  failed = true;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double MillisecondsOf(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

long ResidentKib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

// Lets the next read of the file come from the disk, as after a reboot.
void DropFromPageCache(const std::string& path) {
  const int handle = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (handle < 0) return;
  posix_fadvise(handle, 0, 0, POSIX_FADV_DONTNEED);
  close(handle);
}

// ------------------------------------------------------------------ memory

// The capture stays open and the last hex page and text window stay held,
// as the preview holds them while it shows the file.
void MeasureMemory(const TOptions& options) {
  const long idle = ResidentKib();
  const std::string path = options.folder + "/sparse-capture.txt";
  std::string failure;
  if (!MakeSparseFile(path, options.sparseMib * kMiB, failure)) return Problem(failure);
  long after = 0;
  {
    TPagedFile file(path);
    const uint64_t lines = HexLineCount(file);
    std::vector<std::string> page;
    for (int place = 0; place < kMemoryPlaces; ++place) {
      const uint64_t line = lines / kMemoryPlaces * static_cast<uint64_t>(place);
      page = HexLines(file, line, kScreenLines);
    }
    const std::size_t textBytes = TPagedFile::kMaxWindowBytes - 1;
    const TTextWindow text = TextAt(file, file.Size() - textBytes, textBytes);
    after = ResidentKib();
    PrintCount("memory.text_window_chars", static_cast<uint64_t>(text.text.size()));
  }
  unlink(path.c_str());
  PrintCount("memory.capture_mib", static_cast<uint64_t>(options.sparseMib));
  Print("memory.idle_kib", static_cast<double>(idle));
  Print("memory.after_kib", static_cast<double>(after));
  Print("memory.growth_mb", static_cast<double>(after - idle) / 1024.0);
}

// ------------------------------------------------------------------ open

// A person opening the preview: the file opened, the scroll bar sized, the
// first screen of hex made.
double OpenFirstScreen(const std::string& path) {
  std::size_t made = 0;
  const double ms = MillisecondsOf([&] {
    TPagedFile file(path);
    HexLineCount(file);
    made = HexLines(file, 0, kScreenLines).size();
  });
  if (made != kScreenLines) Problem("the first screen of " + path + " has too few lines");
  return ms;
}

void MeasureOpen(const TOptions& options) {
  const std::string path = options.folder + "/noise-capture.txt";
  std::string failure;
  std::string kind = "noise";
  if (!WriteNoiseFile(path, options.captureMib * kMiB, failure)) {
    Print("open.note", failure + "; a sparse file instead");
    kind = "sparse";
    if (!MakeSparseFile(path, options.captureMib * kMiB, failure)) return Problem(failure);
  }
  const std::string screenBytes = std::to_string(kScreenLines * kHexBytesPerLine);
  const bool haveXxd = HavePeer("xxd");
  const std::vector<std::string> peer =
      haveXxd ? std::vector<std::string>{"xxd", "-l", screenBytes, path}
              : std::vector<std::string>{"od", "-A", "x", "-t", "x1z", "-N", screenBytes, path};
  std::vector<double> oursWarm, peerWarm, oursCold, peerCold;
  for (int round = 0; round < options.rounds; ++round) {
    oursWarm.push_back(OpenFirstScreen(path));
    const TPeerRun warm = RunPeer(peer);
    if (warm.ExitStatus != 0) return Problem(peer[0] + " failed on " + path);
    peerWarm.push_back(warm.Milliseconds);
    DropFromPageCache(path);
    oursCold.push_back(OpenFirstScreen(path));
    DropFromPageCache(path);
    peerCold.push_back(RunPeer(peer).Milliseconds);
  }
  unlink(path.c_str());
  Print("open.capture", kind);
  Print("open.peer", haveXxd ? "xxd -l 960" : "od -N 960");
  PrintCount("open.capture_mib", static_cast<uint64_t>(options.captureMib));
  Print("open.ours_warm_ms", Median(oursWarm));
  Print("open.peer_warm_ms", Median(peerWarm));
  Print("open.ours_cold_ms", Median(oursCold));
  Print("open.peer_cold_ms", Median(peerCold));
  Print("open.ours_worst_ms", std::max(*std::max_element(oursWarm.begin(), oursWarm.end()),
                                       *std::max_element(oursCold.begin(), oursCold.end())));
}

// ------------------------------------------------------------------ filter

long CountIn(const std::string& path) {
  std::ifstream file(path);
  long count = -1;
  file >> count;
  return count;
}

void MeasureFilter(const TOptions& options) {
  const std::vector<TJobIndexFields> lines = MakeJobLines(options.jobRows);
  const std::string csv = options.folder + "/jobs.csv";
  {
    std::ofstream index(csv, std::ios::binary);
    index << "start,end,port,peer address,peer port,bytes,file,outcome,queries answered,queue,"
             "job name,source file,user,host\r\n";
    for (const TJobIndexFields& line : lines) index << IndexCsvLine(line);
  }
  const long before = ResidentKib();
  TJobHistory history;
  const double fillMs = MillisecondsOf([&] {
    for (const TJobIndexFields& line : lines)
      history.Add(THistoryRow::FromIndexLine(line, CaptureFolderOf(line)));
  });
  const long filled = ResidentKib();

  const std::string typed = kTypedFilter;
  std::vector<std::vector<double>> ours(typed.size()), peers(typed.size());
  std::size_t oursMatches = 0;
  long peerMatches = 0;
  const std::string counted = options.folder + "/grep-count";
  for (int round = 0; round < options.rounds; ++round)
    for (std::size_t letters = 1; letters <= typed.size(); ++letters) {
      const std::string prefix = typed.substr(0, letters);
      ours[letters - 1].push_back(
          MillisecondsOf([&] { oursMatches = history.Matching(prefix).size(); }));
      // -F: the filter box matches text as typed, and so does grep then
      // (its dots would otherwise match any character).
      const TPeerRun run = RunPeer({"grep", "-ciF", prefix, csv}, counted);
      peers[letters - 1].push_back(run.Milliseconds);
      peerMatches = CountIn(counted);
    }
  std::vector<double> oursPerKey, peerPerKey;
  for (std::size_t key = 0; key < typed.size(); ++key) {
    oursPerKey.push_back(Median(ours[key]));
    peerPerKey.push_back(Median(peers[key]));
  }
  unlink(csv.c_str());
  unlink(counted.c_str());
  PrintCount("filter.rows", static_cast<uint64_t>(history.Size()));
  PrintCount("filter.keystrokes", static_cast<uint64_t>(typed.size()));
  Print("filter.fill_ms", fillMs);
  Print("filter.history_mb", static_cast<double>(filled - before) / 1024.0);
  Print("filter.ours_median_ms", Median(oursPerKey));
  Print("filter.ours_worst_ms", *std::max_element(oursPerKey.begin(), oursPerKey.end()));
  Print("filter.peer_median_ms", Median(peerPerKey));
  Print("filter.peer_worst_ms", *std::max_element(peerPerKey.begin(), peerPerKey.end()));
  std::string perKey;
  for (double ms : oursPerKey) {
    if (!perKey.empty()) perKey += '/';
    perKey += std::to_string(ms).substr(0, 5);
  }
  Print("filter.ours_per_key_ms", perKey);
  PrintCount("filter.ours_matches", static_cast<uint64_t>(oursMatches));
  PrintCount("filter.peer_matches", static_cast<uint64_t>(peerMatches));
}

// ------------------------------------------------------------------ render

struct TRenderTimes {
  double finished = -1;
  // When the first page's image was complete in the render folder.
  double firstPage = -1;
  std::size_t pages = 0;
  std::string failure;
};

// The render folder the renderer has just made: the one folder in the fresh
// cache folder.
std::string OnlyFolderIn(const std::string& folder) {
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.is_directory()) return entry.path().string();
  return {};
}

TRenderTimes RenderOnce(const std::string& capture, const std::string& folder, int lastPage) {
  std::string cache = folder + "/cache.XXXXXX";
  if (mkdtemp(cache.data()) == nullptr) return {-1, -1, 0, "cannot make a cache folder"};
  TRenderRequest request;
  request.capture = capture;
  request.language = TPrinterLanguage::PostScript;
  request.cacheFolder = cache;
  request.lastPage = lastPage;
  TRenderTimes times;
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  QSocketNotifier notifier(watch, QSocketNotifier::Read);
  TPageRenderer renderer;
  QEventLoop loop;
  const auto start = std::chrono::steady_clock::now();
  const auto since = [&] {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
  };
  QObject::connect(&renderer, &TPageRenderer::Finished, [&](const TRenderResult& result) {
    times.finished = since();
    times.pages = result.pages.size();
    times.failure = result.failure;
    loop.quit();
  });
  QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
    alignas(inotify_event) char events[4096];
    for (ssize_t got; (got = read(watch, events, sizeof events)) > 0;)
      for (char* at = events; at < events + got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(at);
        if (event->len > 0 && std::string(event->name).find("0001") != std::string::npos &&
            times.firstPage < 0)
          times.firstPage = since();
        at += sizeof(inotify_event) + event->len;
      }
  });
  renderer.Start(request);
  // The render folder is made before the renderer starts, and the renderer
  // takes far longer to start than this takes to watch it.
  const std::string renderFolder = OnlyFolderIn(cache);
  if (!renderFolder.empty()) inotify_add_watch(watch, renderFolder.c_str(), IN_CLOSE_WRITE);
  loop.exec();
  close(watch);
  std::filesystem::remove_all(cache);
  return times;
}

std::size_t PngsIn(const std::string& folder, const std::string& prefix) {
  std::size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().filename().string().rfind(prefix, 0) == 0) ++count;
  return count;
}

std::vector<std::string> GhostscriptCommand(const std::string& output, const std::string& input,
                                            bool firstPageOnly) {
  std::vector<std::string> command = {
      "gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=png16m", "-r100"};
  if (firstPageOnly) {
    command.push_back("-dFirstPage=1");
    command.push_back("-dLastPage=1");
  }
  command.insert(command.end(), {"-o", output, input});
  return command;
}

void MeasureRender(const TOptions& options) {
  if (!HavePeer("gs")) return Print("render.skipped", "Ghostscript (gs) is not installed");
  const std::string capture = options.folder + "/ten-pages.ps";
  std::ofstream(capture, std::ios::binary) << MakePostScriptJob(kPostScriptPages);
  const std::string peerFolder = options.folder + "/gs-pages";
  std::vector<double> ours, oursFirstFile, oursFirstPage, peer, peerAll;
  std::size_t oursPages = 0, firstPages = 0, peerPages = 0, peerAllPages = 0;
  for (int round = 0; round < options.rounds; ++round) {
    const TRenderTimes all = RenderOnce(capture, options.folder, 0);
    if (!all.failure.empty()) return Problem("the renderer failed: " + all.failure);
    ours.push_back(all.finished);
    oursFirstFile.push_back(all.firstPage);
    oursPages = all.pages;
    // What the preview asks for first: the first page alone.
    const TRenderTimes first = RenderOnce(capture, options.folder, 1);
    if (!first.failure.empty()) return Problem("the first-page render failed: " + first.failure);
    oursFirstPage.push_back(first.finished);
    firstPages = first.pages;

    std::filesystem::remove_all(peerFolder);
    std::filesystem::create_directory(peerFolder);
    const TPeerRun one = RunPeer(GhostscriptCommand(peerFolder + "/first-%04d.png", capture, true));
    if (one.ExitStatus != 0) return Problem("gs failed on " + capture);
    peer.push_back(one.Milliseconds);
    peerPages = PngsIn(peerFolder, "first-");
    peerAll.push_back(
        RunPeer(GhostscriptCommand(peerFolder + "/all-%04d.png", capture, false)).Milliseconds);
    peerAllPages = PngsIn(peerFolder, "all-");
  }
  std::filesystem::remove_all(peerFolder);
  unlink(capture.c_str());
  PrintCount("render.pages", static_cast<uint64_t>(kPostScriptPages));
  Print("render.ours_ms", Median(ours));
  PrintCount("render.ours_pages", static_cast<uint64_t>(oursPages));
  Print("render.ours_first_file_ms", Median(oursFirstFile));
  Print("render.first_page_ms", Median(oursFirstPage));
  PrintCount("render.first_page_pages", static_cast<uint64_t>(firstPages));
  Print("render.peer_ms", Median(peer));
  PrintCount("render.peer_pages", static_cast<uint64_t>(peerPages));
  Print("render.peer_all_ms", Median(peerAll));
  PrintCount("render.peer_all_pages", static_cast<uint64_t>(peerAllPages));
}

TOptions ParseOptions(int argc, char** argv) {
  TOptions options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const std::string value = argv[i + 1];
    if (name == "--dir")
      options.folder = value;
    else if (name == "--rounds")
      options.rounds = std::max(1, std::atoi(value.c_str()));
    else if (name == "--capture-mib")
      options.captureMib = std::strtoull(value.c_str(), nullptr, 10);
    else if (name == "--sparse-mib")
      options.sparseMib = std::strtoull(value.c_str(), nullptr, 10);
    else if (name == "--rows")
      options.jobRows = std::strtoull(value.c_str(), nullptr, 10);
    else if (name == "--only")
      options.rows = value;
  }
  return options;
}

bool Wanted(const TOptions& options, const std::string& row) {
  return (" " + options.rows + " ").find(" " + row + " ") != std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
  // The renderer lives in a GUI application, which needs no screen here.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const TOptions options = ParseOptions(argc, argv);
  char folder[] = "preview-bench.XXXXXX";
  TOptions inFolder = options;
  inFolder.folder = options.folder + "/" + folder;
  if (mkdtemp(inFolder.folder.data()) == nullptr) {
    Problem("cannot make a folder in " + options.folder);
    return 1;
  }
  try {
    // First, before the other rows leave the heap larger than it started.
    if (Wanted(options, "memory")) MeasureMemory(inFolder);
    if (Wanted(options, "open")) MeasureOpen(inFolder);
    if (Wanted(options, "filter")) MeasureFilter(inFolder);
    if (Wanted(options, "render")) MeasureRender(inFolder);
  } catch (const std::exception& error) {
    Problem(error.what());
  }
  std::filesystem::remove_all(inFolder.folder);
  PrintCount("rounds", static_cast<uint64_t>(options.rounds));
  return failed ? 1 : 0;
}
