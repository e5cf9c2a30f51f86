#include "ui/resend_dialog.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "base/text.h"
#include "capture/ini_file.h"
#include "net/host_port.h"
#include "ui/message_box.h"
#include "ui/window_style.h"

namespace {

constexpr int kFieldWidth = 260;

std::string CapturesText(int count) {
  if (count == 1) return "1 capture is sent as it is, byte for byte, over a connection of its own.";
  return std::to_string(count) +
         " captures are sent as they are, byte for byte, each over a connection of its own, one "
         "after another.";
}

std::vector<std::string> SplitAtCommas(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (;;) {
    const std::size_t comma = text.find(',', from);
    parts.push_back(TrimBlanks(std::string_view(text).substr(from, comma - from)));
    if (comma == std::string::npos) return parts;
    from = comma + 1;
  }
}

std::string JoinWithCommas(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : ",") + part;
  return text;
}

}  // namespace

TResendDialog::TResendDialog(std::string settingsPath, int captureCount, QWidget* parent)
    : QDialog(parent), settingsPath_(std::move(settingsPath)) {
  SetUpDialog(this, "ResendDialog", "Resend");
  auto* layout = new QVBoxLayout(this);
  lblCaptures = new QLabel(QString::fromStdString(CapturesText(captureCount)), this);
  lblCaptures->setObjectName("lblCaptures");
  lblCaptures->setWordWrap(true);
  layout->addWidget(lblCaptures);

  auto* title = new QLabel("&Send to (host:port):", this);
  edResendTo = new QComboBox(this);
  edResendTo->setObjectName("edResendTo");
  edResendTo->setEditable(true);
  edResendTo->setInsertPolicy(QComboBox::NoInsert);
  edResendTo->setMinimumWidth(kFieldWidth);
  edResendTo->setAccessibleName("Send to (host:port)");
  edResendTo->setAccessibleDescription(
      "A host name or address and a port, for example 192.0.2.5:9100 or [::1]:9100.");
  title->setBuddy(edResendTo);
  for (const std::string& target : RememberedTargets())
    edResendTo->addItem(QString::fromStdString(target));
  layout->addWidget(title);
  layout->addWidget(edResendTo);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  btnOK = new QPushButton("OK", this);
  btnOK->setObjectName("btnOK");
  btnOK->setAccessibleName("OK");
  btnOK->setDefault(true);
  btnCancel = new QPushButton("Cancel", this);
  btnCancel->setObjectName("btnCancel");
  btnCancel->setAccessibleName("Cancel");
  buttons->addWidget(btnOK);
  buttons->addWidget(btnCancel);
  layout->addLayout(buttons);
  connect(btnOK, &QPushButton::clicked, this, [this] { btnOKClick(); });
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  edResendTo->setFocus();
}

// A hand-edited list may hold anything: what does not parse, and repeats,
// are not offered.
std::vector<std::string> TResendDialog::RememberedTargets() const {
  const std::string text = TIniFile(settingsPath_).ReadText(kSection, kKey, "");
  std::vector<std::string> targets;
  for (const std::string& part : SplitAtCommas(text)) {
    const THostPortReading reading = ReadHostPort(part);
    if (!reading.Target) continue;
    const std::string target = reading.Target->Text();
    if (std::find(targets.begin(), targets.end(), target) != targets.end()) continue;
    targets.push_back(target);
    if (targets.size() == kRememberedTargets) break;
  }
  return targets;
}

void TResendDialog::btnOKClick() {
  const THostPortReading reading = ReadHostPort(edResendTo->currentText().toStdString());
  if (!reading.Target) {
    edResendTo->setFocus();
    edResendTo->lineEdit()->selectAll();
    ShowErrorBox(this, reading.Failure);
    return;
  }
  target_ = reading.Target->Text();
  AtEventEdge(this, [this] { Remember(target_); });
  accept();
}

// The newest first, each once; one write, so the file holds the old list or
// the new one.
void TResendDialog::Remember(const std::string& target) {
  std::vector<std::string> targets = RememberedTargets();
  targets.erase(std::remove(targets.begin(), targets.end(), target), targets.end());
  targets.insert(targets.begin(), target);
  if (targets.size() > kRememberedTargets) targets.resize(kRememberedTargets);
  TIniFile(settingsPath_).WriteTexts(kSection, {{kKey, JoinWithCommas(targets)}});
}
