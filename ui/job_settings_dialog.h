#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/ini_file.h"

class QListWidget;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class TJobOptionsPage;
class TRememberedSize;
struct TFieldError;

// Job Settings: a list of entries on the left, All ports (the [Jobs]
// section) first and then every port of the port list, and the options of
// the selected entry on the right, each with a short explanation. It shows
// what the settings file holds when it opens. Edits survive switching
// entries; OK writes them all, and Cancel, Escape and the close box change
// nothing. The option pages scroll, so the dialog fits any screen, and it
// keeps the size the operator gives it.
class TJobSettingsDialog : public QDialog {
  Q_OBJECT

 public:
  // Answers "" for rules that parse, else the message that names the bad
  // rule.
  using TReplyRulesCheck = std::function<std::string(std::string_view rulesText)>;

  // The section of the settings file that keeps the dialog's size.
  static constexpr const char* kSizeSection = "Job Settings Window";

  TJobSettingsDialog(std::string settingsPath, TReplyRulesCheck checkReplyRules,
                     QWidget* parent = nullptr);
  ~TJobSettingsDialog() override;

  // Reads the settings file afresh: the entries, the All ports options and
  // the kept size. A port's page is filled from this same read when it is
  // first shown.
  void LoadSettings();
  // Selects the entry: 0 is All ports, then the ports in the list's order.
  void SelectEntry(int entry);
  // Writes every page shown so far to the settings file and closes; a file
  // that cannot be read or written shows the general error box and leaves
  // the dialog open, and so does a field that does not parse or reply
  // rules the check refuses, in an error box that names it, with that
  // entry selected and the field focused. Nothing escapes it.
  void btnOKClick();
  // Closing the dialog stops every command that Try still runs, and keeps
  // the size when the operator has resized the dialog.
  void done(int result) override;

 private:
  TJobOptionsPage* PageOf(int entry);
  void AddEntry(const QString& text);
  // False, after an error box, when a field does not parse; raises when the
  // file cannot be read or written.
  bool SaveSettings();
  bool Refused(int entry, const TFieldError& error);

  std::string settingsPath_;
  TReplyRulesCheck checkReplyRules_;
  TIniSnapshot settings_;
  std::vector<std::string> ports_;
  // One per entry, made when the entry is first selected.
  std::vector<TJobOptionsPage*> pages_;
  std::vector<QScrollArea*> pageAreas_;
  QListWidget* lbEntries = nullptr;
  QStackedWidget* stPages = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;
  TRememberedSize* size_ = nullptr;
};
