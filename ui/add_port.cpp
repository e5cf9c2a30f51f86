#include "ui/add_port.h"

#include <QApplication>
#include <QCheckBox>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <algorithm>
#include <string_view>
#include <utility>

#include "base/disk_file.h"
#include "base/exceptions.h"
#include "base/paths.h"
#include "base/text.h"
#include "capture/date_pattern.h"
#include "ui/frame_placement.h"
#include "ui/message_box.h"
#include "ui/window_style.h"

namespace {

constexpr int kDaysMinimum = 0;
constexpr int kDaysMaximum = 999;
constexpr int kOuterWidth = 243;
constexpr int kOuterHeight = 265;
constexpr int kStripHeight = 41;
constexpr int kFirstLeft = 336;
constexpr int kFirstTop = 186;
constexpr int kLabelLeft = 8;
constexpr int kFieldLeft = 72;
// Keeps a label's last letter off its field's border.
constexpr int kLabelGap = 4;

int PullIntoDaysRange(int value) { return std::clamp(value, kDaysMinimum, kDaysMaximum); }

// A port the listener can really open: leading spaces, then decimal digits
// only, with a value from 1 to 65535. Zero would make the system pick a
// random port; signs, hexadecimal forms and larger numbers would listen on
// some other port than the one the operator sees in the list.
bool IsValidPortText(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  uint16_t value = 0;
  return first != std::string_view::npos && ParsePortNumber(text.substr(first), value) &&
         value >= 1;
}

bool IsDaysCharacter(QChar character) {
  return (character >= '0' && character <= '9') || character == '+' || character == '-' ||
         character == '.';
}

bool ContainsComma(const QString& text) { return text.contains(QLatin1Char(',')); }

// Proves that the pattern makes a file name that can be created in the
// directory. An existing file of that name already proves it and is left
// exactly as it is.
bool TrialFileSucceeds(const std::string& name) {
  if (FileIsPresent(name)) return true;
  try {
    DiskFile trial;
    trial.Bind(name);
    trial.OpenCreate();
    trial.CloseOut();
    trial.RemoveFile();
    return true;
  } catch (const Exception&) {
    return false;
  }
}

// Narrows the letters, never cuts the text, until it fits the room between
// the label's left edge and its field in whatever font this desktop gives.
void NarrowToFit(QLabel* label, int room) {
  QFont font = label->font();
  const auto width = [&] { return QFontMetrics(font).horizontalAdvance(label->text()); };
  for (int stretch = QFont::Unstretched - 5; width() > room && stretch >= QFont::UltraCondensed;
       stretch -= 5)
    font.setStretch(stretch);
  label->setFont(font);
}

// The label names its field for screen readers.
QLabel* MakeLabel(QWidget* parent, const char* caption, int top, QWidget* field) {
  auto* label = new QLabel(QString::fromUtf8(caption), parent);
  label->setBuddy(field);
  NarrowToFit(label, kFieldLeft - kLabelLeft - kLabelGap);
  label->move(kLabelLeft, top);
  label->adjustSize();
  return label;
}

QLineEdit* MakeField(QWidget* parent, const char* name, int top, int width) {
  auto* field = new QLineEdit(parent);
  field->setObjectName(name);
  field->setGeometry(kFieldLeft, top, width, 21);
  return field;
}

}  // namespace

TSpinEdit::TSpinEdit(QWidget* parent) : QSpinBox(parent) {
  setRange(kDaysMinimum, kDaysMaximum);
  setSingleStep(1);
  connect(this, &TSpinEdit::KeyRefused, this, [] { QApplication::beep(); });
}

int TSpinEdit::Value() const {
  return PullIntoDaysRange(ParseIntegerOr(lineEdit()->text().toStdString(), 0));
}

void TSpinEdit::SetValue(int value) {
  const int inRange = PullIntoDaysRange(value);
  setValue(inRange);
  lineEdit()->setText(textFromValue(inRange));
}

// Digits, signs and the decimal separator may be typed freely, also out of
// range; the value is pulled into range when the box is left.
QValidator::State TSpinEdit::validate(QString& input, int&) const {
  return std::all_of(input.begin(), input.end(), IsDaysCharacter) ? QValidator::Acceptable
                                                                  : QValidator::Invalid;
}

// Keys that type nothing and control keys pass; so does Enter, which runs
// the dialog's OK.
bool TSpinEdit::IsRefusedKey(const QKeyEvent& event) {
  const QString text = event.text();
  const bool types = !text.isEmpty() && std::none_of(text.begin(), text.end(), [](QChar c) {
    return c.unicode() < 0x20 || c.unicode() == 0x7F;
  });
  return types && !std::all_of(text.begin(), text.end(), IsDaysCharacter);
}

void TSpinEdit::keyPressEvent(QKeyEvent* event) {
  if (!IsRefusedKey(*event)) {
    QSpinBox::keyPressEvent(event);
    return;
  }
  event->accept();
  emit KeyRefused();
}

int TSpinEdit::valueFromText(const QString& text) const {
  return PullIntoDaysRange(ParseIntegerOr(text.toStdString(), 0));
}

