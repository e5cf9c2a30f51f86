#pragma once

#include <QMainWindow>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "capture/monitor.h"
#include "capture/monitor_window.h"

class QAction;
class QCloseEvent;
class TAboutBox;
class QMenu;
class QPlainTextEdit;
class QShowEvent;
class QSplitter;
class TForm2;
class TFramePlacement;
struct TJob;
class TJobListModel;
class TJobListWindow;
class TJobResender;
class TLogPane;
class TTrayIcon;

// The window that stays on screen while the program runs: the port log and
// the message log side by side, the connection count in the caption, the
// Options menu and the Help menu. It is the face of the capture monitor, which lives inside it
// from creation to destruction.
class TForm1 : public QMainWindow, public TMonitorWindow {
  Q_OBJECT

 public:
  static constexpr int kDesignWidth = 490;
  static constexpr int kDesignHeight = 151;
  static constexpr int kPortsPaneWidth = 168;
  static constexpr int kSplitterWidth = 3;
  static constexpr int kMinimumPaneWidth = 30;
  // Pane output waits at most this long after the first queued line, so a
  // burst of connections repaints the window at most twenty times a second
  // rather than once per line.
  static constexpr int kPaneFlushDelayMs = 50;
  // Shown in the empty port log, which is empty after a start only when no
  // port is defined. It is no line of the log and counts as none.
  static constexpr const char* kNoPortsHint = "No ports yet: choose Options > Ports to add one";

  // Builds the window and starts the capture monitor on the settings file
  // beside the executable, so the listeners are open before any other window
  // exists.
  TForm1();
  // The same on the given settings file.
  explicit TForm1(std::string settingsPath);
  // Stops the capture monitor without close reports: the program is ending.
  ~TForm1() override;

  // The port list dialog that Ports opens; without one, Ports only restarts.
  void AttachPortList(TForm2* portList);

  // Puts the program's icon in the system tray when the desktop has one
  // (QSystemTrayIcon::isSystemTrayAvailable()), with the entry "Keep Running
  // in the Tray" ([Window] CloseToTray) in the Jobs menu and the tray menu.
  // Without a tray nothing changes: the close box ends the program.
  void SetUpTray(bool trayAvailable);
  TTrayIcon* Tray() const { return tray_; }
  // Whether the close box hides the window into the tray rather than ending.
  bool KeepsRunningInTray() const;
  // Shows the window, out of the tray or its minimized state, raised and
  // active.
  void ShowAndRaise();

  TCaptureMonitor& Monitor() { return monitor_; }

  // Hands every queued line and cut to the panes now, for whoever reads them.
  void FlushPanes();

  // Menu handlers.
  void Ports1Click();
  void DeleteFileifEmpty1Click();
  void Close1Click();
  // Help > About Tarnock: opens the About box over the window and returns.
  void About1Click();
  void JobSettings1Click();
  // Jobs > Job List: the list of finished jobs with its preview, made at
  // its first opening and kept (hidden) after it is closed.
  void JobList1Click();
  TJobListWindow* JobList() const { return jobList_; }
  // Close, asked for by a termination signal: an open box is closed, and a
  // failure during the end goes to standard error instead of a box.
  void EndOnSignal();

  // TMonitorWindow
  void ClearPortLog() override;
  void AppendPortLine(const std::string& line) override;
  void AppendMessageLine(const std::string& line) override;
  int MessageLineCount() const override;
  void DeleteFirstMessageLines(int count) override;
  void SetCaption(const std::string& caption) override;
  bool DeleteIfEmpty() const override;
  void SetDeleteIfEmpty(bool on) override;
  int Top() const override;
  int Left() const override;
  int Height() const override;
  void SetTop(int top) override;
  void SetLeft(int left) override;
  void SetHeight(int height) override;
  bool IsNormalState() const override;
  void PlacementApplied() override;
  void OpenCapture(const std::string& file) override;

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildPanes();
  void BuildMenu();
  void BuildHelpMenu();
  void BuildJobsMenu();
  void MakeJobList();
  void JobFinished(const TJob& job);
  // Asks where to, then sends the files there, reporting in the message log.
  void Resend(const QStringList& files);
  std::vector<std::string> PortFolders() const;
  // The Jobs menu's folder entries, one per port, made afresh from the
  // settings file each time the menu opens.
  void ListCaptureFolders();
  void ScheduleFlush();
  void ApplyCaption();
  void KeepInTray1Click();
  void UpdateTrayStatus();
  // Centred on the screen with the design width and the outer height last
  // asked for.
  QRect CentredPlacement() const;
  void SetOuterHeight(int height);
  void ApplyPendingPlacement();
  // Moves the frame, and cuts its height, until all of it is on the screen
  // that shows it.
  void KeepOnScreen();
  // Runs a handler body at the edge of its event (AtEventEdge). A failure
  // that escapes it goes to the general error box, over the window while it
  // is shown; once a signal asked for the end, to standard error instead.
  void Guarded(const std::function<void()>& body);

  std::string settingsPath_;
  QPlainTextEdit* PortsMemo = nullptr;
  QSplitter* Splitter1 = nullptr;
  QPlainTextEdit* MessageMemo = nullptr;
  QMenu* Options1 = nullptr;
  QAction* Ports2 = nullptr;
  QAction* DeleteifEmpty1 = nullptr;
  QAction* Close2 = nullptr;
  QMenu* Help1 = nullptr;
  QAction* About1 = nullptr;
  TAboutBox* aboutBox_ = nullptr;
  QMenu* Jobs1 = nullptr;
  QAction* JobList1 = nullptr;
  QAction* JobSettings1 = nullptr;
  TJobListWindow* jobList_ = nullptr;
  // The resends under way; each goes when it has done.
  std::vector<std::unique_ptr<TJobResender>> resends_;
  QList<QAction*> folderEntries_;
  // Only while a tray is there to keep the program in.
  QAction* KeepInTray1 = nullptr;
  TTrayIcon* tray_ = nullptr;
  // The file of the last size line, which the tray names as the last job.
  QString lastJobFile_;
  TForm2* portList_ = nullptr;
  QTimer flushTimer_;
  // A burst of closes changes the count many times in one loop turn; only
  // the last value is shown, once, at the end of the turn.
  QTimer captionTimer_;
  std::string pendingCaption_;
  std::unique_ptr<TLogPane> portLog_;
  std::unique_ptr<TLogPane> messageLog_;
  bool shownOnce_ = false;
  // The outer height last asked for, applied again once the frame is known.
  int outerHeight_ = kDesignHeight;
  TFramePlacement* placement_ = nullptr;
  // Placement read while the window was maximized or minimized; it is the
  // normal geometry's, applied when the window returns to its normal state.
  std::optional<int> pendingTop_;
  std::optional<int> pendingLeft_;
  bool pendingHeight_ = false;
  bool closing_ = false;
  bool endedBySignal_ = false;
  // Every finished job of this run, for the job list, which may be opened
  // only later. Declared before the monitor, which tells it of the jobs
  // that the program's end cuts short.
  std::unique_ptr<TJobListModel> jobs_;
  // Declared after the panes: it reports into them from its first start on.
  TCaptureMonitor monitor_;
};
