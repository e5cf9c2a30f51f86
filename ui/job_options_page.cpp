#include "ui/job_options_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <algorithm>
#include <utility>

#include "base/text.h"
#include "jobs/sender_filter.h"
#include "preview/renderer_choice.h"

namespace {

constexpr int kExplanationIndent = 20;
// The grid's columns: the title (or a check box spanning title and field),
// the field, and "Own value" on a port's page.
constexpr int kTitleColumn = 0;
constexpr int kFieldColumn = 1;
constexpr int kOwnColumn = 2;

constexpr const char* kAllPortsHeading =
    "Options for every port. A port's page can give the port values of its own.";
constexpr const char* kPortHeading =
    "Options for port %1 alone. An option without Own value follows All ports and shows its "
    "value.";
constexpr const char* kOwnValueText =
    "Ticked: the port has a value of its own. Clear: it follows All ports.";

constexpr const char* kOneFilePerJobText =
    "Every job gets a file of its own. When the name from the file format is "
    "taken, the job gets <name>-2.txt, <name>-3.txt, and so on, so Overwrite "
    "empties nothing.";
constexpr const char* kJobIndexText =
    "Every finished job adds one line to jobs.csv in its port's directory: start, "
    "end, port, peer address, peer port, bytes, file, outcome and status queries "
    "answered. The line is "
    "written once the capture file is final.";
constexpr const char* kAllowedSendersText =
    "Only these addresses may send: IPv4 and IPv6 addresses and blocks, separated by "
    "commas, for example 192.168.1.0/24, 10.0.0.7, fd00::/8. Anybody else is reset at once and the "
    "port "
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

constexpr const char* kRepliesText =
    "The printer language whose status queries this port answers, as a printer of "
    "that language in the state below would: escpos (receipt printers), zpl (label "
    "printers) or pjl. "
    "The capture still holds every byte the client sent. none: the port never sends "
    "a byte.";
constexpr const char* kPrinterStateText =
    "The state the status replies report, so that a client's handling of paper out, "
    "an open cover or an offline printer can be tried without a real printer.";
constexpr const char* kReplyRulesText =
    "Replies of your own, for queries no language above knows; they are checked first. "
    "Each rule is pattern => reply, each side hex bytes and \"quoted text\", rules "
    "separated by ;, for example 1B 76 => 00; \"PING\" => \"PONG\" 0D 0A. Empty: none.";

constexpr const char* kRenderersText =
    "Commands that draw the pages of a capture in the job list's preview: each reads the capture "
    "on standard input and writes PNG images on standard output, and runs with a time and a "
    "memory limit. Empty: PostScript and PDF go to Ghostscript, ESC/POS is drawn as a receipt, "
    "and the other languages show their text and bytes only. Tarnock never sends a capture off "
    "this machine itself.";

// The languages a renderer can be named for in the dialog; the others by
// hand.
constexpr TPrinterLanguage kRendererLanguages[] = {
    TPrinterLanguage::Zpl, TPrinterLanguage::Pcl, TPrinterLanguage::EscPos,
    TPrinterLanguage::PostScript, TPrinterLanguage::Pdf};

// What an empty Replies or PrinterState means; the first choice of each.
constexpr const char* kNoReplies = "none";
constexpr const char* kReadyPrinter = "ready";

// A title without its access key marker: how the option is named elsewhere.
QString PlainTitle(const char* title) {
  QString plain = QString::fromUtf8(title).remove('&');
  if (plain.endsWith(':')) plain.chop(1);
  return plain;
}

// The field shows an option as SharedEntries writes it.
void ShowText(QWidget* field, const std::string& text) {
  if (auto* box = qobject_cast<QCheckBox*>(field)) {
    box->setChecked(text != "0");
  } else if (auto* edit = qobject_cast<QLineEdit*>(field)) {
    edit->setText(QString::fromStdString(text));
  } else if (auto* spin = qobject_cast<QSpinBox*>(field)) {
    spin->setValue(ParseIntegerOr(text, 0));
  }
}

// Fields of the same kind: what one shows, the other shows too.
void CopyValue(const QWidget* from, QWidget* to) {
  if (auto* box = qobject_cast<QCheckBox*>(to)) {
    box->setChecked(qobject_cast<const QCheckBox*>(from)->isChecked());
  } else if (auto* edit = qobject_cast<QLineEdit*>(to)) {
    edit->setText(qobject_cast<const QLineEdit*>(from)->text());
  } else if (auto* spin = qobject_cast<QSpinBox*>(to)) {
    spin->setValue(qobject_cast<const QSpinBox*>(from)->value());
  }
}

// A value the file holds that is none of the choices is shown as it is, as
// a choice of its own, so that OK writes it back unchanged.
void ShowChoice(QComboBox* choice, const std::string& value, const char* whenEmpty) {
  const QString shown = QString::fromStdString(value.empty() ? whenEmpty : value);
  int index = choice->findText(shown, Qt::MatchExactly);
  if (index < 0) {
    choice->addItem(shown);
    index = choice->count() - 1;
  }
  choice->setCurrentIndex(index);
}

// The empty value stays empty while the choice is its meaning.
std::string ChosenValue(const QComboBox* choice, const std::string& inFile, const char* whenEmpty) {
  const std::string chosen = choice->currentText().toStdString();
  return inFile.empty() && chosen == whenEmpty ? std::string() : chosen;
}

bool SameKey(std::string_view a, std::string_view b) { return SameTextIgnoringCase(a, b); }

// The key keeps its spelling in the file; a key the file lacks is added
// only for a command, so a file without renderers stays without their keys.
void StoreRenderer(TJobSettings& values, const std::string& key, const QString& text) {
  const std::string command = TrimBlanks(text.toStdString());
  for (auto& [name, value] : values.Renderers) {
    if (!SameKey(name, key)) continue;
    value = command;
    return;
  }
  if (!command.empty()) values.Renderers.emplace_back(key, command);
}

}  // namespace

