#include "ui/after_job_try_row.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <utility>

#include "ui/after_job_try.h"
#include "ui/message_box.h"

namespace {

// Enough for the result line and a few lines of output; more scrolls.
constexpr int kVisibleResultLines = 5;
constexpr int kResultIndent = 20;

}  // namespace

TAfterJobTryRow::TAfterJobTryRow(QLineEdit* command, TLimitsSource limits, QWidget* page)
    : QObject(page), command_(command), limits_(std::move(limits)) {
  button_ = new QPushButton("&Try", page);
  button_->setObjectName("btnTryAfterJob");
  button_->setAccessibleDescription("Runs the command once on a sample job.");
  result_ = new QLabel(page);
  result_->setObjectName("lblTryResult");
  result_->setTextFormat(Qt::PlainText);
  result_->setWordWrap(true);
  result_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  result_->setContentsMargins(kResultIndent, 0, 0, 0);
  area_ = new QScrollArea(page);
  area_->setObjectName("saTryResult");
  area_->setWidget(result_);
  area_->setWidgetResizable(true);
  area_->setFrameShape(QFrame::NoFrame);
  area_->setMaximumHeight(kVisibleResultLines * result_->fontMetrics().lineSpacing());
  area_->hide();
  // Try reads the settings file for the time limit: a failure there is
  // shown like every other handler's.
  connect(button_, &QPushButton::clicked, this,
          [this, page] { AtEventEdge(page, [this] { TryOrStop(); }); });
}

TAfterJobTryRow::~TAfterJobTryRow() { Abandon(); }

void TAfterJobTryRow::TryOrStop() {
  if (try_ != nullptr && try_->Running()) {
    try_->Stop();
    Show("Stopping ...");
    return;
  }
  const std::string command = command_->text().toStdString();
  if (command.empty()) {
    Show("No command to try.");
    return;
  }
  try_ = std::make_unique<TAfterJobTry>(command, limits_(),
                                        [this](const std::string& result) { Ended(result); });
  Show(try_->Start());
  if (try_->Running()) button_->setText("S&top");
}

void TAfterJobTryRow::Ended(const std::string& result) {
  button_->setText("&Try");
  Show(result);
}

void TAfterJobTryRow::Abandon() {
  TAfterJobTry::Abandon(std::move(try_));
  button_->setText("&Try");
}

void TAfterJobTryRow::Show(const std::string& text) {
  result_->setText(QString::fromStdString(text));
  area_->show();
}
