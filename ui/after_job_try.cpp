#include "ui/after_job_try.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTemporaryDir>
#include <exception>
#include <utility>

#include "base/whole_file.h"

namespace {

constexpr const char* kSampleBytes = "Sample job\n";

TJob SampleJob(const std::string& folder) {
  TJob sample;
  sample.Start = sample.End = std::chrono::system_clock::now();
  sample.Port = "9100";
  sample.PeerAddress = "127.0.0.1";
  sample.PeerPort = 50000;
  sample.Folder = folder + "/";
  sample.FileName = sample.Folder + "sample.txt";
  sample.Bytes = static_cast<int64_t>(std::char_traits<char>::length(kSampleBytes));
  sample.FileSize = sample.Bytes;
  return sample;
}

std::string Result(const TAfterJobRun& run) {
  if (run.Stopped()) return "Stopped: " + run.Ending();
  if (run.Failure().empty()) return "Ran: exit status 0";
  return "Failed: " + run.Failure();
}

}  // namespace

TAfterJobTry::TAfterJobTry(std::string command, TAfterJobLimits limits, TEnded ended)
    : command_(std::move(command)), limits_(limits), ended_(std::move(ended)) {}

TAfterJobTry::~TAfterJobTry() = default;

std::string TAfterJobTry::Start() {
  folder_ = std::make_unique<QTemporaryDir>();
  if (!folder_->isValid())
    return "Failed: cannot make a temporary folder: " + folder_->errorString().toStdString();
  const TJob sample = SampleJob(folder_->path().toStdString());
  try {
    ReplaceWholeFile(sample.FileName, kSampleBytes, 0644);
  } catch (const std::exception& failure) {
    folder_.reset();
    return failure.what();
  }
  // Each output line is shown on a line of its own.
  run_ = std::make_unique<TAfterJobRun>(
      sample, command_, limits_, 1,
      [this](const std::string& line) {
        if (++outputLines_ <= kResultLines) output_ += "\n" + line;
      },
      [this](TAfterJobRun& run) { Ended(run); });
  if (!run_->Start()) {
    folder_.reset();
    return "Failed: " + run_->Failure();
  }
  return "Running on " + sample.FileName + " ...";
}

bool TAfterJobTry::Running() const { return run_ != nullptr && !run_->Finished(); }

void TAfterJobTry::Stop() {
  if (Running()) run_->Stop();
}

// The command has been reaped: its folder may go now.
void TAfterJobTry::Ended(TAfterJobRun& run) {
  folder_.reset();
  if (ended_) {
    ended_(Result(run) + output_);
    return;
  }
  // Not from inside the run's own call.
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [self = QPointer<TAfterJobTry>(this)] { delete self.data(); },
      Qt::QueuedConnection);
}

void TAfterJobTry::Abandon(std::unique_ptr<TAfterJobTry> abandoned) {
  if (abandoned == nullptr || !abandoned->Running()) return;
  TAfterJobTry* left = abandoned.release();
  left->ended_ = nullptr;
  left->Stop();
  // A quit before the command ends kills it; the end of the event loop
  // still deletes what is queued for deletion.
  QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, left,
                   [left] { left->deleteLater(); });
}
