#include "ui/preview_pane.h"

#include <malloc.h>

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QThreadPool>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <memory>
#include <utility>
#include <vector>

#include "base/exceptions.h"
#include "base/text.h"
#include "preview/page_renderer.h"
#include "preview/paged_file.h"
#include "preview/receipt_renderer.h"
#include "preview/renderer_choice.h"
#include "ui/byte_view.h"
#include "ui/message_box.h"
#include "ui/page_view.h"

namespace {

constexpr int kHexTab = 1;
constexpr int kPagesTab = 2;

constexpr const char* kNoCacheFolder =
    "No folder for the page cache: neither XDG_CACHE_HOME nor HOME names one";
constexpr const char* kPrintsNothing = "The capture prints nothing";

QString HexOffset(uint64_t offset) { return QString("%1").arg(offset, 16, 16, QChar('0')); }

// A receipt's input and pages take tens of megabytes, much of it in the
// pool thread's own heap, which the C library keeps once it is freed: it is
// handed back, so that the program's memory returns to what it was.
void ReturnFreedMemory() { ::malloc_trim(0); }

// What the receipt skipped, each once and the first few only: a capture
// that is no receipt at all gives a note for nearly every byte.
std::string NotesLine(const std::vector<std::string>& notes) {
  constexpr std::size_t kShown = 5;
  std::vector<std::string> distinct;
  for (const std::string& note : notes)
    if (std::find(distinct.begin(), distinct.end(), note) == distinct.end())
      distinct.push_back(note);
  std::string line;
  for (std::size_t i = 0; i < distinct.size() && i < kShown; ++i) {
    if (!line.empty()) line += "; ";
    line += distinct[i];
  }
  if (distinct.size() > kShown) {
    line += "; and ";
    line += FormatInteger(static_cast<int64_t>(distinct.size() - kShown));
    line += " more";
  }
  return line;
}

// The capture's first bytes, at most the limit, read window by window.
std::string ReadHead(const TPagedFile& file, std::size_t limit) {
  std::string bytes;
  while (bytes.size() < limit) {
    const std::string window =
        file.Read(bytes.size(), std::min(limit - bytes.size(), TPagedFile::kMaxWindowBytes));
    if (window.empty()) break;
    bytes += window;
  }
  return bytes;
}

}  // namespace

TPreviewPane::TPreviewPane(std::string settingsPath, QWidget* parent)
    : QWidget(parent), settingsPath_(std::move(settingsPath)) {
  setObjectName("PreviewPane");
  setAccessibleName("Preview");
  languageLine_ = new QLabel(this);
  languageLine_->setObjectName("lblLanguage");
  languageLine_->setAccessibleName("Language");
  size_ = new QLabel(this);
  size_->setObjectName("lblSize");
  size_->setAccessibleName("Size");
  text_ = new TByteView(TByteViewMode::Text, this);
  text_->setObjectName("TextView");
  text_->setAccessibleName("Text view");
  hex_ = new TByteView(TByteViewMode::Hex, this);
  hex_->setObjectName("HexView");
  hex_->setAccessibleName("Hex view");
  pages_ = new TPageView(this);
  pages_->setObjectName("PageView");
  pages_->setAccessibleName("Pages");
  tabs_ = new QTabWidget(this);
  tabs_->setObjectName("tabPreview");
  tabs_->setAccessibleName("Preview tabs");
  tabs_->addTab(text_, "Text");
  tabs_->addTab(hex_, "Hex");
  tabs_->addTab(pages_, "Pages");
  commands_ = new QListWidget(this);
  commands_->setObjectName("lstCommands");
  commands_->setAccessibleName("Commands in view");
  commands_->setMaximumHeight(6 * commands_->fontMetrics().height());
  commands_->verticalScrollBar()->setAccessibleName("Commands position");
  commands_->horizontalScrollBar()->setAccessibleName("Commands sideways");
  tabs_->tabBar()->setAccessibleName("Preview tabs");

  auto* header = new QHBoxLayout;
  header->addWidget(languageLine_);
  header->addStretch();
  header->addWidget(size_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(header);
  layout->addWidget(tabs_, 1);
  layout->addWidget(commands_);

  connect(tabs_, &QTabWidget::currentChanged, this,
          [this] { AtEventEdge(this, [this] { TabShown(); }); });
  for (TByteView* view : {text_, hex_})
    connect(view, &TByteView::MarksChanged, this,
            [this, view] { AtEventEdge(this, [this, view] { ListMarks(view); }); });
  // Enter or a double click on a command brings it to the top of the view.
  connect(commands_, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
    AtEventEdge(this, [this, item] {
      (tabs_->currentIndex() == kHexTab ? hex_ : text_)
          ->ScrollToOffset(item->data(Qt::UserRole).toULongLong());
    });
  });
  NewRenderer();
}

TPreviewPane::~TPreviewPane() = default;

void TPreviewPane::ShowCapture(const std::string& path) {
  Forget();
  if (path.empty()) return;
  try {
    Open(path);
  } catch (const Exception& failure) {
    Forget();
    languageLine_->setText(QString::fromStdString(failure.Message()));
    return;
  }
  if (tabs_->currentIndex() == kPagesTab) StartRender();
}

