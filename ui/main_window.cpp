#include "ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QShowEvent>
#include <QSplitter>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>

#include "base/log_writer.h"
#include "base/text.h"
#include "capture/ini_file.h"
#include "capture/log_lines.h"
#include "capture/port_definition.h"
#include "jobs/job_feature_set.h"
#include "jobs/job_resender.h"
#include "jobs/reply_rules.h"
#include "ui/about.h"
#include "ui/capture_opener.h"
#include "ui/frame_placement.h"
#include "ui/job_list_model.h"
#include "ui/job_list_window.h"
#include "ui/job_settings_dialog.h"
#include "ui/log_pane.h"
#include "ui/message_box.h"
#include "ui/options.h"
#include "ui/preview_pane.h"
#include "ui/resend_dialog.h"
#include "ui/tray_icon.h"
#include "ui/window_style.h"

namespace {

// Every pane line also goes to standard error, so that a terminal, the
// journal or a redirect keeps the whole history that the panes cut. There a
// line ends at LF, CR LF and a lone CR only (TLineEnds::Terminal); the
// characters that only the panes' text view starts a line at are text to a
// terminal. The writing happens off this thread: a reader that stalls must
// not stop the capturing.
void EchoToStandardError(const std::string& line) {
  std::string text;
  for (const std::string_view part : SplitLines(line, TLineEnds::Terminal)) {
    text += part;
    text += '\n';
  }
  StandardErrorLog().Write(text);
}

// A menu entry with its object name (tests and screen readers find it by
// that) and the handler its click runs.
template <typename Handler>
QAction* AddMenuEntry(QMenu* menu, const QString& caption, const char* name, Handler handler) {
  QAction* entry = menu->addAction(caption);
  entry->setObjectName(name);
  QObject::connect(entry, &QAction::triggered, menu, handler);
  return entry;
}

QPlainTextEdit* MakePane(const char* name, QWidget* parent) {
  auto* pane = new QPlainTextEdit(parent);
  pane->setObjectName(name);
  pane->setReadOnly(true);
  // Read-only still lets the operator select and copy a line.
  pane->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  // The logs grow all day; an undo history of them would only cost memory.
  pane->setUndoRedoEnabled(false);
  pane->setMinimumWidth(TForm1::kMinimumPaneWidth);
  // Without this the scroll bars' size hints would forbid the design height.
  pane->setMinimumHeight(TForm1::kMinimumPaneWidth);
  ApplySilverPane(pane);
  return pane;
}

}  // namespace

TForm1::TForm1() : TForm1(SettingsFilePath()) {}

TForm1::TForm1(std::string settingsPath)
    : settingsPath_(std::move(settingsPath)),
      jobs_(std::make_unique<TJobListModel>()),
      monitor_(*this, settingsPath_,
               JobFeaturesTelling([this](const TJob& job) { JobFinished(job); })) {
  setWindowTitle("Tarnock Log");
  ApplyDesignFont(this);
  ApplyProgramIcon(this);
  BuildPanes();
  BuildMenu();
  BuildHelpMenu();
  resize(kDesignWidth, kDesignHeight);
  placement_ = new TFramePlacement(this, [this](const QMargins&) { return CentredPlacement(); });
  flushTimer_.setSingleShot(true);
  flushTimer_.setInterval(kPaneFlushDelayMs);
  connect(&flushTimer_, &QTimer::timeout, this, [this] { FlushPanes(); });
  captionTimer_.setSingleShot(true);
  captionTimer_.setInterval(0);
  connect(&captionTimer_, &QTimer::timeout, this, [this] { ApplyCaption(); });
  Guarded([this] { monitor_.FormCreate(); });
}

TForm1::~TForm1() {
  // First the job list, whose index reading must end before the program
  // does, and which must not watch the jobs the stop below cuts short.
  delete std::exchange(jobList_, nullptr);
  resends_.clear();
  // The program is ending: sessions close without reports, and a failed
  // placement save is shown before the program goes on ending.
  monitor_.MarkDestroying();
  Guarded([this] { monitor_.FormDestroy(); });
}

