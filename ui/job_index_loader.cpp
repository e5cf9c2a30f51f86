#include "ui/job_index_loader.h"

#include <QMetaObject>
#include <exception>
#include <utility>

TJobIndexLoader::TJobIndexLoader(TDone done, QObject* parent)
    : QObject(parent), done_(std::move(done)) {}

TJobIndexLoader::~TJobIndexLoader() {
  stop_ = true;
  if (worker_.joinable()) worker_.join();
}

TJobIndexLoader::TResult TJobIndexLoader::LoadAll(const std::vector<std::string>& folders,
                                                  const std::function<bool()>& stopRequested) {
  TResult result;
  // One history for every index: Load leaves out the jobs an earlier index
  // brought, and an index that fails leaves the history as it was, so the
  // UI thread has one merge to do.
  TJobHistory& history = result.History;
  for (const std::string& folder : folders) {
    if (stopRequested && stopRequested()) break;
    try {
      history.Load(folder, stopRequested);
    } catch (const EJobIndexLoadStopped&) {
      break;
    } catch (const std::exception& error) {
      result.Failures.push_back("Job index " + TJobHistory::IndexPathIn(folder) + ": " +
                                error.what());
    }
  }
  return result;
}

void TJobIndexLoader::Start(std::vector<std::string> folders) {
  if (Running()) return;
  worker_ = std::thread([this, folders = std::move(folders)] {
    TResult result = LoadAll(folders, [this] { return stop_.load(); });
    // The destructor joins this thread before the object goes, so the
    // object is there to post to; a posted call it never ran goes with it.
    QMetaObject::invokeMethod(
        this, [this, result = std::move(result)]() mutable { Deliver(std::move(result)); },
        Qt::QueuedConnection);
  });
}

void TJobIndexLoader::Deliver(TResult result) {
  worker_.join();
  done_(std::move(result));
}
