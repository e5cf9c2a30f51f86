#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;

// Resend: asks where the selected captures go, as host:port. The field
// offers the targets used last, newest first, kept in the settings file
// ([Job List] ResendTo, comma-separated); a target that does not parse gets
// an error box that says why, and the dialog stays open.
class TResendDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr const char* kSection = "Job List";
  static constexpr const char* kKey = "ResendTo";
  // The most targets the field remembers.
  static constexpr std::size_t kRememberedTargets = 10;

  // Reads the remembered targets; raises when the settings file cannot be
  // read.
  TResendDialog(std::string settingsPath, int captureCount, QWidget* parent);

  // The target, as "host:port" or "[::1]:9100"; after exec() == Accepted.
  std::string Target() const { return target_; }

  // Checks the field and, when it parses, remembers it and closes. A failed
  // write of the settings file shows the general error box and the dialog
  // still closes: the resend need not wait for the file.
  void btnOKClick();

 private:
  std::vector<std::string> RememberedTargets() const;
  void Remember(const std::string& target);

  std::string settingsPath_;
  std::string target_;
  QLabel* lblCaptures = nullptr;
  QComboBox* edResendTo = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;
};