void TForm1::BuildPanes() {
  auto* panel = new QWidget(this);
  panel->setObjectName("Panel1");
  auto* layout = new QVBoxLayout(panel);
  layout->setContentsMargins(0, 0, 0, 0);

  Splitter1 = new QSplitter(Qt::Horizontal, panel);
  Splitter1->setObjectName("Splitter1");
  Splitter1->setHandleWidth(kSplitterWidth);
  Splitter1->setChildrenCollapsible(false);
  // The border moves when the mouse button is released, as a rubber band
  // shows it while dragging.
  Splitter1->setOpaqueResize(false);

  PortsMemo = MakePane("PortsMemo", Splitter1);
  PortsMemo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  PortsMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  PortsMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  PortsMemo->setPlainText("PortsMemo");
  PortsMemo->setAccessibleName("Port log");
  PortsMemo->setPlaceholderText(kNoPortsHint);

  MessageMemo = MakePane("MessageMemo", Splitter1);
  MessageMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
  MessageMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  MessageMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  MessageMemo->setAccessibleName("Message log");

  Splitter1->addWidget(PortsMemo);
  Splitter1->addWidget(MessageMemo);
  portLog_ = std::make_unique<TLogPane>(PortsMemo);
  messageLog_ = std::make_unique<TLogPane>(MessageMemo);
  new TCaptureOpener(MessageMemo);
  // Widening the window widens the message log; the port log keeps its width.
  Splitter1->setStretchFactor(0, 0);
  Splitter1->setStretchFactor(1, 1);
  Splitter1->setSizes({kPortsPaneWidth, kDesignWidth - kPortsPaneWidth - kSplitterWidth});

  layout->addWidget(Splitter1);
  setCentralWidget(panel);
}

void TForm1::BuildMenu() {
  Options1 = menuBar()->addMenu("Options");
  Options1->setObjectName("Options1");

  Ports2 = AddMenuEntry(Options1, "Ports", "Ports2", [this] { Ports1Click(); });

  DeleteifEmpty1 = AddMenuEntry(Options1, "Delete if Empty", "DeleteifEmpty1",
                                [this] { DeleteFileifEmpty1Click(); });
  DeleteifEmpty1->setCheckable(true);
  DeleteifEmpty1->setChecked(true);

  Options1->addSeparator();

  Close2 = AddMenuEntry(Options1, "Close", "Close2", [this] { Close1Click(); });
  Close2->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

  BuildJobsMenu();
}

void TForm1::BuildJobsMenu() {
  Jobs1 = menuBar()->addMenu("Jobs");
  Jobs1->setObjectName("Jobs1");
  JobList1 = AddMenuEntry(Jobs1, "Job List", "JobList1", [this] { JobList1Click(); });
  JobSettings1 =
      AddMenuEntry(Jobs1, "Job Settings", "JobSettings1", [this] { JobSettings1Click(); });
  Jobs1->addSeparator();
  connect(Jobs1, &QMenu::aboutToShow, this, [this] { Guarded([this] { ListCaptureFolders(); }); });
}

void TForm1::ListCaptureFolders() {
  for (QAction* entry : folderEntries_) delete entry;
  folderEntries_.clear();
  for (const TPortEntry& port : PortEntries(TIniFile(settingsPath_).Load())) {
    const std::string folder = port.Definition.Directory;
    QString text = QString::fromStdString("Port " + port.Port + ": " + folder);
    // A "&" in a folder name is shown, not taken as an access key.
    text.replace('&', "&&");
    folderEntries_.push_back(AddMenuEntry(Jobs1, text, "CaptureFolder", [this, folder] {
      Guarded([this, &folder] { OpenCaptureFolder(this, folder); });
    }));
  }
}

