#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "jobs/job_history.h"

// Reads the ports' job indexes on a thread of its own, all into one history,
// and hands it to the UI thread when all are read, so a long index never
// holds up the window. Destroying the loader stops a read in
// progress at its next line and waits for the thread, so closing the
// program while it reads neither hangs nor leaves the thread behind.
class TJobIndexLoader : public QObject {
 public:
  struct TResult {
    // The jobs of every index that could be read.
    TJobHistory History;
    // "Job index <path>: <message>", one per index that could not be read.
    std::vector<std::string> Failures;
  };
  // Called on the UI thread, once per Start.
  using TDone = std::function<void(TResult result)>;

  TJobIndexLoader(TDone done, QObject* parent = nullptr);
  ~TJobIndexLoader() override;

  // Reads the indexes in the folders; nothing when a read is still running.
  void Start(std::vector<std::string> folders);
  // From Start until the result is handed over.
  bool Running() const { return worker_.joinable(); }

  // The reads, on the calling thread; the thread's body.
  static TResult LoadAll(const std::vector<std::string>& folders,
                         const std::function<bool()>& stopRequested = {});

 private:
  // On the UI thread: the worker has finished; its result goes to done_.
  void Deliver(TResult result);

  TDone done_;
  std::thread worker_;
  std::atomic<bool> stop_{false};
};
