#include "ui/window_style.h"

#include <QFont>
#include <QWidget>

void ApplyDesignFont(QWidget* window) {
  QFont font("Sans Serif", 8);
  font.setStyleHint(QFont::SansSerif);
  window->setFont(font);
}
