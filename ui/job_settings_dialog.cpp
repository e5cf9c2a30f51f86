#include "ui/job_settings_dialog.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <exception>
#include <utility>

#include "base/whole_file.h"
#include "capture/after_job.h"
#include "capture/job_settings.h"
#include "ui/message_box.h"
#include "ui/window_style.h"

namespace {

constexpr int kExplanationIndent = 20;
constexpr int kWidth = 420;

constexpr const char* kOneFilePerJobText =
    "Every job gets a file of its own. When the name from the file format is "
    "taken, the job gets <name>-2.txt, <name>-3.txt, and so on, so Overwrite "
    "empties nothing.";
constexpr const char* kJobIndexText =
    "Every finished job adds one line to jobs.csv in its port's directory: start, "
    "end, port, peer address, peer port, bytes, file and outcome. The line is "
    "written once the capture file is final.";

constexpr const char* kAfterJobText =
    "A command line run by /bin/sh after every finished job, in the capture "
    "directory. The job is in TARNOCK_FILE, TARNOCK_PORT, TARNOCK_PEER, "
    "TARNOCK_PEER_PORT, TARNOCK_BYTES, TARNOCK_STARTED, TARNOCK_ENDED and "
    "TARNOCK_OUTCOME. Empty runs nothing.";
constexpr const char* kNotifyText =
    "Every finished job shows a desktop notification with an Open button; "
    "a burst shows one notification with the number of jobs.";
constexpr const char* kSampleBytes = "Sample job\n";
constexpr int kTryResultLines = 8;

}  // namespace

TJobSettingsDialog::TJobSettingsDialog(std::string settingsPath, QWidget* parent)
    : QDialog(parent), settingsPath_(std::move(settingsPath)) {
  setObjectName("JobSettings");
  setWindowTitle("Job Settings");
  ApplyDesignFont(this);
  auto* layout = new QVBoxLayout(this);
  AddOption(cbOneFilePerJob, "cbOneFilePerJob", "One file per job", kOneFilePerJobText);
  AddOption(cbJobIndex, "cbJobIndex", "Job index", kJobIndexText);

  AddAfterJobField();
  AddOption(cbNotify, "cbNotify", "Desktop notification", kNotifyText);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  btnOK = new QPushButton("OK", this);
  btnOK->setObjectName("btnOK");
  btnOK->setDefault(true);
  btnCancel = new QPushButton("Cancel", this);
  btnCancel->setObjectName("btnCancel");
  buttons->addWidget(btnOK);
  buttons->addWidget(btnCancel);
  layout->addLayout(buttons);
  connect(btnOK, &QPushButton::clicked, this, [this] { btnOKClick(); });
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  setWindowFlags(kFixedDialogFlags);
  setFixedWidth(kWidth);
  setFixedHeight(sizeHint().height());
}

TJobSettingsDialog::~TJobSettingsDialog() = default;

void TJobSettingsDialog::AddAfterJobField() {
  auto* title = new QLabel("After-job command:", this);
  edAfterJob = new QLineEdit(this);
  edAfterJob->setObjectName("edAfterJob");
  title->setBuddy(edAfterJob);
  btnTryAfterJob = new QPushButton("Try", this);
  btnTryAfterJob->setObjectName("btnTryAfterJob");
  auto* row = new QHBoxLayout;
  row->addWidget(edAfterJob);
  row->addWidget(btnTryAfterJob);
  auto* text = new QLabel(kAfterJobText, this);
  text->setTextFormat(Qt::PlainText);
  text->setWordWrap(true);
  text->setContentsMargins(kExplanationIndent, 0, 0, 0);
  lblTryResult = new QLabel(this);
  lblTryResult->setObjectName("lblTryResult");
  lblTryResult->setTextFormat(Qt::PlainText);
  lblTryResult->setWordWrap(true);
  lblTryResult->setContentsMargins(kExplanationIndent, 0, 0, 0);
  lblTryResult->hide();
  auto* box = static_cast<QVBoxLayout*>(layout());
  box->addWidget(title);
  box->addLayout(row);
  box->addWidget(text);
  box->addWidget(lblTryResult);
  connect(btnTryAfterJob, &QPushButton::clicked, this, [this] { btnTryAfterJobClick(); });
}

