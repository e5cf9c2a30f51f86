#pragma once

#include <sys/types.h>

#include <QObject>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "preview/printer_language.h"

class QSocketNotifier;
class TExitWatch;
class TGroupDeadline;
class TPngSplitter;

// What to draw and how far the renderer may go.
struct TRenderRequest {
  std::string capture;
  TPrinterLanguage language = TPrinterLanguage::Text;
  // The command named for the language (Renderer.<language>=); empty for
  // the built-in choice.
  std::string userCommand;
  std::string cacheFolder;
  std::chrono::milliseconds timeLimit{30000};
  uint64_t memoryLimitBytes = 1ull << 30;
  int resolutionDpi = 100;
  // Ghostscript stops after this page, so a person sees the first page of a
  // long job in the time that page takes; 0 draws every page. A user's
  // command always draws what it draws.
  int lastPage = 0;
};

struct TRenderResult {
  // The pages' PNG files, in order.
  std::vector<std::string> pages;
  // Empty when the capture was drawn; else the preview's line saying why not.
  std::string failure;
};

// Draws a capture's pages with an external program, which runs as a process
// group of its own under the request's time and memory limits: Ghostscript
// for PostScript and PDF (PJL-wrapped too), or the user's command for any
// language, which reads the capture on standard input and writes PNG images
// on standard output. The caller's thread never waits: the program is
// started, read and reaped through the event loop, and Finished comes once
// per Start, later, even for pages found in the cache or a request that
// fails at once.
class TPageRenderer : public QObject {
  Q_OBJECT

 public:
  // Between SIGTERM and SIGKILL when a renderer is stopped.
  static constexpr std::chrono::milliseconds kKillGrace{1000};

  explicit TPageRenderer(QObject* parent = nullptr);
  // A render under way is ended with everything it started.
  ~TPageRenderer() override;

  // Starts a render; one still under way is ended first, and its Finished
  // never comes.
  void Start(const TRenderRequest& request);
  bool Running() const { return pid_ > 0; }

 signals:
  void Finished(const TRenderResult& result);

 private:
  struct TCommand;
  static TCommand CommandFor(const TRenderRequest& request, const std::string& program,
                             const std::string& folder);

  void Begin(const TRenderRequest& request);
  bool Spawn(const TCommand& command, int captureHandle);
  void WatchExit();
  void ReadImages();
  void ReadErrors();
  void StopEarly();
  void Reap();
  std::string Outcome(int status);
  void Conclude(TRenderResult result);
  void FinishSoon(TRenderResult result);
  void Abandon();
  void Release();

  std::string rendererName_;
  std::chrono::milliseconds timeLimit_{0};
  std::string renderFolder_;
  std::string keyFolder_;
  pid_t pid_ = -1;
  int imageHandle_ = -1;
  int errorHandle_ = -1;
  QSocketNotifier* imageNotifier_ = nullptr;
  QSocketNotifier* errorNotifier_ = nullptr;
  std::unique_ptr<TExitWatch> exitWatch_;
  std::unique_ptr<TGroupDeadline> deadline_;
  std::unique_ptr<TPngSplitter> splitter_;
  std::string errorText_;
  // Ghostscript asked for the first pages only: once this many are drawn it
  // is stopped (enough_), and they are the result.
  std::size_t pagesWanted_ = 0;
  bool enough_ = false;
  // Counts the Starts, so a Finished queued for an abandoned one is dropped.
  uint64_t generation_ = 0;
};
