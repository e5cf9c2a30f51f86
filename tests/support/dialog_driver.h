#pragma once

#include <QDialog>
#include <QEvent>
#include <QTimer>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "ui/message_box.h"

// Answers every message box instead of an operator and keeps what it showed.
class TBoxRecorder {
 public:
  TBoxRecorder() {
    SetMessageBoxHandler([this](const TBoxRequest& request) {
      Boxes.push_back(request);
      return Consent;
    });
  }
  ~TBoxRecorder() { SetMessageBoxHandler({}); }
  TBoxRecorder(const TBoxRecorder&) = delete;
  TBoxRecorder& operator=(const TBoxRecorder&) = delete;

  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const TBoxRequest& box : Boxes) texts.push_back(box.Text);
    return texts;
  }

  std::vector<TBoxRequest> Boxes;
  bool Consent = true;  // the answer to confirmation boxes
};

// Plays one step each time a dialog is shown, from inside its modal loop.
// A showing with no step left is cancelled and counted, so a test never
// hangs on a dialog it did not expect.
template <typename Dialog>
class TModalScript : public QObject {
 public:
  using TStep = std::function<void(Dialog&)>;

  explicit TModalScript(Dialog& dialog) : dialog_(dialog) { dialog_.installEventFilter(this); }
  ~TModalScript() override { dialog_.removeEventFilter(this); }

  TModalScript& Then(TStep step) {
    steps_.push_back(std::move(step));
    return *this;
  }

  int Showings = 0;
  int Unexpected = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == &dialog_ && event->type() == QEvent::Show) {
      ++Showings;
      QTimer::singleShot(0, this, [this] { PlayNext(); });
    }
    return false;
  }

 private:
  void PlayNext() {
    if (steps_.empty()) {
      ++Unexpected;
      dialog_.reject();
      return;
    }
    TStep step = std::move(steps_.front());
    steps_.pop_front();
    step(dialog_);
  }

  Dialog& dialog_;
  std::deque<TStep> steps_;
};
