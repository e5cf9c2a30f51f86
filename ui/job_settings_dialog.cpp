#include "ui/job_settings_dialog.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <exception>
#include <utility>

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

}  // namespace

TJobSettingsDialog::TJobSettingsDialog(std::string settingsPath, QWidget* parent)
    : QDialog(parent), settingsPath_(std::move(settingsPath)) {
  setObjectName("JobSettings");
  setWindowTitle("Job Settings");
  ApplyDesignFont(this);
  auto* layout = new QVBoxLayout(this);
  AddOption(cbOneFilePerJob, "cbOneFilePerJob", "One file per job", kOneFilePerJobText);
  AddOption(cbJobIndex, "cbJobIndex", "Job index", kJobIndexText);

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
}

void TJobSettingsDialog::btnOKClick() {
  TJobSettings jobs;
  jobs.OneFilePerJob = cbOneFilePerJob->isChecked();
  jobs.JobIndex = cbJobIndex->isChecked();
  try {
    jobs.Write(settingsPath_);
  } catch (const std::exception& failure) {
    ShowGeneralErrorBox(this, failure.what());
    return;
  }
  accept();
}