void TSpinEdit::focusOutEvent(QFocusEvent* event) {
  const int value = Value();
  QSpinBox::focusOutEvent(event);
  SetValue(value);
}

TForm3::TForm3(QWidget* parent) : QDialog(parent) {
  // A window of its own, which can be resized, minimized and maximized.
  SetUpDialog(this, "Form3", "Add/Edit Port",
              Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                  Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  resize(kOuterWidth, kOuterHeight);
  BuildControls();
  // The outer size and place are the design's, whatever the frame takes.
  placement_ = new TFramePlacement(this, [](const QMargins&) {
    return QRect(kFirstLeft, kFirstTop, kOuterWidth, kOuterHeight);
  });
}

void TForm3::BuildControls() {
  ePort = MakeField(this, "ePort", 24, 57);
  eDirectory = MakeField(this, "eDirectory", 48, 153);
  eFormat = MakeField(this, "eFormat", 72, 105);
  seDays = new TSpinEdit(this);
  seDays->setObjectName("seDays");
  seDays->setGeometry(kFieldLeft, 96, 57, 22);
  eComment = MakeField(this, "eComment", 121, 153);
  MakeLabel(this, "Port:", 27, ePort);
  MakeLabel(this, "Directory:", 51, eDirectory);
  MakeLabel(this, "File Format:", 75, eFormat);
  MakeLabel(this, "Days:", 99, seDays);
  MakeLabel(this, "Comments:", 125, eComment);
  cbOverwrite = new QCheckBox("Overwrite File if it Exists", this);
  cbOverwrite->setObjectName("cbOverwrite");
  // The design width, unless the caption would be cut in this font.
  cbOverwrite->setGeometry(16, 160, std::max(145, cbOverwrite->sizeHint().width()), 17);
  OldPort = new QLineEdit(this);
  OldPort->setObjectName("OldPort");
  OldPort->setMaxLength(255);
  OldPort->hide();

  strip_ = new QWidget(this);
  BitBtn2 = new QPushButton("Cancel", strip_);
  BitBtn2->setObjectName("BitBtn2");
  BitBtn2->setGeometry(64, 8, 75, 25);
  // Enter on a focused button runs that button; in a field it runs OK.
  BitBtn2->setAutoDefault(true);
  BitBtn1 = new QPushButton("OK", strip_);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn1->setGeometry(152, 8, 75, 25);
  BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogApplyButton));
  BitBtn1->setAutoDefault(true);
  BitBtn1->setDefault(true);

  setTabOrder(BitBtn1, BitBtn2);
  setTabOrder(BitBtn2, ePort);
  setTabOrder(ePort, eDirectory);
  setTabOrder(eDirectory, eFormat);
  setTabOrder(eFormat, seDays);
  setTabOrder(seDays, eComment);
  setTabOrder(eComment, cbOverwrite);

  connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}

void TForm3::SetActiveControl(QWidget* control) {
  activeControl_ = control;
  if (isVisible() && control) control->setFocus();
}

// At its design place the first time; later showings find the dialog where
// the operator left it.
void TForm3::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!std::exchange(placed_, true)) placement_->Place();
  if (activeControl_) activeControl_->setFocus();
  activeControl_ = nullptr;
}

// The strip stays at the bottom edge; the fields keep their places.
void TForm3::resizeEvent(QResizeEvent* event) {
  strip_->setGeometry(0, height() - kStripHeight, width(), kStripHeight);
  QDialog::resizeEvent(event);
}

bool TForm3::Fail(const char* message, QWidget* focus) {
  ShowErrorBox(this, message);
  if (focus) focus->setFocus();
  return false;
}

void TForm3::BitBtn1Click() {
  // It runs inside the editor's own loop, which a failure must not cross.
  AtEventEdge(this, [this] {
    if (Validate()) accept();
  });
}

bool TForm3::Validate() {
  const std::string port = TrimBlanks(ePort->text().toStdString());
  const std::string directory = TrimBlanks(eDirectory->text().toStdString());
  const std::string format = TrimBlanks(eFormat->text().toStdString());
  if (port.empty() || directory.empty() || format.empty())
    return Fail("Please Enter all Data", nullptr);
  if (!IsValidPortText(ePort->text().toStdString()))
    return Fail("Please Enter a Valid Port", ePort);
  if (ContainsComma(eDirectory->text()))
    return Fail("\",\" is not allowed in the directory name", eDirectory);
  const std::string folder = IncludeSeparator(directory);
  if (!DirectoryIsPresent(folder)) {
    try {
      CreateDirectoryChain(directory);
    } catch (const Exception&) {
      return Fail("Please Enter a Valid Directory", eDirectory);
    }
  }
  if (ContainsComma(eFormat->text()))
    return Fail("\",\" is not allowed in the file format", eFormat);
  if (!TrialFileSucceeds(folder + FormatDatePattern(format, CurrentLocalTime())))
    return Fail("Please Enter a Valid File Format", eFormat);
  return true;
}
