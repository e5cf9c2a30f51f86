#include "ui/remembered_size.h"

#include <QScreen>
#include <QWidget>
#include <utility>

#include "base/text.h"
#include "capture/ini_file.h"
#include "ui/frame_placement.h"

namespace {

constexpr const char* kWidth = "Width";
constexpr const char* kHeight = "Height";

}  // namespace

TRememberedSize::TRememberedSize(QWidget* window, std::string settingsPath, const char* section,
                                 QSize designSize)
    : QObject(window),
      window_(window),
      settingsPath_(std::move(settingsPath)),
      section_(section),
      wanted_(designSize),
      placement_(
          new TFramePlacement(window, [this](const QMargins& frame) { return Outer(frame); })) {}

// A kept size from a larger screen is cut to this one; the cut is no
// resize of the operator's, so it is not written back.
QRect TRememberedSize::Outer(const QMargins& frame) const {
  QSize outer = wanted_.grownBy(frame).expandedTo(window_->minimumSize().grownBy(frame));
  if (const QScreen* screen = window_->screen())
    outer = outer.boundedTo(screen->availableGeometry().size());
  return TFramePlacement::FittedOnScreen(window_, TFramePlacement::CentredOnScreen(window_, outer));
}

void TRememberedSize::Place() {
  const TIniSnapshot settings = TIniFile(settingsPath_).Load();
  wanted_ = QSize(settings.ReadNumber(section_, kWidth, wanted_.width()),
                  settings.ReadNumber(section_, kHeight, wanted_.height()));
  placed_ = true;
  placement_->Place();
}

void TRememberedSize::SaveIfResized() {
  if (!placed_) return;
  const QMargins frame = placement_->Frame();
  const QSize placed = Outer(frame).size().shrunkBy(frame);
  const QSize now = window_->size();
  if (now == placed) return;
  TIniFile(settingsPath_)
      .WriteTexts(section_,
                  {{kWidth, FormatInteger(now.width())}, {kHeight, FormatInteger(now.height())}});
}
