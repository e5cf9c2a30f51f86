#include "ui/byte_view.h"

#include <QFontDatabase>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>
#include <algorithm>
#include <climits>

#include "base/exceptions.h"
#include "preview/hex_page.h"
#include "preview/paged_file.h"
#include "preview/printer_commands.h"

namespace {

constexpr uint64_t kHexRowBytes = kHexBytesPerLine;
// Where HexLine puts a byte's two digits and its character.
constexpr int kHexFirstDigit = 18;
constexpr int kHexFirstCharacter = 69;
// The most bytes one text character can take, for sizing a window.
constexpr std::size_t kMostBytesPerCharacter = 4;
constexpr int kMinColumns = 16;
constexpr uint64_t kBarPositions = INT_MAX;

// a * b / c without overflow, for offsets up to 2^64.
uint64_t MulDiv(uint64_t a, uint64_t b, uint64_t c) {
  return static_cast<uint64_t>(static_cast<unsigned __int128>(a) * b / c);
}

// Two backgrounds in turn, so that neighbouring commands stay apart.
QColor MarkColour(std::size_t index) {
  return index % 2 == 0 ? QColor(255, 236, 160) : QColor(190, 220, 255);
}

TByteRow HexRow(uint64_t offset, const std::string& bytes) {
  TByteRow row{offset, QString::fromStdString(HexLine(offset, bytes)), {}};
  row.byteOfCharacter.assign(static_cast<std::size_t>(row.text.size()), -1);
  for (std::size_t column = 0; column < bytes.size(); ++column) {
    const auto byte = static_cast<int64_t>(offset + column);
    const std::size_t digit = kHexFirstDigit + 3 * column + (column >= kHexRowBytes / 2 ? 1 : 0);
    row.byteOfCharacter[digit] = row.byteOfCharacter[digit + 1] = byte;
    row.byteOfCharacter[kHexFirstCharacter + column] = byte;
  }
  return row;
}

}  // namespace

TByteView::TByteView(TByteViewMode mode, QWidget* parent)
    : QAbstractScrollArea(parent), mode_(mode) {
  setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  setFocusPolicy(Qt::StrongFocus);
  verticalScrollBar()->setAccessibleName(mode == TByteViewMode::Hex ? "Hex position"
                                                                    : "Text position");
  horizontalScrollBar()->setAccessibleName(mode == TByteViewMode::Hex ? "Hex sideways"
                                                                      : "Text sideways");
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // The bar's own steps are positions, which may stand for many bytes: the
  // view moves by rows and pages itself and only then sets the bar.
  connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, &TByteView::BarActed);
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &TByteView::BarMoved);
}

void TByteView::SetFile(const TPagedFile* file, TPrinterLanguage language, TTextEncoding encoding) {
  file_ = file;
  language_ = language;
  encoding_ = encoding;
  top_ = 0;
  LayOut();
}

void TByteView::ScrollToOffset(uint64_t offset) { SetTop(Aligned(offset)); }

int TByteView::VisibleRows() const {
  return std::max(1, viewport()->height() / std::max(1, fontMetrics().height()));
}

int TByteView::Columns() const {
  return std::max(kMinColumns,
                  viewport()->width() / std::max(1, fontMetrics().horizontalAdvance(QChar('0'))));
}

uint64_t TByteView::FileSize() const {
  try {
    return file_ == nullptr ? 0 : file_->Size();
  } catch (const Exception&) {
    return 0;
  }
}

// The top that shows the file's last row last; for text, whose rows are
// only known once read, its last byte's row first.
uint64_t TByteView::LastTop() const {
  const uint64_t size = FileSize();
  if (mode_ == TByteViewMode::Text) return size == 0 ? 0 : size - 1;
  const uint64_t lines = (size + kHexRowBytes - 1) / kHexRowBytes;
  const auto visible = static_cast<uint64_t>(VisibleRows());
  return lines > visible ? (lines - visible) * kHexRowBytes : 0;
}

// Positions the bar stands for: hex rows, or text bytes.
uint64_t TByteView::Span() const {
  return mode_ == TByteViewMode::Hex ? LastTop() / kHexRowBytes : LastTop();
}

int TByteView::ToBar(uint64_t top) const {
  const uint64_t span = Span();
  const uint64_t position = mode_ == TByteViewMode::Hex ? top / kHexRowBytes : top;
  if (span <= kBarPositions) return static_cast<int>(std::min(position, span));
  return static_cast<int>(MulDiv(std::min(position, span), kBarPositions, span));
}