void TPreviewPane::Open(const std::string& path) {
  path_ = path;
  file_ = std::make_unique<TPagedFile>(path);
  // The encoding's probe is the larger: the language's bytes come from the
  // window it leaves, with no second read.
  const TTextEncoding encoding = DetectTextEncoding(*file_);
  language_ = DetectPrinterLanguage(file_->Read(0, kLanguageProbeBytes));
  languageLine_->setText(QString::fromStdString("Language: " + PrinterLanguageName(language_)));
  size_->setText(
      QString::fromStdString(FormatInteger(static_cast<int64_t>(file_->Size())) + " bytes"));
  text_->SetFile(file_.get(), language_, encoding);
  hex_->SetFile(file_.get(), language_, encoding);
}

// Shows nothing, and abandons a drawing under way: its pages would belong
// to the capture shown before.
void TPreviewPane::Forget() {
  ++shown_;
  NewRenderer();
  text_->SetFile(nullptr, TPrinterLanguage::Text, TTextEncoding::Utf8);
  hex_->SetFile(nullptr, TPrinterLanguage::Text, TTextEncoding::Utf8);
  file_.reset();
  path_.clear();
  pagesDrawn_ = false;
  pages_->Clear();
  if (std::exchange(receiptShown_, false)) ReturnFreedMemory();
  languageLine_->clear();
  size_->clear();
  commands_->clear();
}

void TPreviewPane::NewRenderer() {
  // Deleting the renderer ends its program and everything it started.
  delete renderer_;
  renderer_ = new TPageRenderer(this);
  connect(renderer_, &TPageRenderer::Finished, this, [this](const TRenderResult& result) {
    AtEventEdge(this, [this, &result] { RenderFinished(result); });
  });
}

void TPreviewPane::TabShown() {
  if (tabs_->currentIndex() == kPagesTab) {
    if (file_ != nullptr && !pagesDrawn_) StartRender();
    return;
  }
  ListMarks(tabs_->currentIndex() == kHexTab ? hex_ : text_);
}

void TPreviewPane::StartRender() {
  pagesDrawn_ = true;
  const std::string command = RendererCommand(settingsPath_, language_);
  if (command.empty() && language_ == TPrinterLanguage::EscPos) {
    DrawReceipt();
    return;
  }
  request_ = TRenderRequest{};
  request_.capture = path_;
  request_.language = language_;
  request_.userCommand = command;
  request_.cacheFolder = PageCacheFolder();
  // A user's command draws what it draws; Ghostscript can stop early.
  request_.lastPage = command.empty() ? 1 : 0;
  if (request_.cacheFolder.empty()) {
    pages_->ShowFailure(kNoCacheFolder);
    return;
  }
  pages_->ShowWorking();
  renderer_->Start(request_);
}

// A long receipt takes a good part of a second to draw: it is drawn on a
// thread of the pool, from a file of its own, and shown when it comes back
// if its capture is still the one shown. The pool is waited for when the
// program ends.
void TPreviewPane::DrawReceipt() {
  pages_->ShowWorking();
  QPointer<TPreviewPane> pane(this);
  QThreadPool::globalInstance()->start([pane, path = path_, shown = shown_] {
    auto drawn = std::make_shared<TDrawnReceipt>();
    try {
      drawn->receipt = RenderReceipt(ReadHead(TPagedFile(path), kMaxReceiptBytes));
    } catch (const std::exception& failure) {
      drawn->failure = failure.what();
    }
    ReturnFreedMemory();
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [pane, shown, drawn] {
          if (pane && pane->shown_ == shown) AtEventEdge(pane, [&] { pane->ReceiptDrawn(*drawn); });
        },
        Qt::QueuedConnection);
  });
}

void TPreviewPane::ReceiptDrawn(TDrawnReceipt& drawn) {
  if (!drawn.failure.empty()) {
    pages_->ShowFailure(drawn.failure);
    return;
  }
  receiptShown_ = true;
  TReceipt& receipt = drawn.receipt;
  if (receipt.pages.empty()) {
    pages_->ShowFailure(kPrintsNothing);
    return;
  }
  pages_->ShowImages(std::move(receipt.pages), NotesLine(receipt.notes));
}

void TPreviewPane::RenderFinished(const TRenderResult& result) {
  if (!result.failure.empty()) {
    pages_->ShowFailure(result.failure);
    return;
  }
  const bool firstPageOnly = request_.lastPage > 0;
  pages_->ShowFiles(result.pages, firstPageOnly);
  if (!firstPageOnly) return;
  // The rest of the job, once this signal is done with the renderer.
  request_.lastPage = 0;
  QMetaObject::invokeMethod(
      renderer_, [renderer = renderer_, request = request_] { renderer->Start(request); },
      Qt::QueuedConnection);
}

// The marks of the view shown; the other view's changes wait for its tab.
void TPreviewPane::ListMarks(const TByteView* view) {
  if (view != (tabs_->currentIndex() == kHexTab ? hex_ : text_)) return;
  commands_->clear();
  for (const TCommandMark& mark : view->MarksInView()) {
    auto* item = new QListWidgetItem(
        HexOffset(mark.offset) + "  " + QString::fromStdString(mark.name), commands_);
    item->setData(Qt::UserRole, QVariant::fromValue<qulonglong>(mark.offset));
  }
}
