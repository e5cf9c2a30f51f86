#pragma once

#include <QDialog>
#include <string>

class QLabel;

// Where a reader finds the README for the executable at that path: the
// installed copy under the prefix's share/doc/tarnock, or the one at the top
// of the source tree that holds the build folder. Empty when neither is
// there.
std::string ReadmePathFor(const std::string& executable);

// Where the program's home page is: the package's Homepage field, which a
// distributor may set to their own when building.
inline constexpr const char* kHomepageUrl = TARNOCK_HOMEPAGE;
// The licence's text on the web, for a reader without the source code.
inline constexpr const char* kLicenceUrl = "https://spdx.org/licenses/MIT.html";

// Help > About Tarnock: the program's icon, the version, the licence, the
// settings file in use and where the README is, so that an operator can
// answer those questions from the window alone, and links to the home page
// and the licence that open in the browser.
class TAboutBox : public QDialog {
  Q_OBJECT

 public:
  // The settings file named is the one the main window uses; the README is
  // looked for beside the running executable.
  explicit TAboutBox(const std::string& settingsPath, QWidget* parent = nullptr);

  // The text shown, as plain text, without the links.
  std::string Text() const;

 private:
  QLabel* AboutText = nullptr;
  QLabel* AboutLinks = nullptr;
};
