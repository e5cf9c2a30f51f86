#include "ui/about.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/paths.h"
#include "ui/window_style.h"

namespace {

constexpr int kTextWidth = 420;

// The README sits two levels above an installed executable (bin/ beside
// share/), and one level above a build folder inside the source tree.
constexpr const char* kReadmePlaces[] = {"../share/doc/tarnock/README.md", "../README.md"};

std::string ReadmeLine(const std::string& executable) {
  const std::string readme = ReadmePathFor(executable);
  if (readme.empty()) return "README: README.md at the top of the source code";
  return "README: " + readme;
}

}  // namespace

std::string ReadmePathFor(const std::string& executable) {
  const std::string folder = IncludeSeparator(DirectoryPart(executable));
  for (const char* place : kReadmePlaces) {
    const std::string candidate = folder + place;
    if (FileIsPresent(candidate))
      return QDir::cleanPath(QString::fromStdString(candidate)).toStdString();
  }
  return {};
}

TAboutBox::TAboutBox(const std::string& settingsPath, QWidget* parent) : QDialog(parent) {
  SetUpDialog(this, "AboutBox", "About Tarnock");

  const std::string text = std::string("Tarnock ") + TARNOCK_VERSION +
                           "\n\n"
                           "Writes every connection that arrives on its TCP ports into a "
                           "capture file.\n\n"
                           "Copyright (c) 2026 The Tarnock authors. Free software under the MIT "
                           "License: its terms are in LICENSE in the source code, or in "
                           "copyright beside the installed README.\n\n"
                           "Settings file: " +
                           settingsPath + "\n" + ReadmeLine(LinkText("/proc/self/exe"));
  AboutText = new QLabel(QString::fromUtf8(text), this);
  AboutText->setObjectName("AboutText");
  AboutText->setWordWrap(true);
  AboutText->setFixedWidth(kTextWidth);
  // Paths are there to be copied into a terminal or a file manager.
  AboutText->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setObjectName("btnOK");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(AboutText);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

std::string TAboutBox::Text() const { return AboutText->text().toStdString(); }
