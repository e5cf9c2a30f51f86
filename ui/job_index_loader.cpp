#include "ui/job_index_loader.h"

#include <QMetaObject>
#include <utility>

#include "base/exceptions.h"

TJobIndexLoader::TJobIndexLoader(TDone done, QObject* parent)
    : QObject(parent), done_(std::move(done)) {}

TJobIndexLoader::~TJobIndexLoader() {
  stop_ = true;
  if (worker_.joinable()) worker_.join();
}

TJobIndexLoader::TResult TJobIndexLoader::LoadAll(const std::vector<std::string>& folders,
                                                  const std::function<bool()>& stopRequested) {
  TResult result;
  for (const std::string& folder : folders) {
    if (stopRequested && stopRequested()) break;
    TJobHistory history;
    try {
      history.Load(folder, stopRequested);
      result.Histories.push_back(std::move(history));
    } catch (const EJobIndexLoadStopped&) {
      break;
    } catch (const Exception& error) {
      result.Failures.push_back("Job index " + TJobHistory::IndexPathIn(folder) + ": " +
                                error.Message());
    } catch (const std::exception& error) {
      result.Failures.push_back("Job index " + TJobHistory::IndexPathIn(folder) + ": " +
                                error.what());
    }
  }
  return result;
}

void TJobIndexLoader::Start(std::vector<std::string> folders) {
  if (running_) return;
  if (worker_.joinable()) worker_.join();
  running_ = true;
  worker_ = std::thread([this, folders = std::move(folders)] {
    TResult result = LoadAll(folders, [this] { return stop_.load(); });
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      result_ = std::move(result);
    }
    // The destructor joins this thread before the object goes, so the
    // object is there to post to; a posted call it never ran goes with it.
    QMetaObject::invokeMethod(
        this, [this] { Deliver(); }, Qt::QueuedConnection);
  });
}

void TJobIndexLoader::Deliver() {
  TResult result;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    result = std::move(result_);
    result_ = {};
  }
  running_ = false;
  if (worker_.joinable()) worker_.join();
  done_(std::move(result));
}
