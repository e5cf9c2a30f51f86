#include "ui/job_settings_dialog.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <exception>
#include <optional>
#include <utility>

#include "base/text.h"
#include "capture/job_settings.h"
#include "jobs/sender_filter.h"
#include "ui/after_job_try.h"
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

constexpr const char* kAllowedSendersText =
    "Only these addresses may send: IPv4 addresses and blocks, separated by commas, "
    "for example 192.168.1.0/24, 10.0.0.7. Anybody else is reset at once and the port "
    "log says so. Empty: anybody.";
constexpr const char* kMaxJobBytesText =
    "A job keeps at most this many bytes; then its connection is closed and the "
    "message log says where it was cut. 0: no limit.";
constexpr const char* kIdleSecondsText =
    "A connection that sends nothing for this many seconds is closed like a peer's "
    "close. 0: no limit.";
constexpr const char* kDeleteAfterDaysText =
    "Captures last changed more than their port's Days ago are deleted, at every start "
    "and every hour. Only names the port's file format makes are touched, never a file "
    "a connection still writes; ports with Days 0 keep everything.";
constexpr const char* kAfterJobText =
    "A command line run by /bin/sh after every finished job, in the capture "
    "directory. The job is in TARNOCK_FILE, TARNOCK_PORT, TARNOCK_PEER, "
    "TARNOCK_PEER_PORT, TARNOCK_BYTES, TARNOCK_STARTED, TARNOCK_ENDED and "
    "TARNOCK_OUTCOME. Empty runs nothing.";
constexpr const char* kNotifyText =
    "Every finished job shows a desktop notification with an Open button; "
    "a burst shows one notification with the number of jobs.";

}  // namespace

TJobSettingsDialog::TJobSettingsDialog(std::string settingsPath, QWidget* parent)
    : QDialog(parent), settingsPath_(std::move(settingsPath)) {
  SetUpDialog(this, "JobSettings", "Job Settings");
  auto* layout = new QVBoxLayout(this);
  AddOption(cbOneFilePerJob, "cbOneFilePerJob", "One file per job", kOneFilePerJobText);
  AddOption(cbJobIndex, "cbJobIndex", "Job index", kJobIndexText);
  AddLimitFields();

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
  setFixedWidth(kWidth);
  FitHeight();
}

TJobSettingsDialog::~TJobSettingsDialog() { AbandonTry(); }

// The wrapped explanations need as many lines as the fixed width leaves
// them; the plain size hint assumes another width and clips them.
void TJobSettingsDialog::FitHeight() {
  const QLayout* box = layout();
  setFixedHeight(box->hasHeightForWidth() ? box->totalHeightForWidth(kWidth) : sizeHint().height());
}

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
  lblTryResult = ExplanationLabel("");
  lblTryResult->setObjectName("lblTryResult");
  lblTryResult->hide();
  auto* box = static_cast<QVBoxLayout*>(layout());
  box->addWidget(title);
  box->addLayout(row);
  AddExplanation(kAfterJobText);
  box->addWidget(lblTryResult);
  // Try reads the settings file for the time limit: a failure there is
  // shown like every other handler's.
  connect(btnTryAfterJob, &QPushButton::clicked, this,
          [this] { AtEventEdge(this, [this] { btnTryAfterJobClick(); }); });
}

// One command at a time: while it runs, the button stops it.
void TJobSettingsDialog::btnTryAfterJobClick() {
  if (try_ != nullptr && try_->Running()) {
    try_->Stop();
    ShowTryResult("Stopping ...");
    return;
  }
  const std::string command = edAfterJob->text().toStdString();
  if (command.empty()) {
    ShowTryResult("No command to try.");
    return;
  }
  try_ = std::make_unique<TAfterJobTry>(
      command, TAfterJobLimits::FromSeconds(TJobSettings::Read(settingsPath_).AfterJobSeconds),
      [this](const std::string& result) { TryEnded(result); });
  ShowTryResult(try_->Start());
  if (try_->Running()) btnTryAfterJob->setText("Stop");
}

void TJobSettingsDialog::TryEnded(const std::string& result) {
  btnTryAfterJob->setText("Try");
  ShowTryResult(result);
}

void TJobSettingsDialog::done(int result) {
  AbandonTry();
  QDialog::done(result);
}

// The command is stopped and reaped, and its folder removed, without the
// dialog.
void TJobSettingsDialog::AbandonTry() {
  TAfterJobTry::Abandon(std::move(try_));
  btnTryAfterJob->setText("Try");
}

void TJobSettingsDialog::ShowTryResult(const std::string& text) {
  lblTryResult->setText(QString::fromStdString(text));
  lblTryResult->show();
  FitHeight();
}