TJobOptionsPage::TJobOptionsPage(TAfterJobTryRow::TLimitsSource limits, QWidget* parent)
    : QWidget(parent) {
  Build(std::move(limits));
}

TJobOptionsPage::TJobOptionsPage(std::string port, const TJobOptionsPage* allPorts,
                                 TAfterJobTryRow::TLimitsSource limits, QWidget* parent)
    : QWidget(parent), port_(std::move(port)), allPorts_(allPorts) {
  Build(std::move(limits));
}

TJobOptionsPage::~TJobOptionsPage() { AbandonTry(); }

void TJobOptionsPage::Build(TAfterJobTryRow::TLimitsSource limits) {
  grid_ = new QGridLayout(this);
  grid_->setColumnStretch(kFieldColumn, 1);
  AddHeading(IsAllPorts() ? QString(kAllPortsHeading)
                          : QString(kPortHeading).arg(QString::fromStdString(port_)));
  AddFlag("OneFilePerJob", "cbOneFilePerJob", "&One file per job", kOneFilePerJobText,
          &TJobSettings::OneFilePerJob);
  AddFlag("JobIndex", "cbJobIndex", "Job &index", kJobIndexText, &TJobSettings::JobIndex);
  AddLimitFields();
  AddAfterJobField(std::move(limits));
  AddFlag("Notify", "cbNotify", "Desktop &notification", kNotifyText, &TJobSettings::Notify);
  if (IsAllPorts())
    AddRendererFields();
  else
    AddReplyFields();
  grid_->setRowStretch(grid_->rowCount(), 1);
}

void TJobOptionsPage::AddHeading(const QString& text) {
  auto* heading = new QLabel(text, this);
  heading->setTextFormat(Qt::PlainText);
  heading->setWordWrap(true);
  QFont bold = heading->font();
  bold.setBold(true);
  heading->setFont(bold);
  grid_->addWidget(heading, grid_->rowCount(), kTitleColumn, 1, kOwnColumn + 1);
}

QCheckBox* TJobOptionsPage::AddFlag(const char* key, const char* name, const char* title,
                                    const char* explanation, bool TJobSettings::*flag) {
  auto* box = new QCheckBox(title, this);
  box->setObjectName(name);
  AddRow(nullptr, box, key, explanation, [box, flag](TJobSettings& values) {
    values.*flag = box->isChecked();
    return std::string();
  });
  return box;
}

// A titled field: the title is the field's label, so that a screen reader
// names the field by it and its access key moves there.
void TJobOptionsPage::AddField(QWidget* field, const char* key, const char* name, const char* title,
                               const char* explanation,
                               std::function<std::string(TJobSettings&)> store) {
  field->setObjectName(name);
  auto* label = new QLabel(title, this);
  label->setBuddy(field);
  AddRow(label, field, key, explanation, std::move(store));
}

void TJobOptionsPage::AddRow(QWidget* title, QWidget* field, const char* key,
                             const char* explanation,
                             std::function<std::string(TJobSettings&)> store, QLayout* cell) {
  const int row = grid_->rowCount();
  if (title != nullptr) {
    grid_->addWidget(title, row, kTitleColumn);
    if (cell != nullptr)
      grid_->addLayout(cell, row, kFieldColumn);
    else
      grid_->addWidget(field, row, kFieldColumn);
  } else {
    grid_->addWidget(field, row, kTitleColumn, 1, 2);
  }
  const QString name = title != nullptr ? qobject_cast<QLabel*>(title)->text()
                                        : qobject_cast<QCheckBox*>(field)->text();
  QCheckBox* own = IsAllPorts() ? nullptr : AddOwnBox(field, key, name);
  if (own != nullptr) grid_->addWidget(own, row, kOwnColumn);
  AddExplanation(explanation, field);
  rows_.push_back({key, field, own, std::move(store)});
}

