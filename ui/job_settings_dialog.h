#pragma once

#include <QDialog>
#include <memory>
#include <string>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
struct TJobSettings;
class QLabel;
class TAfterJobTry;

// One place for every [Jobs] option, each with a short explanation beside
// it. It shows what the settings file holds when it opens and writes the
// section on OK; Cancel, Escape and the close box change nothing.
class TJobSettingsDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TJobSettingsDialog(std::string settingsPath, QWidget* parent = nullptr);
  ~TJobSettingsDialog() override;

  // Reads the options afresh from the settings file into the boxes.
  void LoadSettings();
  // Writes the boxes to the settings file and closes; a file that cannot be
  // read or written shows the general error box and leaves the dialog open,
  // and so does a sender entry or size that does not parse, in an error box
  // that names it. Nothing escapes it.
  void btnOKClick();
  // Runs the after-job command in the field once on a sample job and shows
  // what became of it below the field. While it runs the button reads Stop
  // and stops it.
  void btnTryAfterJobClick();
  // Closing the dialog stops a command that Try still runs.
  void done(int result) override;

 private:
  void FitHeight();
  // False, after an error box, when a field does not parse; raises when the
  // file cannot be read or written.
  bool SaveSettings();
  void AddOption(QCheckBox*& box, const char* name, const char* title, const char* explanation);
  void AddExplanation(const char* explanation);
  QLabel* ExplanationLabel(const char* explanation);

  std::string settingsPath_;
  QCheckBox* cbOneFilePerJob = nullptr;
  QCheckBox* cbJobIndex = nullptr;

  // Limits on senders, sizes, silence and age.
  void AddLimitFields();
  void AddField(QWidget* field, const char* name, const char* title, const char* explanation);
  bool ReadLimitFields(TJobSettings& jobs);
  QLineEdit* eAllowedSenders = nullptr;
  QLineEdit* eMaxJobBytes = nullptr;
  QSpinBox* eIdleSeconds = nullptr;
  QCheckBox* cbDeleteAfterDays = nullptr;
  void AddAfterJobField();
  void ShowTryResult(const std::string& text);
  void TryEnded(const std::string& result);
  void AbandonTry();
  QLineEdit* edAfterJob = nullptr;
  QPushButton* btnTryAfterJob = nullptr;
  QLabel* lblTryResult = nullptr;
  std::unique_ptr<TAfterJobTry> try_;
  QCheckBox* cbNotify = nullptr;

  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;
};
