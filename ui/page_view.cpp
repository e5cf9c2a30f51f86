#include "ui/page_view.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/message_box.h"

namespace {

QPushButton* MakeButton(QWidget* parent, const char* name, const char* text, const char* spoken) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(name);
  button->setAccessibleName(spoken);
  return button;
}

}  // namespace

TPageView::TPageView(QWidget* parent) : QWidget(parent) {
  previous_ = MakeButton(this, "btnPreviousPage", "Previous", "Previous page");
  next_ = MakeButton(this, "btnNextPage", "Next", "Next page");
  number_ = new QLabel(this);
  number_->setObjectName("lblPageNumber");
  number_->setAccessibleName("Page number");
  fit_ = MakeButton(this, "btnZoomFit", "Fit", "Zoom to fit");
  actualSize_ = MakeButton(this, "btnZoomActual", "1:1", "Zoom 1:1");
  for (QPushButton* zoom : {fit_, actualSize_}) zoom->setCheckable(true);
  fit_->setChecked(true);
  auto* zoomGroup = new QButtonGroup(this);
  zoomGroup->addButton(fit_);
  zoomGroup->addButton(actualSize_);

  failure_ = new QLabel(this);
  failure_->setObjectName("lblPageFailure");
  failure_->setAccessibleName("Page failure");
  failure_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  notes_ = new QLabel(this);
  notes_->setObjectName("lblPageNotes");
  notes_->setAccessibleName("Page notes");
  // A long line wraps in the pane's width instead of widening the window.
  for (QLabel* line : {failure_, notes_}) {
    line->setWordWrap(true);
    line->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  }
  image_ = new QLabel(this);
  image_->setObjectName("lblPageImage");
  image_->setAccessibleName("Page image");
  image_->setAlignment(Qt::AlignCenter);
  scroller_ = new QScrollArea(this);
  scroller_->setObjectName("scrPage");
  scroller_->setAccessibleName("Page");
  scroller_->setWidget(image_);
  scroller_->setWidgetResizable(true);
  scroller_->setAlignment(Qt::AlignCenter);
  scroller_->verticalScrollBar()->setAccessibleName("Page position");
  scroller_->horizontalScrollBar()->setAccessibleName("Page sideways");

  auto* bar = new QHBoxLayout;
  for (QWidget* control : std::initializer_list<QWidget*>{previous_, number_, next_})
    bar->addWidget(control);
  bar->addStretch();
  bar->addWidget(fit_);
  bar->addWidget(actualSize_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(bar);
  layout->addWidget(failure_);
  layout->addWidget(notes_);
  layout->addWidget(scroller_, 1);

  connect(previous_, &QPushButton::clicked, this,
          [this] { AtEventEdge(this, [this] { ShowPage(index_ - 1); }); });
  connect(next_, &QPushButton::clicked, this,
          [this] { AtEventEdge(this, [this] { ShowPage(index_ + 1); }); });
  connect(fit_, &QPushButton::clicked, this,
          [this] { AtEventEdge(this, [this] { SetFitToPane(true); }); });
  connect(actualSize_, &QPushButton::clicked, this,
          [this] { AtEventEdge(this, [this] { SetFitToPane(false); }); });
  Clear();
}

void TPageView::Clear() {
  images_.clear();
  files_.clear();
  index_ = 0;
  page_ = QImage();
  morePages_ = false;
  SetLine(failure_, "");
  SetLine(notes_, "");
  Redraw();
}

void TPageView::ShowWorking() {
  Clear();
  number_->setText("Drawing the pages...");
}

void TPageView::ShowImages(std::vector<QImage> pages, const std::string& notes) {
  Clear();
  images_ = std::move(pages);
  SetLine(notes_, notes);
  ShowPage(0);
}

void TPageView::ShowFiles(std::vector<std::string> pages, bool morePages) {
  Clear();
  files_ = std::move(pages);
  morePages_ = morePages;
  ShowPage(0);
}

void TPageView::ShowFailure(const std::string& failure) {
  Clear();
  SetLine(failure_, failure);
}

int TPageView::PageCount() const {
  return static_cast<int>(images_.empty() ? files_.size() : images_.size());
}

void TPageView::ShowPage(int index) {
  index_ = std::clamp(index, 0, std::max(0, PageCount() - 1));
  page_ = Page(index_);
  Redraw();
}

void TPageView::SetFitToPane(bool fit) {
  fitToPane_ = fit;
  fit_->setChecked(fit);
  actualSize_->setChecked(!fit);
  scroller_->setWidgetResizable(fit);
  Redraw();
}

void TPageView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (fitToPane_) Redraw();
}

QImage TPageView::Page(int index) const {
  if (index < 0 || index >= PageCount()) return {};
  const auto at = static_cast<std::size_t>(index);
  return images_.empty() ? QImage(QString::fromStdString(files_[at])) : images_[at];
}

void TPageView::Redraw() {
  const int count = PageCount();
  QString number =
      count == 0 ? QString("No pages") : QString("Page %1 of %2").arg(index_ + 1).arg(count);
  if (morePages_) number = QString("Page %1, drawing the others...").arg(index_ + 1);
  number_->setText(number);
  previous_->setEnabled(index_ > 0);
  next_->setEnabled(index_ + 1 < count);
  shown_ = page_;
  if (!shown_.isNull() && fitToPane_) {
    const QSize room = scroller_->viewport()->size();
    if (shown_.width() > room.width() || shown_.height() > room.height())
      shown_ = shown_.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  }
  image_->setPixmap(shown_.isNull() ? QPixmap() : QPixmap::fromImage(shown_));
  if (!fitToPane_) image_->adjustSize();
}

void TPageView::SetLine(QLabel* label, const std::string& text) {
  label->setText(QString::fromStdString(text));
  label->setVisible(!text.empty());
}
