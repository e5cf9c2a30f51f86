#pragma once

#include <QStringList>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

class QAction;
class QLineEdit;
class QPushButton;
class QSplitter;
class QTableView;
class TJobIndexLoader;
class TJobListModel;
class TRememberedSize;

// The Job List: every finished job the program knows of, a filter above
// them, the actions on the selected jobs beside them (buttons, context menu
// and keys), and a preview pane on the right. Not modal. The ports' job
// indexes are read off the UI thread when it is first opened. It keeps its
// size, column widths and splitter in the settings file.
class TJobListWindow : public QWidget {
  Q_OBJECT

 public:
  struct TSetup {
    std::string SettingsPath;
    // The ports' capture folders, whose job indexes are read at the first
    // opening.
    std::function<std::vector<std::string>()> ListPortFolders;
    // One line per index that could not be read: "Job index <path>: <why>".
    std::function<void(const std::string&)> FailureLine;
  };

  static constexpr const char* kSection = "Job List";
  static constexpr const char* kColumnsKey = "Columns";
  static constexpr const char* kSplitterKey = "Splitter";

  // The model stays the caller's and must outlive the window.
  TJobListWindow(TJobListModel* model, TSetup setup, QWidget* parent = nullptr);
  ~TJobListWindow() override;

  // Puts the preview pane right of the list; the window takes it over.
  void SetPreview(QWidget* pane);

  // The actions on the selected rows; each catches its own failures.
  void OpenSelected();
  void OpenSelectedFolder();
  void CopySelectedPaths();
  void ResendSelected();
  void DeleteSelected();

  // The confirmation Delete asks: "Delete 1 capture?", "Delete 3 captures?".
  static std::string DeleteQuestion(std::size_t count);
  // Whether the first opening's read of the indexes is still running.
  bool Loading() const;

 signals:
  void CurrentFileChanged(const QString& path);
  void ResendRequested(const QStringList& files);

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void BuildControls();
  QPushButton* AddButton(const char* text, const char* name, const char* description,
                         void (TJobListWindow::*action)());
  void AddMenuAction(const QString& text, void (TJobListWindow::*action)());
  void ConnectModel();
  // Rows selected, in the shown order; each checked for its file.
  std::vector<int> SelectedRows();
  void Guarded(const std::function<void()>& body);
  void FirstOpening();
  void RestoreLayout();
  void SaveLayout();
  std::string ColumnsText() const;
  std::string SplitterText() const;
  void CurrentRowChanged();
  void KeepTopRowInView(int first, int last);

  TJobListModel* model_;
  TSetup setup_;
  TRememberedSize* size_;
  TJobIndexLoader* loader_;
  QLineEdit* edFilter = nullptr;
  QTableView* tvJobs = nullptr;
  QSplitter* splJobList = nullptr;
  QWidget* preview_ = nullptr;
  bool opened_ = false;
  // The layout as read, so a file nobody changed it in stays as it was.
  // The last column fills the width left, so only the others are kept.
  std::string columnsRead_;
  // The reader dragged the splitter (setSizes does not count).
  bool splitterMoved_ = false;
  // The row at the top before rows come in above it; -1 at the very top.
  int topRowBeforeInsert_ = -1;
};
