#include "ui/about.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/paths.h"
#include "ui/window_style.h"

namespace {

constexpr int kTextWidth = 420;
constexpr int kIconSize = 64;

// The README sits two levels above an installed executable (bin/ beside
// share/), and one level above a build folder inside the source tree.
constexpr const char* kReadmePlaces[] = {"../share/doc/tarnock/README.md", "../README.md"};

std::string ReadmeLine(const std::string& executable) {
  const std::string readme = ReadmePathFor(executable);
  if (readme.empty()) return "README: README.md at the top of the source code";
  return "README: " + readme;
}

QLabel* MakeIconLabel(QWidget* parent) {
  auto* icon = new QLabel(parent);
  icon->setObjectName("AboutIcon");
  icon->setPixmap(ProgramIcon().pixmap(kIconSize, kIconSize));
  icon->setAlignment(Qt::AlignTop);
  return icon;
}

QString Link(const char* url, const char* text) {
  return QString("<a href=\"%1\">%2</a>")
      .arg(QString::fromUtf8(url).toHtmlEscaped(), QString::fromUtf8(text).toHtmlEscaped());
}

// The links open in the desktop's browser; Tab reaches them, Enter follows.
QLabel* MakeLinksLabel(QWidget* parent) {
  auto* links = new QLabel(parent);
  links->setObjectName("AboutLinks");
  links->setTextFormat(Qt::RichText);
  links->setText("Homepage: " + Link(kHomepageUrl, kHomepageUrl) +
                 "<br>Licence: " + Link(kLicenceUrl, "MIT License"));
  links->setOpenExternalLinks(true);
  links->setTextInteractionFlags(Qt::TextBrowserInteraction);
  return links;
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

  AboutLinks = MakeLinksLabel(this);

  auto* texts = new QVBoxLayout;
  texts->addWidget(AboutText);
  texts->addWidget(AboutLinks);
  auto* iconAndTexts = new QHBoxLayout;
  iconAndTexts->addWidget(MakeIconLabel(this), 0, Qt::AlignTop);
  iconAndTexts->addLayout(texts);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(iconAndTexts);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

std::string TAboutBox::Text() const { return AboutText->text().toStdString(); }