// The sample job is a small file of its own in a temporary folder, so that
// a command that moves or deletes its file harms no capture.
void TJobSettingsDialog::btnTryAfterJobClick() {
  const std::string command = edAfterJob->text().toStdString();
  if (command.empty()) {
    ShowTryResult("No command to try.");
    return;
  }
  tryRun_.reset();
  tryFolder_ = std::make_unique<QTemporaryDir>();
  TJobRecord sample;
  sample.Start = sample.End = std::chrono::system_clock::now();
  sample.Port = "9100";
  sample.PeerAddress = "127.0.0.1";
  sample.PeerPort = 50000;
  sample.Folder = tryFolder_->path().toStdString() + "/";
  sample.FileName = sample.Folder + "sample.txt";
  sample.BytesStored = static_cast<int64_t>(std::char_traits<char>::length(kSampleBytes));
  try {
    ReplaceWholeFile(sample.FileName, kSampleBytes, 0644);
  } catch (const std::exception& failure) {
    ShowTryResult(failure.what());
    return;
  }
  tryOutput_.clear();
  int lines = 0;
  tryRun_ = std::make_unique<TAfterJobRun>(
      sample, command, TJobSettings::Read(settingsPath_).AfterJobSeconds,
      [this, lines](const std::string& line) mutable {
        if (++lines <= kTryResultLines) tryOutput_ += "\n" + line;
      },
      [this](TAfterJobRun& run) {
        ShowTryResult((run.Failure().empty() ? std::string("Ran: exit status 0")
                                             : "Failed: " + run.Failure()) +
                      tryOutput_);
      });
  if (!tryRun_->Start()) {
    ShowTryResult("Failed: " + tryRun_->Failure());
    return;
  }
  ShowTryResult("Running on " + sample.FileName + " ...");
}

void TJobSettingsDialog::ShowTryResult(const std::string& text) {
  lblTryResult->setText(QString::fromStdString(text));
  lblTryResult->show();
  setFixedHeight(sizeHint().height());
}

void TJobSettingsDialog::AddOption(QCheckBox*& box, const char* name, const char* title,
                                   const char* explanation) {
  box = new QCheckBox(title, this);
  box->setObjectName(name);
  auto* text = new QLabel(explanation, this);
  text->setTextFormat(Qt::PlainText);
  text->setWordWrap(true);
  text->setContentsMargins(kExplanationIndent, 0, 0, 0);
  layout()->addWidget(box);
  layout()->addWidget(text);
}

void TJobSettingsDialog::LoadSettings() {
  const TJobSettings jobs = TJobSettings::Read(settingsPath_);
  cbOneFilePerJob->setChecked(jobs.OneFilePerJob);
  cbJobIndex->setChecked(jobs.JobIndex);

  edAfterJob->setText(QString::fromStdString(jobs.AfterJob));
  cbNotify->setChecked(jobs.Notify);
}

void TJobSettingsDialog::btnOKClick() {
  TJobSettings jobs;
  jobs.OneFilePerJob = cbOneFilePerJob->isChecked();
  jobs.JobIndex = cbJobIndex->isChecked();

  jobs.AfterJob = edAfterJob->text().toStdString();
  jobs.Notify = cbNotify->isChecked();
  // The limits have no field; they stay as the file has them.
  const TJobSettings kept = TJobSettings::Read(settingsPath_);
  jobs.AfterJobParallel = kept.AfterJobParallel;
  jobs.AfterJobSeconds = kept.AfterJobSeconds;
  try {
    jobs.Write(settingsPath_);
  } catch (const std::exception& failure) {
    ShowGeneralErrorBox(this, failure.what());
    return;
  }
  accept();
}
