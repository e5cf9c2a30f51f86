#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>

#include "preview/page_renderer.h"
#include "preview/printer_language.h"
#include "preview/receipt_renderer.h"
#include "preview/text_page.h"

class QLabel;
class QListWidget;
class QTabWidget;
class TByteView;
class TPageView;
class TPagedFile;

// The preview beside the job list: the capture's language and size, and
// tabs with its text, its hex dump (both marking the printer commands in
// view, listed below them) and its pages. Pages are drawn only when their
// tab is shown; showing another capture abandons a drawing under way.
class TPreviewPane : public QWidget {
  Q_OBJECT

 public:
  // The most bytes of an ESC/POS capture the built-in receipt reads: far
  // more than its page limit can show, and the memory it costs stays
  // bounded whatever the capture's size.
  static constexpr std::size_t kMaxReceiptBytes = 32 * 1024 * 1024;

  explicit TPreviewPane(std::string settingsPath, QWidget* parent = nullptr);
  ~TPreviewPane() override;

  // Shows the capture at the path; an empty path shows nothing. A capture
  // that cannot be opened says why in the language line.
  void ShowCapture(const std::string& path);

 private:
  void Open(const std::string& path);
  void Forget();
  void TabShown();
  void StartRender();
  void DrawReceipt();
  // A receipt as a thread of the pool drew it, or why it could not.
  struct TDrawnReceipt {
    TReceipt receipt;
    std::string failure;
  };
  void ReceiptDrawn(TDrawnReceipt& drawn);
  void RenderFinished(const TRenderResult& result);
  void ListMarks(const TByteView* view);
  void NewRenderer();

  std::string settingsPath_;
  std::string path_;
  std::unique_ptr<TPagedFile> file_;
  TPrinterLanguage language_ = TPrinterLanguage::Text;
  bool pagesDrawn_ = false;
  // A receipt drawn here is shown: its memory is handed back when it goes.
  bool receiptShown_ = false;
  // Counts the captures shown, so a receipt drawn for an earlier one is
  // dropped.
  uint64_t shown_ = 0;
  // Ghostscript draws the first page alone first, then the whole job.
  TRenderRequest request_;
  QLabel* languageLine_;
  QLabel* size_;
  QTabWidget* tabs_;
  TByteView* text_;
  TByteView* hex_;
  TPageView* pages_;
  QListWidget* commands_;
  TPageRenderer* renderer_ = nullptr;
};