void TForm1::JobList1Click() {
  Guarded([this] {
    if (jobList_ == nullptr) MakeJobList();
    jobList_->show();
    jobList_->raise();
    jobList_->activateWindow();
  });
}

void TForm1::MakeJobList() {
  TJobListWindow::TSetup setup{
      settingsPath_, [this] { return PortFolders(); },
      [this](const std::string& line) { monitor_.JobReports().JobFailure(line, line); }};
  jobList_ = new TJobListWindow(jobs_.get(), std::move(setup), this);
  auto* preview = new TPreviewPane(settingsPath_);
  jobList_->SetPreview(preview);
  connect(jobList_, &TJobListWindow::CurrentFileChanged, preview,
          [preview](const QString& path) { preview->ShowCapture(path.toStdString()); });
  connect(jobList_, &TJobListWindow::ResendRequested, this,
          [this](const QStringList& files) { Guarded([this, &files] { Resend(files); }); });
}

void TForm1::Resend(const QStringList& files) {
  TResendDialog dialog(settingsPath_, static_cast<int>(files.size()), jobList_);
  if (dialog.exec() != QDialog::Accepted || closing_) return;
  std::vector<std::string> paths;
  for (const QString& file : files) paths.push_back(file.toStdString());
  TResendReport report{
      [this](const std::string& text) { monitor_.JobReports().JobLine(text); },
      [this](const std::string& text) { monitor_.JobReports().JobFailure(text, text); },
      // Said in a turn of its own, so the resender may go inside it.
      [this] { std::erase_if(resends_, [](const auto& resend) { return resend->Finished(); }); }};
  resends_.push_back(
      std::make_unique<TJobResender>(std::move(paths), dialog.Target(), std::move(report)));
  resends_.back()->Start();
}

// Whatever the options: the list shows every job of the run.
void TForm1::JobFinished(const TJob& job) { jobs_->AddJob(THistoryRow::FromJob(job)); }

std::vector<std::string> TForm1::PortFolders() const {
  std::vector<std::string> folders;
  for (const TPortEntry& port : PortEntries(TIniFile(settingsPath_).Load()))
    folders.push_back(port.Definition.Directory);
  return folders;
}

void TForm1::JobSettings1Click() {
  Guarded([this] {
    TJobSettingsDialog dialog(
        settingsPath_, [](std::string_view rules) { return ParseReplyRules(rules).Error; }, this);
    dialog.LoadSettings();
    dialog.exec();
  });
}

// Help is the last menu of the bar, right of every other, where desktops
// keep it.
void TForm1::BuildHelpMenu() {
  Help1 = menuBar()->addMenu("Help");
  Help1->setObjectName("Help1");
  About1 = AddMenuEntry(Help1, "About Tarnock", "About1", [this] { About1Click(); });
}

void TForm1::AttachPortList(TForm2* portList) { portList_ = portList; }

void TForm1::SetUpTray(bool trayAvailable) {
  if (!trayAvailable || tray_) return;
  KeepInTray1 = new QAction("Keep Running in the Tray", this);
  KeepInTray1->setObjectName("KeepInTray1");
  KeepInTray1->setCheckable(true);
  Guarded([this] {
    KeepInTray1->setChecked(TIniFile(settingsPath_).ReadFlag("Window", "CloseToTray", false));
  });
  connect(KeepInTray1, &QAction::triggered, this, [this] { KeepInTray1Click(); });
  // Below Job Settings, above the folder entries that the menu lists anew.
  const QList<QAction*> entries = Jobs1->actions();
  Jobs1->insertAction(entries.value(entries.indexOf(JobSettings1) + 1), KeepInTray1);
  tray_ =
      new TTrayIcon(this, KeepInTray1,
                    {[this] { ShowAndRaise(); }, [this] { hide(); }, [this] { Close1Click(); }});
  // A hidden window is no reason to end: a box that closes while the window
  // sits in the tray would otherwise end the program. The close box ends it
  // explicitly instead (closeEvent).
  QApplication::setQuitOnLastWindowClosed(false);
  UpdateTrayStatus();
}

