#include "preview/page_renderer.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

#include "base/spawn_setup.h"
#include "base/system_calls.h"
#include "base/text.h"
#include "jobs/after_job.h"
#include "jobs/exit_watch.h"
#include "jobs/group_deadline.h"
#include "preview/png_splitter.h"
#include "preview/render_cache.h"
#include "preview/renderer_choice.h"

extern char** environ;

namespace {

constexpr std::size_t kReadPiece = 64 * 1024;
// Enough of the standard error for its first line.
constexpr std::size_t kErrorTextBytes = 4096;

// "30" for whole seconds, "0.1" for a limit of a part of a second.
std::string DescribeSeconds(std::chrono::milliseconds limit) {
  const int64_t milliseconds = limit.count();
  std::string text = FormatInteger(milliseconds / 1000);
  if (milliseconds % 1000 == 0) return text;
  std::string fraction = FormatInteger(milliseconds % 1000 + 1000).substr(1);
  while (fraction.back() == '0') fraction.pop_back();
  return text + "." + fraction;
}

// The first line that says something.
std::string FirstLine(const std::string& text) {
  constexpr const char* kBlank = " \t\r\n";
  const std::size_t start = text.find_first_not_of(kBlank);
  if (start == std::string::npos) return {};
  const std::size_t end = text.find_first_of("\r\n", start);
  std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
  line.erase(line.find_last_not_of(kBlank) + 1);
  return line;
}

std::string CannotReadCapture(int error) {
  return std::string("The capture cannot be read: ") + std::strerror(error);
}

// Reads what a non-blocking pipe holds now; false at its end.
template <typename TTake>
bool ReadAvailable(int handle, TTake take) {
  char piece[kReadPiece];
  for (;;) {
    const ssize_t got = ReadRetrying(handle, piece, sizeof piece);
    if (got > 0) {
      take(std::string_view(piece, static_cast<std::size_t>(got)));
      continue;
    }
    return got < 0 && errno == EAGAIN;
  }
}

struct TPipe {
  int read = -1;
  int write = -1;
  ~TPipe() {
    CloseHandle(read);
    CloseHandle(write);
  }
  bool Make() {
    int handles[2];
    if (FileCalls().MakePipe(handles, O_CLOEXEC) != 0) return false;
    read = handles[0];
    write = handles[1];
    return FileCalls().Control(read, F_SETFL, O_NONBLOCK) == 0;
  }
};

}  // namespace

// What is run: through /bin/sh, which sets the memory limit on itself
// before it becomes the renderer, so the limit holds from the renderer's
// first instruction (a limit set from outside after the start would race
// it).
struct TPageRenderer::TCommand {
  std::vector<std::string> arguments;
  // Images on standard output (a user's command), or as files in the render
  // folder (Ghostscript, whose standard output then joins its errors).
  bool imagesOnOutput = false;
};

// The user's command when there is one, else Ghostscript (the program given).
TPageRenderer::TCommand TPageRenderer::CommandFor(const TRenderRequest& request,
                                                  const std::string& program,
                                                  const std::string& folder) {
  const std::string limit =
      "ulimit -v " +
      FormatInteger(static_cast<int64_t>(std::max<uint64_t>(request.memoryLimitBytes / 1024, 1))) +
      " 2>/dev/null; ";
  // eval: the user's command is shell text of the user's own, run by the
  // shell that holds the limit. The capture never becomes part of it.
  if (program.empty())
    return {{"sh", "-c", limit + "eval \"$1\"", "sh", request.userCommand}, true};
  // The capture on standard input: Ghostscript reads PostScript, PDF and
  // the PJL around either from there, and no file name needs quoting.
  std::vector<std::string> arguments{"sh",
                                     "-c",
                                     limit + "exec \"$0\" \"$@\"",
                                     program,
                                     "-q",
                                     "-dSAFER",
                                     "-dBATCH",
                                     "-dNOPAUSE",
                                     "-sDEVICE=png16m",
                                     "-r" + FormatInteger(request.resolutionDpi)};
  if (request.lastPage <= 0) {
    arguments.push_back("-sOutputFile=" + folder + "/page-%04d.png");
    arguments.push_back("-");
    return {std::move(arguments), false};
  }
  // The first pages come on standard output, so that they are known the
  // moment their last byte is written: Ghostscript reads the rest of the
  // job before it ends, and is stopped instead. What the job itself prints
  // goes to the error output, away from the images.
  std::string lastPage = "-dLastPage=";
  lastPage += FormatInteger(request.lastPage);
  arguments.insert(arguments.end(),
                   {"-dFirstPage=1", lastPage, "-sstdout=%stderr", "-sOutputFile=-", "-"});
  return {std::move(arguments), true};
}

