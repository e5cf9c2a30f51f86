#include "ui/message_box.h"

#include <QMessageBox>
#include <QString>
#include <cctype>
#include <exception>
#include <filesystem>

#include "ui/frame_placement.h"
#include "ui/window_style.h"

namespace {

// A box stands in the middle of the screen rather than over the dialog that
// raised it. Its size is settled only while it is being shown, so it is
// placed then.
class TCentredMessageBox : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;

 protected:
  void showEvent(QShowEvent* event) override {
    QMessageBox::showEvent(event);
    placement_->Place();
  }

 private:
  TFramePlacement* placement_ = new TFramePlacement(this, [this](const QMargins& frame) {
    return TFramePlacement::CentredOnScreen(this, size().grownBy(frame));
  });
};

TBoxHandler& Handler() {
  static TBoxHandler handler;
  return handler;
}

bool ShowReal(QWidget* parent, const TBoxRequest& request) {
  const bool confirm = request.Kind == TBoxKind::Confirmation;
  TCentredMessageBox box(confirm ? QMessageBox::Information : QMessageBox::Critical,
                         QString::fromUtf8(request.Caption), QString::fromUtf8(request.Text),
                         confirm ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok, parent);
  box.setDefaultButton(QMessageBox::Ok);
  ApplyProgramIcon(&box);
  return box.exec() == QMessageBox::Ok;
}

bool Show(QWidget* parent, TBoxKind kind, std::string caption, std::string text) {
  TBoxRequest request{kind, std::move(caption), std::move(text)};
  if (Handler()) return Handler()(request);
  return ShowReal(parent, request);
}

}  // namespace

void ShowErrorBox(QWidget* parent, const std::string& text) {
  Show(parent, TBoxKind::Error, "Error", text);
}

bool ConfirmBox(QWidget* parent, const std::string& text) {
  return Show(parent, TBoxKind::Confirmation, "Information", text);
}

void ShowGeneralErrorBox(QWidget* parent, const std::string& message) {
  std::string text = message;
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
  Show(parent, TBoxKind::GeneralError, ApplicationTitle(), text);
}

void AtEventEdge(const std::function<void()>& body,
                 const std::function<void(const std::string& message)>& report) {
  try {
    body();
  } catch (const std::exception& failure) {
    report(failure.what());
  }
}

void AtEventEdge(QWidget* parent, const std::function<void()>& body) {
  AtEventEdge(body, [parent](const std::string& message) { ShowGeneralErrorBox(parent, message); });
}

std::string ApplicationTitle() {
  std::error_code error;
  std::string name = std::filesystem::read_symlink("/proc/self/exe", error).filename().string();
  name = name.substr(0, name.find('.'));
  for (size_t i = 1; i < name.size(); ++i)
    name[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[i])));
  return name;
}

void SetMessageBoxHandler(TBoxHandler handler) { Handler() = std::move(handler); }
