#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <string>

#include "jobs/after_job.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QWidget;
class TAfterJobTry;

// Try beside an after-job command field: the button that runs the command in
// the field once on a sample job (and stops it while it runs), and the area
// below that shows what became of it. The area has a bounded height and
// scrolls, so that long output never makes the page it sits on grow.
class TAfterJobTryRow : public QObject {
 public:
  // Read when Try is pressed, so that the file's time limit in force then
  // counts; it may raise like every settings read.
  using TLimitsSource = std::function<TAfterJobLimits()>;

  // Owned by the page; the command field is the page's.
  TAfterJobTryRow(QLineEdit* command, TLimitsSource limits, QWidget* page);
  ~TAfterJobTryRow() override;

  QPushButton* Button() const { return button_; }
  QScrollArea* ResultArea() const { return area_; }

  // One command at a time: while it runs, the button stops it.
  void TryOrStop();
  // A command that still runs is stopped and reaped without the page, its
  // folder removed once it has ended.
  void Abandon();

 private:
  void Show(const std::string& text);
  void Ended(const std::string& result);

  QLineEdit* command_;
  TLimitsSource limits_;
  QPushButton* button_;
  QLabel* result_;
  QScrollArea* area_;
  std::unique_ptr<TAfterJobTry> try_;
};
