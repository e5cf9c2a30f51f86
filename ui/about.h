#pragma once

#include <QDialog>
#include <string>

class QLabel;

// Where a reader finds the README for the executable at that path: the
// installed copy under the prefix's share/doc/tarnock, or the one at the top
// of the source tree that holds the build folder. Empty when neither is
// there.
std::string ReadmePathFor(const std::string& executable);

// Help > About Tarnock: the version, the licence, the settings file in use
// and where the README is, so that an operator can answer those questions
// from the window alone.
class TAboutBox : public QDialog {
  Q_OBJECT

 public:
  // The settings file named is the one the main window uses; the README is
  // looked for beside the running executable.
  explicit TAboutBox(const std::string& settingsPath, QWidget* parent = nullptr);

  // The text shown, as plain text.
  std::string Text() const;

 private:
  QLabel* AboutText = nullptr;
};