QCheckBox* TJobOptionsPage::AddOwnBox(QWidget* field, const char* key, const QString& title) {
  auto* own = new QCheckBox("Own value", this);
  own->setObjectName(QString("cbOwn") + key);
  own->setAccessibleName("Own value for " + PlainTitle(title.toUtf8().constData()));
  own->setAccessibleDescription(kOwnValueText);
  field->setEnabled(false);
  connect(own, &QCheckBox::toggled, this, [this, field](bool ownValue) {
    field->setEnabled(ownValue);
    if (ownValue) return;
    for (const TOptionRow& row : rows_)
      if (row.Field == field) FollowOption(row);
  });
  return own;
}

// Plain, wrapped and indented under the option it explains, and the
// field's description for a screen reader.
void TJobOptionsPage::AddExplanation(const char* explanation, QWidget* field) {
  auto* text = new QLabel(explanation, this);
  text->setTextFormat(Qt::PlainText);
  text->setWordWrap(true);
  text->setContentsMargins(kExplanationIndent, 0, 0, 0);
  grid_->addWidget(text, grid_->rowCount(), kTitleColumn, 1, kOwnColumn + 1);
  field->setAccessibleDescription(explanation);
}

void TJobOptionsPage::AddLimitFields() {
  auto* senders = new QLineEdit(this);
  AddField(senders, "AllowedSenders", "eAllowedSenders", "Allowed &senders:", kAllowedSendersText,
           [senders](TJobSettings& values) {
             values.AllowedSenders = TrimBlanks(senders->text().toStdString());
             const TSenderFilter filter(values.AllowedSenders);
             if (filter.Malformed().empty()) return std::string();
             return "'" + filter.Malformed().front() +
                    "' is not an IP address or a block such as 192.168.1.0/24 or fd00::/8";
           });
  auto* size = new QLineEdit(this);
  AddField(size, "MaxJobBytes", "eMaxJobBytes", "Si&ze limit (bytes):", kMaxJobBytesText,
           [size](TJobSettings& values) {
             const std::string text = TrimBlanks(size->text().toStdString());
             const std::optional<int64_t> limit = text.empty() ? 0 : ParseJobLimit(text);
             if (!limit) return "'" + text + "' is not a size in bytes";
             values.MaxJobBytes = *limit;
             return std::string();
           });
  auto* idle = new QSpinBox(this);
  idle->setRange(0, TJobSettings::kMaxTimerSeconds);
  AddField(idle, "IdleSeconds", "eIdleSeconds", "I&dle limit (seconds):", kIdleSecondsText,
           [idle](TJobSettings& values) {
             values.IdleSeconds = idle->value();
             return std::string();
           });
  AddFlag("DeleteAfterDays", "cbDeleteAfterDays", "Delete captures after Da&ys",
          kDeleteAfterDaysText, &TJobSettings::DeleteAfterDays);
}

// The command's field with Try beside it and Try's result below the
// explanation.
void TJobOptionsPage::AddAfterJobField(TAfterJobTryRow::TLimitsSource limits) {
  edAfterJob = new QLineEdit(this);
  edAfterJob->setObjectName("edAfterJob");
  auto* label = new QLabel("&After-job command:", this);
  label->setBuddy(edAfterJob);
  try_ = new TAfterJobTryRow(edAfterJob, std::move(limits), this);
  auto* cell = new QHBoxLayout;
  cell->addWidget(edAfterJob, 1);
  cell->addWidget(try_->Button());
  AddRow(
      label, edAfterJob, "AfterJob", kAfterJobText,
      [edit = edAfterJob](TJobSettings& values) {
        values.AfterJob = edit->text().toStdString();
        return std::string();
      },
      cell);
  grid_->addWidget(try_->ResultArea(), grid_->rowCount(), kTitleColumn, 1, kOwnColumn + 1);
}

void TJobOptionsPage::AddReplyFields() {
  AddHeading("Printer status replies, for this port alone");
  cbReplies = AddChoice("cbReplies", "Status &replies:", kRepliesText,
                        {kNoReplies, "escpos", "zpl", "pjl"});
  cbPrinterState = AddChoice("cbPrinterState", "&Printer state:", kPrinterStateText,
                             {kReadyPrinter, "paper out", "cover open", "offline"});
  eReplyRules = new QLineEdit(this);
  eReplyRules->setObjectName("eReplyRules");
  auto* label = new QLabel("Reply r&ules:", this);
  label->setBuddy(eReplyRules);
  const int row = grid_->rowCount();
  grid_->addWidget(label, row, kTitleColumn);
  grid_->addWidget(eReplyRules, row, kFieldColumn, 1, 2);
  AddExplanation(kReplyRulesText, eReplyRules);
}

