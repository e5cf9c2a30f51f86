#include "ui/log_pane.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStringList>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <algorithm>
#include <vector>

#include "base/text.h"

namespace {

// What the reader is looking at: the selection and the scroll positions,
// to be put back after lines go from the top.
struct TReaderView {
  int anchor;
  int position;
  bool atBottom;
  int scroll;
  int horizontalScroll;
};

TReaderView ViewOf(QPlainTextEdit* pane) {
  const QTextCursor cursor = pane->textCursor();
  const QScrollBar* bar = pane->verticalScrollBar();
  return {cursor.anchor(), cursor.position(), bar->value() >= bar->maximum(), bar->value(),
          pane->horizontalScrollBar()->value()};
}

// removedCharacters and removedLines went from the top; a selection inside
// them is gone, one below them moves up with its text.
void RestoreView(QPlainTextEdit* pane, const TReaderView& view, int removedCharacters,
                 int removedLines) {
  QTextCursor cursor(pane->document());
  if (std::min(view.anchor, view.position) >= removedCharacters) {
    cursor.setPosition(view.anchor - removedCharacters);
    cursor.setPosition(view.position - removedCharacters, QTextCursor::KeepAnchor);
  } else {
    cursor.movePosition(QTextCursor::End);
  }
  // Setting the cursor scrolls it into view, to the end of a long last line
  // when the selection went with the cut: the reader's columns come back too,
  // or the timestamps would scroll out of sight at every cut.
  pane->setTextCursor(cursor);
  QScrollBar* bar = pane->verticalScrollBar();
  bar->setValue(view.atBottom ? bar->maximum() : std::max(0, view.scroll - removedLines));
  pane->horizontalScrollBar()->setValue(view.horizontalScroll);
}

// Selecting from the start to the start of line count + 1 takes the lines
// with their line ends, so the pane keeps no empty first line.
void RemoveFirstLines(QPlainTextEdit* pane, int count) {
  QTextCursor cursor(pane->document());
  cursor.movePosition(QTextCursor::Start);
  cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, count);
  cursor.removeSelectedText();
}

// Removing thousands of lines one block at a time stalls the window; when
// fewer lines stay than go, the pane is filled anew with the ones that stay.
void KeepLinesFrom(QPlainTextEdit* pane, int firstKept) {
  QTextCursor cursor(pane->document()->findBlockByNumber(firstKept));
  cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
  const QString kept = cursor.selection().toPlainText();
  pane->setPlainText(kept);
}

// A screen reader reads no placeholder text; while the pane shows it, the
// pane's description says the same.
void DescribeByPlaceholder(QPlainTextEdit* pane) {
  if (pane->placeholderText().isEmpty()) return;
  const QString description = pane->document()->isEmpty() ? pane->placeholderText() : QString();
  if (pane->accessibleDescription() != description) pane->setAccessibleDescription(description);
}

}  // namespace

TLogPane::TLogPane(QPlainTextEdit* pane)
    : pane_(pane), shownLines_(pane->document()->isEmpty() ? 0 : pane->blockCount()) {
  lineCount_ = shownLines_;
  DescribeByPlaceholder(pane_);
  QObject::connect(pane_, &QPlainTextEdit::textChanged, pane_,
                   [pane] { DescribeByPlaceholder(pane); });
}

void TLogPane::Append(std::string_view text) {
  const std::vector<std::string_view> lines = SplitLines(text, TLineEnds::TextView);
  for (const std::string_view line : lines) queued_.push_back(QString::fromUtf8(line));
  lineCount_ += static_cast<int>(lines.size());
  if (lineCount_ > kMaxLines) CutFirst(lineCount_ - kMaxLines);
}

void TLogPane::CutFirst(int count) {
  if (count <= 0) return;
  if (count >= lineCount_) return Clear();
  lineCount_ -= count;
  pendingCut_ += count;
  // What the cut takes beyond the shown lines comes off the queue at once.
  const int fromQueue = std::max(0, pendingCut_ - shownLines_);
  queued_.erase(queued_.begin(), queued_.begin() + fromQueue);
  pendingCut_ -= fromQueue;
}

void TLogPane::Clear() {
  queued_.clear();
  shownLines_ = pendingCut_ = lineCount_ = 0;
  pane_->clear();
}

void TLogPane::Flush() {
  if (pendingCut_ > 0) CutFromPane(pendingCut_);
  pendingCut_ = 0;
  if (queued_.empty()) return;
  QStringList lines(queued_.begin(), queued_.end());
  // One append of the joined lines repaints the pane once; the text is the
  // same as from one append per line.
  pane_->appendPlainText(lines.join(QLatin1Char('\n')));
  shownLines_ += static_cast<int>(queued_.size());
  queued_.clear();
}

void TLogPane::CutFromPane(int count) {
  if (count >= shownLines_) {
    pane_->clear();
    shownLines_ = 0;
    return;
  }
  const TReaderView view = ViewOf(pane_);
  const int removedCharacters = pane_->document()->findBlockByNumber(count).position();
  if (count > shownLines_ - count)
    KeepLinesFrom(pane_, count);
  else
    RemoveFirstLines(pane_, count);
  RestoreView(pane_, view, removedCharacters, count);
  shownLines_ -= count;
}