uint64_t TByteView::FromBar(int value) const {
  const uint64_t span = Span();
  const auto position = static_cast<uint64_t>(std::max(value, 0));
  const uint64_t scaled = span <= kBarPositions ? position : MulDiv(position, span, kBarPositions);
  return Aligned(mode_ == TByteViewMode::Hex ? scaled * kHexRowBytes : scaled);
}

// A row start near the offset: a whole hex row, or a text character start.
uint64_t TByteView::Aligned(uint64_t offset) const {
  offset = std::min(offset, LastTop());
  if (mode_ == TByteViewMode::Hex) return offset / kHexRowBytes * kHexRowBytes;
  if (file_ == nullptr) return 0;
  const std::string bytes = file_->Read(offset, kMostBytesPerCharacter);
  return offset + CharacterStart(bytes, 0, encoding_);
}

uint64_t TByteView::RowAfter(uint64_t top) const {
  if (mode_ == TByteViewMode::Hex) return std::min(top + kHexRowBytes, LastTop());
  const std::string bytes =
      file_->Read(top, static_cast<std::size_t>(Columns()) * kMostBytesPerCharacter + 2);
  const uint64_t next = LayOutTextRows(bytes, top, encoding_, Columns(), 1).next;
  return next > top && next < FileSize() ? next : top;
}

// The start of the row before: the rows of the line that holds the byte
// before top are laid out from that line's start (looked for at most a
// row's worth of bytes back) and the last one that starts before top is it.
uint64_t TByteView::RowBefore(uint64_t top) const {
  if (top == 0) return 0;
  if (mode_ == TByteViewMode::Hex) return top - std::min(top, kHexRowBytes);
  const uint64_t reach =
      std::min<uint64_t>(top, static_cast<uint64_t>(Columns()) * kMostBytesPerCharacter + 2);
  const std::string bytes = file_->Read(top - reach, static_cast<std::size_t>(reach));
  std::size_t end = bytes.size();
  if (end > 0 && bytes[end - 1] == '\n') --end;
  if (end > 0 && bytes[end - 1] == '\r') --end;
  const std::size_t lineEnd = std::string_view(bytes).substr(0, end).find_last_of("\r\n");
  std::size_t lineStart = lineEnd == std::string::npos ? 0 : lineEnd + 1;
  if (lineEnd == std::string::npos && reach < top) lineStart = CharacterStart(bytes, 0, encoding_);
  const TTextRows rows = LayOutTextRows(std::string_view(bytes).substr(lineStart),
                                        top - reach + lineStart, encoding_, Columns(), INT_MAX);
  uint64_t before = top - reach + lineStart;
  for (const TByteRow& row : rows.rows)
    if (row.start < top) before = row.start;
  return before;
}

void TByteView::BarActed(int action) {
  if (file_ == nullptr) return;
  uint64_t top = top_;
  const int pageRows = std::max(1, VisibleRows() - 1);
  switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
      top = RowAfter(top);
      break;
    case QAbstractSlider::SliderSingleStepSub:
      top = RowBefore(top);
      break;
    case QAbstractSlider::SliderPageStepAdd:
      for (int row = 0; row < pageRows; ++row) top = RowAfter(top);
      break;
    case QAbstractSlider::SliderPageStepSub:
      for (int row = 0; row < pageRows; ++row) top = RowBefore(top);
      break;
    case QAbstractSlider::SliderToMinimum:
      top = 0;
      break;
    case QAbstractSlider::SliderToMaximum:
      top = Aligned(LastTop());
      break;
    default:
      return;
  }
  SetTop(top);
  // The bar is about to take the position of its own step; this one wins.
  verticalScrollBar()->setSliderPosition(ToBar(top_));
}

// The scroll area steps by lines and pages itself; Home and End (with Ctrl
// too, as in an editor) go to the capture's first and last bytes.
void TByteView::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if (key == Qt::Key_Home || key == Qt::Key_End) {
    verticalScrollBar()->triggerAction(key == Qt::Key_Home ? QAbstractSlider::SliderToMinimum
                                                           : QAbstractSlider::SliderToMaximum);
    return;
  }
  QAbstractScrollArea::keyPressEvent(event);
}

void TByteView::BarMoved(int value) {
  if (syncingBar_ || file_ == nullptr || value == ToBar(top_)) return;
  SetTop(FromBar(value));
}

void TByteView::SetTop(uint64_t top) {
  if (top == top_ && !rows_.empty()) return;
  top_ = top;
  LayOut();
}

