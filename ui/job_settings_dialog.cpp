#include "ui/job_settings_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <optional>
#include <utility>

#include "capture/job_settings.h"
#include "capture/port_definition.h"
#include "ui/job_options_page.h"
#include "ui/message_box.h"
#include "ui/remembered_size.h"
#include "ui/window_style.h"

namespace {

// Fits a 1024x768 screen with its frame; a smaller screen cuts it and the
// pages scroll.
constexpr QSize kDesignSize(640, 720);
constexpr int kEntriesWidth = 150;

constexpr Qt::WindowFlags kResizableDialogFlags =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;

// "Port 9100", and its comment when it has one, as the port list shows it.
QString EntryText(const TPortEntry& port) {
  std::string text = "Port " + port.Port;
  if (!port.Definition.Comments.empty()) text += ": " + port.Definition.Comments;
  return QString::fromStdString(text);
}

// The written options of one port, checked before anything is written.
struct TPortWrite {
  std::string Port;
  TJobSettings Values;
  std::vector<std::string> OwnKeys;
};

}  // namespace

TJobSettingsDialog::TJobSettingsDialog(std::string settingsPath, TReplyRulesCheck checkReplyRules,
                                       QWidget* parent)
    : QDialog(parent),
      settingsPath_(std::move(settingsPath)),
      checkReplyRules_(std::move(checkReplyRules)) {
  SetUpDialog(this, "JobSettings", "Job Settings", kResizableDialogFlags);
  setSizeGripEnabled(true);
  auto* layout = new QVBoxLayout(this);
  auto* body = new QHBoxLayout;
  auto* entries = new QVBoxLayout;
  auto* title = new QLabel("Options &for:", this);
  lbEntries = new QListWidget(this);
  lbEntries->setObjectName("lbEntries");
  lbEntries->setFixedWidth(kEntriesWidth);
  lbEntries->setAccessibleDescription("All ports, then every port of the port list.");
  title->setBuddy(lbEntries);
  entries->addWidget(title);
  entries->addWidget(lbEntries, 1);
  stPages = new QStackedWidget(this);
  stPages->setObjectName("stPages");
  body->addLayout(entries);
  body->addWidget(stPages, 1);
  layout->addLayout(body, 1);

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

  size_ = new TRememberedSize(this, settingsPath_, kSizeSection, kDesignSize);
  AddEntry("All ports");
  SelectEntry(0);
  connect(lbEntries, &QListWidget::currentRowChanged, this,
          [this](int entry) { AtEventEdge(this, [this, entry] { SelectEntry(entry); }); });
}

TJobSettingsDialog::~TJobSettingsDialog() = default;

void TJobSettingsDialog::AddEntry(const QString& text) {
  lbEntries->addItem(text);
  pages_.push_back(nullptr);
  pageAreas_.push_back(nullptr);
}

void TJobSettingsDialog::LoadSettings() {
  settings_ = TIniFile(settingsPath_).Load();
  ports_.clear();
  for (const TPortEntry& port : PortEntries(settings_)) {
    ports_.push_back(port.Port);
    AddEntry(EntryText(port));
  }
  PageOf(0)->Load(TJobSettings::Read(settings_));
  size_->Place();
}

void TJobSettingsDialog::SelectEntry(int entry) {
  if (entry < 0 || entry >= static_cast<int>(pages_.size())) return;
  TJobOptionsPage* page = PageOf(entry);
  page->FollowAllPorts();
  stPages->setCurrentWidget(pageAreas_[static_cast<size_t>(entry)]);
  lbEntries->setCurrentRow(entry);
}

// A port's page is filled from the read the dialog opened with, so every
// page shows the file as it was then.
TJobOptionsPage* TJobSettingsDialog::PageOf(int entry) {
  const auto index = static_cast<size_t>(entry);
  if (pages_[index] != nullptr) return pages_[index];
  TJobOptionsPage* page = nullptr;
  if (entry == 0) {
    page = new TJobOptionsPage(
        [this] {
          return TAfterJobLimits::FromSeconds(TJobSettings::Read(settingsPath_).AfterJobSeconds);
        },
        this);
  } else {
    const std::string port = ports_[index - 1];
    page = new TJobOptionsPage(
        port, pages_[0],
        [this, port] {
          const TIniSnapshot now = TIniFile(settingsPath_).Load();
          return TAfterJobLimits::FromSeconds(TJobSettings::Read(now, port).AfterJobSeconds);
        },
        this);
    page->Load(TJobSettings::Read(settings_, port), PortOwnKeys(settings_, port));
  }
  auto* area = new QScrollArea(this);
  area->setObjectName("saOptions");
  area->setWidgetResizable(true);
  area->setFrameShape(QFrame::NoFrame);
  area->setWidget(page);
  stPages->addWidget(area);
  pages_[index] = page;
  pageAreas_[index] = area;
  return page;
}

// A failure to read or write the file leaves the dialog open, so what the
// operator entered is not lost; the edge shows it in the general error box.
void TJobSettingsDialog::btnOKClick() {
  AtEventEdge(this, [this] {
    if (SaveSettings()) accept();
  });
}

// Every page is checked before anything is written, so that a refused
// field leaves the whole file as it was.
bool TJobSettingsDialog::SaveSettings() {
  const TIniSnapshot now = TIniFile(settingsPath_).Load();
  TJobSettings jobs = TJobSettings::Read(now);
  std::vector<std::string> allKeys;
  if (const std::optional<TFieldError> error = pages_[0]->Read(jobs, allKeys))
    return Refused(0, *error);
  std::vector<TPortWrite> writes;
  for (size_t entry = 1; entry < pages_.size(); ++entry) {
    const TJobOptionsPage* page = pages_[entry];
    if (page == nullptr) continue;
    TPortWrite port{page->Port(), TJobSettings::Read(now, page->Port()),
                    PortOwnKeys(now, page->Port())};
    if (const std::optional<TFieldError> error = page->Read(port.Values, port.OwnKeys))
      return Refused(static_cast<int>(entry), *error);
    const std::string rules =
        port.Values.ReplyRules.empty() ? "" : checkReplyRules_(port.Values.ReplyRules);
    if (!rules.empty())
      return Refused(static_cast<int>(entry), TFieldError{rules, page->ReplyRulesField()});
    writes.push_back(std::move(port));
  }
  jobs.Write(settingsPath_);
  for (const TPortWrite& port : writes)
    port.Values.WritePort(settingsPath_, port.Port, port.OwnKeys);
  return true;
}

// The operator is put back into the field, on its entry's page; a port's
// message says which port it is about.
bool TJobSettingsDialog::Refused(int entry, const TFieldError& error) {
  SelectEntry(entry);
  const auto index = static_cast<size_t>(entry);
  pageAreas_[index]->ensureWidgetVisible(error.Field);
  error.Field->setFocus();
  ShowErrorBox(this,
               entry == 0 ? error.Message : "Port " + pages_[index]->Port() + ": " + error.Message);
  return false;
}

void TJobSettingsDialog::done(int result) {
  for (TJobOptionsPage* page : pages_)
    if (page != nullptr) page->AbandonTry();
  AtEventEdge(this, [this] { size_->SaveIfResized(); });
  QDialog::done(result);
}
