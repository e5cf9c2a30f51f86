#pragma once

#include <QAbstractScrollArea>
#include <cstdint>
#include <string>
#include <vector>

#include "preview/command_mark.h"
#include "preview/printer_language.h"
#include "preview/text_page.h"
#include "ui/text_rows.h"

class TPagedFile;

enum class TByteViewMode { Hex, Text };

// The text or the hex view of a capture. It lays out and draws only the rows
// in view, from one window of the file read for them, so a capture of any
// size opens at once and costs the same memory. The vertical scroll bar
// spans the whole file; past INT_MAX positions its range is scaled. For the
// languages with command tables the bytes of each command in view get a
// background and its name is in MarksInView and in a tooltip.
class TByteView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  // Bytes read past the last row in view, so that a command running out of
  // view is still recognised and marked.
  static constexpr std::size_t kMarkLookahead = 256;

  explicit TByteView(TByteViewMode mode, QWidget* parent = nullptr);

  // Shows the file from its start; nullptr shows nothing. The file must
  // outlive the view's use of it.
  void SetFile(const TPagedFile* file, TPrinterLanguage language, TTextEncoding encoding);

  // Scrolls so that the row holding the offset is the first in view.
  void ScrollToOffset(uint64_t offset);
  uint64_t TopOffset() const { return top_; }

  const std::vector<TByteRow>& RowsInView() const { return rows_; }
  const std::vector<TCommandMark>& MarksInView() const { return marks_; }

 signals:
  void MarksChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool viewportEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  int VisibleRows() const;
  int Columns() const;
  uint64_t FileSize() const;
  uint64_t LastTop() const;
  uint64_t Span() const;
  int ToBar(uint64_t top) const;
  uint64_t FromBar(int value) const;
  uint64_t Aligned(uint64_t offset) const;
  uint64_t RowAfter(uint64_t top) const;
  uint64_t RowBefore(uint64_t top) const;
  void BarActed(int action);
  void BarMoved(int value);
  void SetTop(uint64_t top);
  void LayOut();
  void LayOutHex(const std::string& window);
  void LayOutText(const std::string& window);
  void MarkCommands(const std::string& window);
  void SyncBar();
  const TCommandMark* MarkAt(int64_t byte) const;
  const TCommandMark* MarkUnder(QPoint point) const;

  TByteViewMode mode_;
  const TPagedFile* file_ = nullptr;
  TPrinterLanguage language_ = TPrinterLanguage::Text;
  TTextEncoding encoding_ = TTextEncoding::Utf8;
  uint64_t top_ = 0;
  std::vector<TByteRow> rows_;
  std::vector<TCommandMark> marks_;
  bool syncingBar_ = false;
};
