#include "ui/port_help.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>
#include <QStyle>

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
    "    c\tShows the date in the format given by the ShortDateFormat global",
    "                 variable, followed by the time in the format given by the",
    "                 LongTimeFormat global variable. The time is left out when",
    "                 the time of day of the DateTime value is exactly zero.",
    "    d\tShows the day of the month without a leading zero (1-31).",
    "    dd\tShows the day of the month with a leading zero (01-31).",
    "    ddd\tShows the abbreviated name of the day (Sun-Sat), as held in",
    "                 the ShortDayNames global variable.",
    "    dddd\tShows the full name of the day (Sunday-Saturday), as held in",
    "                 the LongDayNames global variable.",
    "    ddddd\tShows the date in the format given by the ShortDateFormat",
    "                 global variable.",
    "    dddddd\tShows the date in the format given by the LongDateFormat",
    "                 global variable.",
    "    m\tShows the month without a leading zero (1-12). When it comes",
    "                 directly after an h or hh specifier, the minute is shown",
    "                 instead.",
    "    mm\tShows the month with a leading zero (01-12). When it comes",
    "                 directly after an h or hh specifier, the minute is shown",
    "                 instead.",
    "    mmm\tShows the abbreviated name of the month (Jan-Dec), as held in",
    "                 the ShortMonthNames global variable.",
    "    mmmm\tShows the full name of the month (January-December), as held",
    "                 in the LongMonthNames global variable.",
    "    yy\tShows the year as two digits (00-99).",
    "    yyyy\tShows the year as four digits (0000-9999).",
    "    h\tShows the hour without a leading zero (0-23).",
    "    hh\tShows the hour with a leading zero (00-23).",
    "    n\tShows the minute without a leading zero (0-59).",
    "    nn\tShows the minute with a leading zero (00-59).",
    "    s\tShows the second without a leading zero (0-59).",
    "    ss\tShows the second with a leading zero (00-59).",
    "    t\tShows the time in the format given by the ShortTimeFormat global variable.",
    "    tt\tShows the time in the format given by the LongTimeFormat global variable.",
    "    am/pm\tShows the preceding h or hh on the 12-hour clock.",
    "    \"xx\"\tCharacters enclosed in double quotes are shown as they are and",
    "                 have no effect on the formatting.",
    "",
    "     Specifiers may be written in upper or lower case letters; both",
    "     give the same result.",
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
  setObjectName("Help1");
  setWindowTitle("Port Definition Help");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(kClientWidth, kClientHeight);
  BuildControls();
}

void THelp1::BuildControls() {
  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName("Memo1");
  Memo1->setGeometry(0, 0, kClientWidth, kMemoHeight);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  QPalette palette = Memo1->palette();
  palette.setColor(QPalette::Base, QColor(0xC0, 0xC0, 0xC0));
  Memo1->setPalette(palette);
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

void THelp1::showEvent(QShowEvent* event) {
  if (!placed_) {
    placed_ = true;
    move(kFirstLeft, kFirstTop);
  }
  QDialog::showEvent(event);
}
