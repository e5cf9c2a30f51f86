#include "ui/window_style.h"

#include <QColor>
#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QPalette>
#include <QWidget>

void ApplyDesignFont(QWidget* window) {
  QFont font("Sans Serif", 8);
  font.setStyleHint(QFont::SansSerif);
  window->setFont(font);
}

QIcon ProgramIcon() { return QIcon(":/icons/org.tarnock.Tarnock.svg"); }

void ApplyProgramIcon(QWidget* window) { window->setWindowIcon(ProgramIcon()); }

void ApplySilverPane(QWidget* pane) {
  QPalette palette = pane->palette();
  palette.setColor(QPalette::Base, QColor(0xC0, 0xC0, 0xC0));
  palette.setColor(QPalette::Text, Qt::black);
  // A theme's placeholder grey is made for its own ground, half transparent
  // or light on a dark theme: on silver it could not be read. This dark grey
  // stands apart from the black lines and still reads at 5.7:1.
  palette.setColor(QPalette::PlaceholderText, QColor(0x40, 0x40, 0x40));
  pane->setPalette(palette);
}

void SetUpDialog(QDialog* dialog, const char* name, const char* title, Qt::WindowFlags frame) {
  dialog->setObjectName(name);
  dialog->setWindowTitle(QString::fromUtf8(title));
  dialog->setWindowFlags(frame);
  ApplyDesignFont(dialog);
  ApplyProgramIcon(dialog);
}
