#pragma once

#include <QDialog>
#include <string>

class QCheckBox;
class QPushButton;

// One place for every [Jobs] option, each with a short explanation beside
// it. It shows what the settings file holds when it opens and writes the
// section on OK; Cancel, Escape and the close box change nothing.
class TJobSettingsDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TJobSettingsDialog(std::string settingsPath, QWidget* parent = nullptr);

  // Reads the options afresh from the settings file into the boxes.
  void LoadSettings();
  // Writes the boxes to the settings file and closes; a failed write shows
  // the general error box and leaves the dialog open.
  void btnOKClick();

 private:
  void AddOption(QCheckBox*& box, const char* name, const char* title, const char* explanation);

  std::string settingsPath_;
  QCheckBox* cbOneFilePerJob = nullptr;
  QCheckBox* cbJobIndex = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;
};
