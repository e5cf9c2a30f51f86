#pragma once

#include <QMargins>
#include <QObject>
#include <QRect>
#include <QSize>
#include <string>

class QWidget;
class TFramePlacement;

// The size of a window the operator may resize, kept in its own section of
// the settings file (Width and Height of the inner area). The window opens
// centred on its screen at the kept size, or at its design size, and never
// larger than the screen's available area, frame included. The size is
// written only after the operator has resized the window, so a file whose
// window nobody resized stays as it was.
class TRememberedSize : public QObject {
 public:
  // Owned by the window.
  TRememberedSize(QWidget* window, std::string settingsPath, const char* section, QSize designSize);

  // Reads the kept size and places the window; again as the window manager
  // frames it. Raises when the file cannot be read.
  void Place();
  // Writes the size when it is no longer the one Place gave the window;
  // nothing before Place.
  // Raises "Unable to write to %s".
  void SaveIfResized();

 private:
  QRect Outer(const QMargins& frame) const;

  QWidget* window_;
  std::string settingsPath_;
  const char* section_;
  QSize wanted_;
  TFramePlacement* placement_;
  bool placed_ = false;
};