void TJobSettingsDialog::AddOption(QCheckBox*& box, const char* name, const char* title,
                                   const char* explanation) {
  box = new QCheckBox(title, this);
  box->setObjectName(name);
  layout()->addWidget(box);
  AddExplanation(explanation);
}

void TJobSettingsDialog::LoadSettings() {
  const TJobSettings jobs = TJobSettings::Read(settingsPath_);
  cbOneFilePerJob->setChecked(jobs.OneFilePerJob);
  cbJobIndex->setChecked(jobs.JobIndex);
  eAllowedSenders->setText(QString::fromStdString(jobs.AllowedSenders));
  eMaxJobBytes->setText(QString::fromStdString(FormatInteger(jobs.MaxJobBytes)));
  eIdleSeconds->setValue(jobs.IdleSeconds);
  cbDeleteAfterDays->setChecked(jobs.DeleteAfterDays);

  edAfterJob->setText(QString::fromStdString(jobs.AfterJob));
  cbNotify->setChecked(jobs.Notify);
}

// A failure to read or write the file leaves the dialog open, so what the
// operator entered is not lost; the edge shows it in the general error box.
void TJobSettingsDialog::btnOKClick() {
  AtEventEdge(this, [this] {
    if (SaveSettings()) accept();
  });
}

bool TJobSettingsDialog::SaveSettings() {
  TJobSettings jobs;
  jobs.OneFilePerJob = cbOneFilePerJob->isChecked();
  jobs.JobIndex = cbJobIndex->isChecked();
  if (!ReadLimitFields(jobs)) return false;

  jobs.AfterJob = edAfterJob->text().toStdString();
  jobs.Notify = cbNotify->isChecked();
  // The limits have no field; they stay as the file has them.
  const TJobSettings kept = TJobSettings::Read(settingsPath_);
  jobs.AfterJobParallel = kept.AfterJobParallel;
  jobs.AfterJobSeconds = kept.AfterJobSeconds;
  jobs.Write(settingsPath_);
  return true;
}

// ---------------------------------------------------------------------------
// Limits

void TJobSettingsDialog::AddLimitFields() {
  eAllowedSenders = new QLineEdit(this);
  AddField(eAllowedSenders, "eAllowedSenders", "Allowed senders:", kAllowedSendersText);
  eMaxJobBytes = new QLineEdit(this);
  AddField(eMaxJobBytes, "eMaxJobBytes", "Size limit (bytes):", kMaxJobBytesText);
  eIdleSeconds = new QSpinBox(this);
  eIdleSeconds->setRange(0, TJobSettings::kMaxTimerSeconds);
  AddField(eIdleSeconds, "eIdleSeconds", "Idle limit (seconds):", kIdleSecondsText);
  AddOption(cbDeleteAfterDays, "cbDeleteAfterDays", "Delete captures after Days",
            kDeleteAfterDaysText);
}

// A titled row with the field, then the explanation below it.
void TJobSettingsDialog::AddField(QWidget* field, const char* name, const char* title,
                                  const char* explanation) {
  field->setObjectName(name);
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel(title, this));
  row->addWidget(field, 1);
  static_cast<QVBoxLayout*>(layout())->addLayout(row);
  AddExplanation(explanation);
}

void TJobSettingsDialog::AddExplanation(const char* explanation) {
  layout()->addWidget(ExplanationLabel(explanation));
}

// Plain, wrapped and indented under the option it explains.
QLabel* TJobSettingsDialog::ExplanationLabel(const char* explanation) {
  auto* text = new QLabel(explanation, this);
  text->setTextFormat(Qt::PlainText);
  text->setWordWrap(true);
  text->setContentsMargins(kExplanationIndent, 0, 0, 0);
  return text;
}

bool TJobSettingsDialog::ReadLimitFields(TJobSettings& jobs) {
  jobs.AllowedSenders = TrimBlanks(eAllowedSenders->text().toStdString());
  const TSenderFilter senders(jobs.AllowedSenders);
  if (!senders.Malformed().empty()) {
    ShowErrorBox(this, "'" + senders.Malformed().front() +
                           "' is not an IPv4 address or a block such as 192.168.1.0/24");
    return false;
  }
  const std::string size = TrimBlanks(eMaxJobBytes->text().toStdString());
  const std::optional<int64_t> limit = size.empty() ? 0 : ParseJobLimit(size);
  if (!limit) {
    ShowErrorBox(this, "'" + size + "' is not a size in bytes");
    return false;
  }
  jobs.MaxJobBytes = *limit;
  jobs.IdleSeconds = eIdleSeconds->value();
  jobs.DeleteAfterDays = cbDeleteAfterDays->isChecked();
  return true;
}