// The renderers serve the preview, which is the same for every port: they
// are on the All ports page only, under one explanation.
void TJobOptionsPage::AddRendererFields() {
  AddHeading("Page renderers for the job list's preview");
  for (const TPrinterLanguage language : kRendererLanguages) {
    const std::string key = RendererKey(language);
    auto* edit = new QLineEdit(this);
    std::string name = "eRenderer";
    name += key.substr(TJobSettings::kRendererPrefix.size());
    edit->setObjectName(QString::fromStdString(name));
    auto* label =
        new QLabel(QString::fromStdString(PrinterLanguageName(language)) + " renderer:", this);
    label->setBuddy(edit);
    edit->setAccessibleDescription(kRenderersText);
    const int row = grid_->rowCount();
    grid_->addWidget(label, row, kTitleColumn);
    grid_->addWidget(edit, row, kFieldColumn, 1, 2);
    renderers_.emplace_back(key, edit);
  }
  auto* text = new QLabel(kRenderersText, this);
  text->setTextFormat(Qt::PlainText);
  text->setWordWrap(true);
  text->setContentsMargins(kExplanationIndent, 0, 0, 0);
  grid_->addWidget(text, grid_->rowCount(), kTitleColumn, 1, kOwnColumn + 1);
}

QComboBox* TJobOptionsPage::AddChoice(const char* name, const char* title, const char* explanation,
                                      const std::vector<const char*>& choices) {
  auto* choice = new QComboBox(this);
  choice->setObjectName(name);
  for (const char* text : choices) choice->addItem(text);
  auto* label = new QLabel(title, this);
  label->setBuddy(choice);
  // A combo box's accessible name is its current text; a screen reader
  // finds the title through the label's relation to its buddy.
  const int row = grid_->rowCount();
  grid_->addWidget(label, row, kTitleColumn);
  grid_->addWidget(choice, row, kFieldColumn);
  AddExplanation(explanation, choice);
  return choice;
}

void TJobOptionsPage::Load(const TJobSettings& values, const std::vector<std::string>& ownKeys) {
  for (const auto& [key, text] : values.SharedEntries()) {
    const TOptionRow* row = RowOf(key);
    if (row == nullptr) continue;
    ShowText(row->Field, text);
    if (row->Own == nullptr) continue;
    const bool own = std::any_of(ownKeys.begin(), ownKeys.end(),
                                 [&](const std::string& ownKey) { return SameKey(ownKey, key); });
    row->Own->setChecked(own);
    row->Field->setEnabled(own);
  }
  for (const auto& [key, edit] : renderers_)
    edit->setText(QString::fromStdString(values.Renderer(key)));
  if (IsAllPorts()) return;
  ShowChoice(cbReplies, values.Replies, kNoReplies);
  ShowChoice(cbPrinterState, values.PrinterState, kReadyPrinter);
  eReplyRules->setText(QString::fromStdString(values.ReplyRules));
}

void TJobOptionsPage::FollowAllPorts() {
  for (const TOptionRow& row : rows_)
    if (row.Own != nullptr && !row.Own->isChecked()) FollowOption(row);
}

void TJobOptionsPage::FollowOption(const TOptionRow& row) {
  if (allPorts_ == nullptr) return;
  if (const TOptionRow* followed = allPorts_->RowOf(row.Key)) CopyValue(followed->Field, row.Field);
}

const TJobOptionsPage::TOptionRow* TJobOptionsPage::RowOf(std::string_view key) const {
  for (const TOptionRow& row : rows_)
    if (SameKey(row.Key, key)) return &row;
  return nullptr;
}

std::optional<TFieldError> TJobOptionsPage::Read(TJobSettings& values,
                                                 std::vector<std::string>& ownKeys) const {
  for (const TOptionRow& row : rows_) {
    std::erase_if(ownKeys, [&](const std::string& key) { return SameKey(key, row.Key); });
    if (row.Own != nullptr && !row.Own->isChecked()) continue;
    const std::string failure = row.Store(values);
    if (!failure.empty()) return TFieldError{failure, row.Field};
    if (row.Own != nullptr) ownKeys.push_back(row.Key);
  }
  for (const auto& [key, edit] : renderers_) StoreRenderer(values, key, edit->text());
  if (IsAllPorts()) return std::nullopt;
  values.Replies = ChosenValue(cbReplies, values.Replies, kNoReplies);
  values.PrinterState = ChosenValue(cbPrinterState, values.PrinterState, kReadyPrinter);
  values.ReplyRules = TrimBlanks(eReplyRules->text().toStdString());
  return std::nullopt;
}

void TJobOptionsPage::AbandonTry() {
  if (try_ != nullptr) try_->Abandon();
}
