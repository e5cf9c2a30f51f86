#include "ui/port_help.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>
#include <QStyle>
#include <utility>

#include "ui/frame_placement.h"
#include "ui/window_style.h"

namespace {

constexpr int kClientWidth = 411;
constexpr int kClientHeight = 324;
constexpr int kMemoHeight = 283;
constexpr int kPanelWidth = 86;
constexpr int kFirstLeft = 200;
constexpr int kFirstTop = 108;

// What the operator reads about a port definition: the fields in the order of
// the editor, and the date-time specifiers of the file name pattern, each with
// the date and time setting it draws on.
constexpr const char* kHelpLines[] = {
    "Port:",
    "",
    "    Indicate a port that is to be listened on.",
    "",
    "Directory:",
    "",
    "    Indicate the directory file received on this port are saved to.",
    "",
    "File Format:",
    "",
    "    This indicated the format of the file name.",
    "",
    "    c\tThe date in the ShortDateFormat global variable,",
    "                 followed by the time in the LongTimeFormat global",
    "                 variable. No time is shown when the time of day",
    "                 of the DateTime value is exactly zero.",
    "    d\tDay of the month without a leading zero (1-31).",
    "    dd\tDay of the month with a leading zero (01-31).",
    "    ddd\tAbbreviated day name (Sun-Sat), from the",
    "                 ShortDayNames global variable.",
    "    dddd\tFull day name (Sunday-Saturday), from the",
    "                 LongDayNames global variable.",
    "    ddddd\tThe date in the format of the ShortDateFormat",
    "                 global variable.",
    "    dddddd\tThe date in the format of the LongDateFormat",
    "                 global variable.",
    "    m\tMonth without a leading zero (1-12). Directly",
    "                 after an h or hh specifier it shows the minute",
    "                 instead.",
    "    mm\tMonth with a leading zero (01-12). Directly",
    "                 after an h or hh specifier it shows the minute",
    "                 instead.",
    "    mmm\tAbbreviated month name (Jan-Dec), from the",
    "                 ShortMonthNames global variable.",
    "    mmmm\tFull month name (January-December), from the",
    "                 LongMonthNames global variable.",
    "    yy\tYear as two digits (00-99).",
    "    yyyy\tYear as four digits (0000-9999).",
    "    h\tHour without a leading zero (0-23).",
    "    hh\tHour with a leading zero (00-23).",
    "    n\tMinute without a leading zero (0-59).",
    "    nn\tMinute with a leading zero (00-59).",
    "    s\tSecond without a leading zero (0-59).",
    "    ss\tSecond with a leading zero (00-59).",
    "    t\tThe time in the ShortTimeFormat global variable.",
    "    tt\tThe time in the LongTimeFormat global variable.",
    "    am/pm\tThe 12-hour clock for the preceding h or hh.",
    "    \"xx\"\tCharacters in double quotes appear unchanged",
    "                 and don't affect the formatting.",
    "",
    "     Specifiers may be written in upper or lower case; either",
    "     gives the same result.",
    "",
    "     Example",
    "",
    "      yy-mm-dd hhmm \"Quenvale\"",
    "",
    "      on January 12, 1998 at 2:30pm will result in:",
    "",
    "      98-01-12 1430 Quenvale.txt",
    "",
    "      Note: Be sure to honor file naming restrictions on the volumes you",
    "                save these files.",
    "",
    "Overwrite:",
    "",
    "   If this field is true, then any existing file bearing the same name as a",
    "   new file will be overwritten.  If it is false the new information will be",
    "   appended to the existing file.",
    "",
    "      ",
    "Days:",
    "",
    "    This is an option to have files deleted after a given amount of time.",
    "    Indicate here how many days you wish to keep the file.  If the file is",
    "    to be kept indefinitely enter 0.",
};

QString HelpText() {
  QStringList lines;
  for (const char* line : kHelpLines) lines << QString::fromUtf8(line);
  return lines.join('\n');
}

}  // namespace

THelp1::THelp1(QWidget* parent) : QDialog(parent) {
  SetUpDialog(this, "Help1", "Port Definition Help");
  setFixedSize(kClientWidth, kClientHeight);
  BuildControls();
  placement_ = new TFramePlacement(this, [this](const QMargins& frame) {
    return QRect(QPoint(kFirstLeft, kFirstTop), size().grownBy(frame));
  });
}

void THelp1::BuildControls() {
  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName("Memo1");
  Memo1->setGeometry(0, 0, kClientWidth, kMemoHeight);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  ApplySilverPane(Memo1);
  Memo1->setAccessibleName("Port definition help");
  // Descriptions start where their continuation lines do, 17 blanks in.
  Memo1->setTabStopDistance(Memo1->fontMetrics().horizontalAdvance(QString(17, ' ')));
  Memo1->setPlainText(HelpText());

  auto* panel = new QWidget(this);
  panel->setGeometry(kClientWidth - kPanelWidth, kMemoHeight, kPanelWidth,
                     kClientHeight - kMemoHeight);
  BitBtn1 = new QPushButton("OK", panel);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn1->setGeometry(6, 8, 75, 25);
  BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogApplyButton));
  BitBtn1->setDefault(true);
  connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);

  setTabOrder(BitBtn1, Memo1);
  BitBtn1->setFocus();
}

// At its design place the first time; later showings find the dialog where
// the operator left it.
void THelp1::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!std::exchange(placed_, true)) placement_->Place();
}
