#pragma once

#include <QString>
#include <deque>
#include <string_view>

class QPlainTextEdit;

// One of the main window's logs: a read-only pane that lines are appended to
// and cut from at the top. Lines and cuts wait in a queue until Flush hands
// them to the pane in one append, so a burst of connections costs one
// repaint; lines that a cut removes before they were shown never reach the
// pane at all, which keeps a large cut as cheap as a small one.
class TLogPane {
 public:
  // Whatever comes in, a pane holds no more than this many lines, the oldest
  // going first: a flood of connections or errors cannot exhaust memory, and
  // standard error keeps the whole history.
  static constexpr int kMaxLines = 5000;

  // While the pane is empty and shows its placeholder text, its accessible
  // description holds that text.
  explicit TLogPane(QPlainTextEdit* pane);

  // Appends UTF-8 text, a line for each line the pane's text view shows
  // (SplitLines with TLineEnds::TextView).
  void Append(std::string_view text);
  // Cuts count lines from the top (all of them when count is larger).
  void CutFirst(int count);
  void Clear();
  // Lines in the log, queued ones included and cut ones not.
  int LineCount() const { return lineCount_; }
  // Hands the queued cut and lines to the pane.
  void Flush();

 private:
  void CutFromPane(int count);

  QPlainTextEdit* pane_;
  std::deque<QString> queued_;
  // Lines shown in the pane, and how many of them are to be cut at the flush.
  int shownLines_ = 0;
  int pendingCut_ = 0;
  int lineCount_ = 0;
};