bool TForm1::KeepsRunningInTray() const { return KeepInTray1 && KeepInTray1->isChecked(); }

void TForm1::KeepInTray1Click() {
  // A checkable entry has already inverted its mark when it fires.
  Guarded([this] {
    TIniFile(settingsPath_).WriteFlag("Window", "CloseToTray", KeepInTray1->isChecked());
  });
}

void TForm1::ShowAndRaise() {
  if (windowState() & Qt::WindowMinimized) setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (tray_ && !closing_ && KeepsRunningInTray()) {
    event->ignore();
    hide();
    return;
  }
  QMainWindow::closeEvent(event);
  // The job list is no reason to go on: the program ends with its window.
  if (jobList_ != nullptr) jobList_->close();
  // With a tray, the last window closing no longer ends the program by
  // itself.
  if (tray_ && !closing_) Close1Click();
}

void TForm1::Ports1Click() {
  Guarded([this] {
    if (portList_) {
      portList_->CreateRows();
      portList_->SortRows();
      portList_->exec();
    }
    // Ending the program from inside the dialog also ends its loop; the
    // destruction that follows stops the monitor, so no restart then.
    if (closing_) return;
    monitor_.Restart();
  });
}

void TForm1::DeleteFileifEmpty1Click() {
  // A checkable entry has already inverted its mark when it fires.
  Guarded([this] {
    TIniFile(settingsPath_).WriteFlag("File", "DeleteIfEmpty", DeleteifEmpty1->isChecked());
  });
}

void TForm1::Close1Click() {
  closing_ = true;
  // quit() ends every running loop, a modal dialog's included.
  QCoreApplication::quit();
}

void TForm1::About1Click() {
  Guarded([this] {
    // Made afresh each time: the settings file it names is decided once, but
    // the README may have been installed or removed meanwhile.
    delete aboutBox_;
    aboutBox_ = new TAboutBox(settingsPath_, this);
    aboutBox_->open();
  });
}

void TForm1::EndOnSignal() {
  endedBySignal_ = true;
  // A box opened after the event loop has ended, such as a failed save at
  // the end, runs a loop of its own that quit() no longer reaches.
  if (QWidget* box = QApplication::activeModalWidget()) box->close();
  Close1Click();
}

void TForm1::Guarded(const std::function<void()>& body) {
  AtEventEdge(body, [this](const std::string& message) {
    // Nobody may be there to answer a box once a signal asked for the end:
    // a service has no screen, and a closed terminal no operator.
    if (endedBySignal_)
      StandardErrorLog().Write(message + "\n");
    else
      ShowGeneralErrorBox(isVisible() ? this : nullptr, message);
  });
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shownOnce_) return;
  shownOnce_ = true;
  placement_->Place();
}

QRect TForm1::CentredPlacement() const {
  return TFramePlacement::FittedOnScreen(
      this, TFramePlacement::CentredOnScreen(this, QSize(kDesignWidth, outerHeight_)));
}

// The window manager restores the normal geometry itself when the state
// changes; the placement read meanwhile goes on top of that, a turn later.
void TForm1::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && IsNormalState())
    QTimer::singleShot(0, this, [this] { ApplyPendingPlacement(); });
}

void TForm1::ApplyPendingPlacement() {
  if (!IsNormalState()) return;
  const bool pending = pendingHeight_ || pendingTop_ || pendingLeft_;
  if (pendingHeight_) SetOuterHeight(outerHeight_);
  if (pendingTop_ || pendingLeft_)
    placement_->MoveFrameTo({pendingLeft_.value_or(Left()), pendingTop_.value_or(Top())});
  pendingHeight_ = false;
  pendingTop_.reset();
  pendingLeft_.reset();
  if (pending) KeepOnScreen();
}