TPageRenderer::TPageRenderer(QObject* parent) : QObject(parent) {}

TPageRenderer::~TPageRenderer() { Abandon(); }

void TPageRenderer::Start(const TRenderRequest& request) {
  Abandon();
  ++generation_;
  Begin(request);
}

void TPageRenderer::Begin(const TRenderRequest& request) {
  struct stat capture {};
  if (FileCalls().PathStatus(request.capture.c_str(), &capture) != 0)
    return FinishSoon({{}, CannotReadCapture(errno)});
  const TRendererChoice choice = ChooseRenderer(request);
  if (!choice.failure.empty()) return FinishSoon({{}, choice.failure});
  // The first pages of a job are not the whole job: they are cached apart.
  std::string identity = choice.identity;
  if (!choice.userCommand && request.lastPage > 0)
    identity += " pages 1-" + FormatInteger(request.lastPage);
  const std::string key = RenderCacheKey(capture, identity, request.resolutionDpi);
  keyFolder_ = request.cacheFolder + "/" + key;
  std::vector<std::string> cached = CachedPages(keyFolder_);
  if (!cached.empty()) return FinishSoon({std::move(cached), {}});

  // Looked for only now: cached pages need no renderer.
  const std::string program = choice.userCommand ? std::string() : FindProgram("gs");
  if (!choice.userCommand && program.empty()) return FinishSoon({{}, kGhostscriptMissing});
  std::string failure;
  renderFolder_ = MakeRenderFolder(request.cacheFolder, key, failure);
  if (renderFolder_.empty()) return FinishSoon({{}, failure});
  rendererName_ = choice.name;
  timeLimit_ = request.timeLimit;
  if (!choice.userCommand && request.lastPage > 0)
    pagesWanted_ = static_cast<std::size_t>(request.lastPage);

  const int captureHandle = OpenRetrying(request.capture.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (captureHandle < 0) {
    failure = CannotReadCapture(errno);
    RemoveRenderFolder(std::exchange(renderFolder_, {}));
    return FinishSoon({{}, failure});
  }
  const bool started = Spawn(CommandFor(request, program, renderFolder_), captureHandle);
  const int error = errno;
  CloseOnce(captureHandle);
  if (!started) {
    Release();
    RemoveRenderFolder(std::exchange(renderFolder_, {}));
    return FinishSoon({{}, rendererName_ + " cannot start: " + std::strerror(error)});
  }
}

bool TPageRenderer::Spawn(const TCommand& command, int captureHandle) {
  TPipe errors;
  TPipe images;
  if (!errors.Make() || (command.imagesOnOutput && !images.Make())) return false;
  // Standard input the capture, standard output and error the pipes, and
  // none of our other descriptors (sockets, the log), whatever their flags.
  TSpawnDescriptors descriptors;
  descriptors.Copy(captureHandle, 0)
      .Copy(command.imagesOnOutput ? images.write : errors.write, 1)
      .Copy(errors.write, 2)
      .CloseFrom(3);
  const TSpawnAttributes attributes{SIGPIPE, SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGCHLD};
  std::vector<std::string> arguments = command.arguments;
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  const TSpawnRequest request{"/bin/sh", descriptors.Get(), attributes.Get(), pointers.data(),
                              environ};
  pid_t pid = -1;
  if (FileCalls().Spawn(&pid, &request) != 0) return false;
  pid_ = pid;

  errorHandle_ = std::exchange(errors.read, -1);
  errorNotifier_ = new QSocketNotifier(errorHandle_, QSocketNotifier::Read, this);
  connect(errorNotifier_, &QSocketNotifier::activated, this, [this] { ReadErrors(); });
  if (command.imagesOnOutput) {
    splitter_ = std::make_unique<TPngSplitter>(renderFolder_);
    imageHandle_ = std::exchange(images.read, -1);
    imageNotifier_ = new QSocketNotifier(imageHandle_, QSocketNotifier::Read, this);
    connect(imageNotifier_, &QSocketNotifier::activated, this, [this] { ReadImages(); });
  }
  WatchExit();
  deadline_ = std::make_unique<TGroupDeadline>(this, pid_, timeLimit_, kKillGrace);
  return true;
}

void TPageRenderer::WatchExit() {
  exitWatch_ = std::make_unique<TExitWatch>(this, pid_, [this] { Reap(); });
}

void TPageRenderer::ReadImages() {
  if (imageHandle_ < 0) return;
  if (!ReadAvailable(imageHandle_, [this](std::string_view bytes) { splitter_->Take(bytes); })) {
    delete imageNotifier_;
    imageNotifier_ = nullptr;
    CloseHandle(imageHandle_);
  }
  if (pagesWanted_ > 0 && splitter_->Pages().size() >= pagesWanted_) StopEarly();
}

// Every page asked for is there: the renderer is stopped like one past its
// time, but what it drew counts.
void TPageRenderer::StopEarly() {
  if (pid_ <= 0 || deadline_->Terminating()) return;
  enough_ = true;
  deadline_->Terminate();
}

// The first bytes are kept for the failure's line; the rest is read only so
// that the renderer never waits on a full pipe.
void TPageRenderer::ReadErrors() {
  if (errorHandle_ < 0) return;
  const bool open = ReadAvailable(errorHandle_, [this](std::string_view bytes) {
    if (errorText_.size() < kErrorTextBytes)
      errorText_.append(bytes.substr(0, kErrorTextBytes - errorText_.size()));
  });
  if (!open) {
    delete errorNotifier_;
    errorNotifier_ = nullptr;
    CloseHandle(errorHandle_);
  }
}

void TPageRenderer::Reap() {
  int status = 0;
  const pid_t reaped =
      RetryOnEintr([&] { return FileCalls().WaitForChild(pid_, &status, WNOHANG); });
  if (reaped == 0) return;
  // What the renderer left running in its group has no one to read for it.
  FileCalls().Signal(-pid_, SIGKILL);
  pid_ = -1;
  // What it wrote before it ended is in the pipes now.
  ReadImages();
  ReadErrors();
  TRenderResult result;
  result.failure = reaped < 0 ? rendererName_ + " cannot be waited for: " + std::strerror(errno)
                              : Outcome(status);
  Conclude(std::move(result));
}

std::string TPageRenderer::Outcome(int status) {
  if (enough_) return {};
  if (deadline_->TimedOut())
    return rendererName_ + " ran longer than " + DescribeSeconds(timeLimit_) + " s and was stopped";
  if (!(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
    const std::string line = FirstLine(errorText_);
    return rendererName_ + " failed: " + DescribeWaitStatus(status) +
           (line.empty() ? "" : ": " + line);
  }
  if (splitter_ != nullptr) {
    splitter_->Finish();
    if (splitter_->State() == TPngSplitter::TState::NoPng)
      return rendererName_ + " wrote something that is no PNG image";
    if (splitter_->State() == TPngSplitter::TState::WriteFailed)
      return "The page cache cannot be written: " + splitter_->WriteError();
  }
  if (CachedPages(renderFolder_).empty()) return rendererName_ + " wrote no page";
  return {};
}

void TPageRenderer::Conclude(TRenderResult result) {
  Release();
  const std::string renderFolder = std::exchange(renderFolder_, {});
  if (!result.failure.empty()) {
    RemoveRenderFolder(renderFolder);
  } else {
    const std::string folder = CommitRenderFolder(renderFolder, keyFolder_);
    if (folder.empty()) {
      result.failure = "The page cache cannot be written: " + keyFolder_;
    } else {
      result.pages = CachedPages(folder);
      PruneRenderCache(std::filesystem::path(folder).parent_path().string());
    }
  }
  emit Finished(result);
}

// Through the event loop, as a render's end comes: the caller connects
// after Start and still hears of it.
void TPageRenderer::FinishSoon(TRenderResult result) {
  const uint64_t generation = generation_;
  QTimer::singleShot(0, this, [this, generation, result = std::move(result)] {
    if (generation == generation_) emit Finished(result);
  });
}

// Ended at once: the renderer's group is killed and waited for, which takes
// no time since nothing can hold off SIGKILL.
void TPageRenderer::Abandon() {
  if (pid_ > 0) {
    FileCalls().Signal(-pid_, SIGKILL);
    int status = 0;
    RetryOnEintr([&] { return FileCalls().WaitForChild(pid_, &status, 0); });
    pid_ = -1;
  }
  Release();
  if (!renderFolder_.empty()) RemoveRenderFolder(std::exchange(renderFolder_, {}));
}

void TPageRenderer::Release() {
  exitWatch_.reset();
  delete imageNotifier_;
  imageNotifier_ = nullptr;
  delete errorNotifier_;
  errorNotifier_ = nullptr;
  deadline_.reset();
  CloseHandle(imageHandle_);
  CloseHandle(errorHandle_);
  splitter_.reset();
  errorText_.clear();
  enough_ = false;
  pagesWanted_ = 0;
}