void TByteView::LayOut() {
  rows_.clear();
  marks_.clear();
  if (file_ != nullptr) {
    try {
      const std::size_t rowBytes =
          mode_ == TByteViewMode::Hex
              ? kHexRowBytes
              : static_cast<std::size_t>(Columns()) * kMostBytesPerCharacter;
      const std::string window =
          file_->Read(top_, static_cast<std::size_t>(VisibleRows()) * rowBytes + kMarkLookahead);
      if (mode_ == TByteViewMode::Hex)
        LayOutHex(window);
      else
        LayOutText(window);
      MarkCommands(window);
    } catch (const Exception& failure) {
      rows_ = {TByteRow{top_, QString::fromStdString(failure.Message()), {}}};
    }
  }
  SyncBar();
  viewport()->update();
  emit MarksChanged();
}

void TByteView::LayOutHex(const std::string& window) {
  const auto shown =
      std::min<std::size_t>(window.size(), static_cast<std::size_t>(VisibleRows()) * kHexRowBytes);
  for (std::size_t start = 0; start < shown; start += kHexRowBytes)
    rows_.push_back(HexRow(top_ + start, window.substr(start, kHexRowBytes)));
}

void TByteView::LayOutText(const std::string& window) {
  rows_ = LayOutTextRows(window, top_, encoding_, Columns(), VisibleRows()).rows;
}

// The marks of the commands that touch the rows in view. The scan starts
// afresh at the top of the view.
void TByteView::MarkCommands(const std::string& window) {
  if (rows_.empty()) return;
  TCommandScanner scanner(language_);
  std::vector<TCommandMark> found;
  scanner.Scan(window, top_, found);
  if (top_ + window.size() >= FileSize()) scanner.Finish(found);
  int64_t lastShown = -1;
  for (const TByteRow& row : rows_)
    for (int64_t byte : row.byteOfCharacter) lastShown = std::max(lastShown, byte);
  for (TCommandMark& mark : found)
    if (static_cast<int64_t>(mark.offset) <= lastShown && mark.offset + mark.length > top_)
      marks_.push_back(std::move(mark));
}

void TByteView::SyncBar() {
  syncingBar_ = true;
  QScrollBar* bar = verticalScrollBar();
  const uint64_t span = Span();
  bar->setRange(0, static_cast<int>(std::min(span, kBarPositions)));
  bar->setPageStep(std::max(1, VisibleRows()));
  bar->setValue(ToBar(top_));
  syncingBar_ = false;
}

const TCommandMark* TByteView::MarkAt(int64_t byte) const {
  if (byte < 0) return nullptr;
  const auto offset = static_cast<uint64_t>(byte);
  for (const TCommandMark& mark : marks_)
    if (offset >= mark.offset && offset - mark.offset < mark.length) return &mark;
  return nullptr;
}

const TCommandMark* TByteView::MarkUnder(QPoint point) const {
  const int rowIndex = point.y() / std::max(1, fontMetrics().height());
  const int column = point.x() / std::max(1, fontMetrics().horizontalAdvance(QChar('0')));
  if (rowIndex < 0 || rowIndex >= static_cast<int>(rows_.size()) || column < 0) return nullptr;
  const TByteRow& row = rows_[static_cast<std::size_t>(rowIndex)];
  if (column >= static_cast<int>(row.byteOfCharacter.size())) return nullptr;
  return MarkAt(row.byteOfCharacter[static_cast<std::size_t>(column)]);
}

void TByteView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  painter.fillRect(viewport()->rect(), palette().base());
  const QFontMetrics metrics = fontMetrics();
  const int width = metrics.horizontalAdvance(QChar('0'));
  int y = 0;
  for (const TByteRow& row : rows_) {
    for (std::size_t column = 0; column < row.byteOfCharacter.size(); ++column) {
      const TCommandMark* mark = MarkAt(row.byteOfCharacter[column]);
      if (mark == nullptr) continue;
      painter.fillRect(static_cast<int>(column) * width, y, width, metrics.height(),
                       MarkColour(static_cast<std::size_t>(mark - marks_.data())));
    }
    painter.setPen(palette().text().color());
    if (mode_ == TByteViewMode::Hex) {
      painter.drawText(0, y + metrics.ascent(), row.text);
    } else {
      // One cell per character: a picture of a control byte may come from
      // a wider font and must not push the rest of the row off its marks.
      for (qsizetype column = 0; column < row.text.size(); ++column)
        painter.drawText(static_cast<int>(column) * width, y + metrics.ascent(),
                         QString(row.text[column]));
    }
    y += metrics.height();
  }
}

void TByteView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  LayOut();
}

bool TByteView::viewportEvent(QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QAbstractScrollArea::viewportEvent(event);
  const auto* help = static_cast<QHelpEvent*>(event);
  const TCommandMark* mark = MarkUnder(help->pos());
  if (mark == nullptr)
    QToolTip::hideText();
  else
    QToolTip::showText(help->globalPos(), QString::fromStdString(mark->name), viewport());
  return true;
}