// A stored placement may come from a larger screen or from another screen
// layout; the operator could then not reach the bottom of the window, and the
// next end would store the same placement again.
void TForm1::KeepOnScreen() {
  const QRect outer = placement_->Outer();
  const QRect fitted = TFramePlacement::FittedOnScreen(this, outer);
  if (fitted == outer) return;
  outerHeight_ = fitted.height();
  if (fitted.size() != outer.size()) placement_->ResizeFrameTo(fitted.size());
  placement_->MoveFrameTo(fitted.topLeft());
}

// ---------------------------------------------------------------------------
// What the capture monitor writes into the window.

void TForm1::ClearPortLog() { portLog_->Clear(); }

void TForm1::AppendPortLine(const std::string& line) {
  EchoToStandardError(line);
  portLog_->Append(line);
  ScheduleFlush();
}

void TForm1::AppendMessageLine(const std::string& line) {
  EchoToStandardError(line);
  if (tray_) {
    if (const std::optional<std::string> file = CaptureFileNamedIn(line))
      lastJobFile_ = QString::fromStdString(*file);
  }
  messageLog_->Append(line);
  ScheduleFlush();
}

int TForm1::MessageLineCount() const { return messageLog_->LineCount(); }

void TForm1::DeleteFirstMessageLines(int count) {
  // Cutting from the top after the queued lines reach the bottom leaves the
  // same text, so the cut waits for the flush too.
  messageLog_->CutFirst(count);
  ScheduleFlush();
}

void TForm1::ScheduleFlush() {
  if (!flushTimer_.isActive()) flushTimer_.start();
}

void TForm1::FlushPanes() {
  flushTimer_.stop();
  portLog_->Flush();
  messageLog_->Flush();
}

void TForm1::SetCaption(const std::string& caption) {
  pendingCaption_ = caption;
  if (!captionTimer_.isActive()) captionTimer_.start();
}

void TForm1::ApplyCaption() {
  // Setting the same caption again would still update the frame.
  const QString text = QString::fromUtf8(pendingCaption_);
  if (text != windowTitle()) setWindowTitle(text);
  UpdateTrayStatus();
}

void TForm1::UpdateTrayStatus() {
  if (tray_) tray_->SetStatus(windowTitle(), lastJobFile_);
}

bool TForm1::DeleteIfEmpty() const { return DeleteifEmpty1->isChecked(); }

void TForm1::SetDeleteIfEmpty(bool on) { DeleteifEmpty1->setChecked(on); }

// Placement is the outer frame in screen pixels. A placement read at a
// restart replaces what is left of the centring at the first showing. While
// the window is maximized or minimized, it waits for the normal state, so
// that the window stays as the operator left it.
int TForm1::Top() const { return placement_->Outer().top(); }

int TForm1::Left() const { return placement_->Outer().left(); }

int TForm1::Height() const { return placement_->Outer().height(); }

void TForm1::SetTop(int top) {
  placement_->Finish();
  if (IsNormalState())
    placement_->MoveFrameTo({Left(), top});
  else
    pendingTop_ = top;
}

void TForm1::SetLeft(int left) {
  placement_->Finish();
  if (IsNormalState())
    placement_->MoveFrameTo({left, Top()});
  else
    pendingLeft_ = left;
}

void TForm1::SetHeight(int height) {
  placement_->Finish();
  outerHeight_ = height;
  if (IsNormalState())
    SetOuterHeight(height);
  else
    pendingHeight_ = true;
}

void TForm1::SetOuterHeight(int height) {
  placement_->ResizeFrameTo({placement_->Outer().width(), height});
}

void TForm1::PlacementApplied() {
  // A maximized or minimized window is fitted when it returns to normal.
  if (IsNormalState()) KeepOnScreen();
}

// A job notification's Open: like a double click on the job's size line.
void TForm1::OpenCapture(const std::string& file) {
  Guarded([this, &file] { OpenCaptureFile(this, file); });
}

bool TForm1::IsNormalState() const {
  return !(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
}
