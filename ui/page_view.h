#pragma once

#include <QImage>
#include <QWidget>
#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QScrollArea;

// The Pages tab: one page image at a time, with Previous and Next, "Page 2
// of 10", and zoom to fit the pane or 1:1. A failure to draw the pages is
// one line in place of the page. Pages drawn by a program are PNG files of
// the cache, each loaded only while it is the page shown.
class TPageView : public QWidget {
  Q_OBJECT

 public:
  explicit TPageView(QWidget* parent = nullptr);

  void Clear();
  void ShowWorking();
  void ShowImages(std::vector<QImage> pages, const std::string& notes);
  // With morePages, the pages are the first of a job whose others are
  // still being drawn.
  void ShowFiles(std::vector<std::string> pages, bool morePages = false);
  void ShowFailure(const std::string& failure);

  int PageCount() const;
  int PageIndex() const { return index_; }
  // The page as shown (scaled when zoomed to fit); null when there is none.
  QImage ShownImage() const { return shown_; }

  void ShowPage(int index);
  void SetFitToPane(bool fit);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  QImage Page(int index) const;
  void Redraw();
  void SetLine(QLabel* label, const std::string& text);

  QPushButton* previous_;
  QPushButton* next_;
  QLabel* number_;
  QPushButton* fit_;
  QPushButton* actualSize_;
  QLabel* failure_;
  QLabel* notes_;
  QScrollArea* scroller_;
  QLabel* image_;
  std::vector<QImage> images_;
  std::vector<std::string> files_;
  // The page at index_ as loaded, once per page: a resize only scales it.
  QImage page_;
  QImage shown_;
  int index_ = 0;
  bool fitToPane_ = true;
  bool morePages_ = false;
};
