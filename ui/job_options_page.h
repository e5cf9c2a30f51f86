#pragma once

#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/job_settings.h"
#include "ui/after_job_try_row.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLayout;
class QLineEdit;

// A field that does not parse: the message that names what is wrong, and
// the field to put the operator back into.
struct TFieldError {
  std::string Message;
  QWidget* Field = nullptr;
};

// The options of one entry of Job Settings: All ports (the [Jobs] section)
// or one port. On a port's page each shared option either follows All ports,
// showing its value greyed, or has the port's own value ("Own value"
// ticked); below them come the options that only a port has, the status
// replies.
class TJobOptionsPage : public QWidget {
 public:
  // The All ports page.
  TJobOptionsPage(TAfterJobTryRow::TLimitsSource limits, QWidget* parent);
  // A port's page; allPorts is the page whose values it follows.
  TJobOptionsPage(std::string port, const TJobOptionsPage* allPorts,
                  TAfterJobTryRow::TLimitsSource limits, QWidget* parent);
  ~TJobOptionsPage() override;

  bool IsAllPorts() const { return allPorts_ == nullptr; }
  const std::string& Port() const { return port_; }

  // Shows the values in force; on a port's page ownKeys are the keys its
  // section sets, and the port's own keys come from the same values.
  void Load(const TJobSettings& values, const std::vector<std::string>& ownKeys = {});
  // The options that follow All ports show its fields as they stand now,
  // edits not yet written included.
  void FollowAllPorts();

  // Puts the fields into values and ownKeys, which come filled with what
  // the file holds now: the options that have no field keep that. On a
  // port's page ownKeys become the keys the port sets itself. The error is
  // the first own field, in the page's order, that does not parse.
  std::optional<TFieldError> Read(TJobSettings& values, std::vector<std::string>& ownKeys) const;

  QLineEdit* ReplyRulesField() const { return eReplyRules; }
  // A command that Try still runs is stopped without the page.
  void AbandonTry();

 private:
  // One shared option: its key, the field that holds its value (a check box,
  // a line edit or a spin box), "Own value" on a port's page, and how the
  // field's value goes into the options (the message when it does not
  // parse, "" when it does).
  struct TOptionRow {
    const char* Key;
    QWidget* Field;
    QCheckBox* Own;
    std::function<std::string(TJobSettings&)> Store;
  };

  void Build(TAfterJobTryRow::TLimitsSource limits);
  void AddHeading(const QString& text);
  QCheckBox* AddFlag(const char* key, const char* name, const char* title, const char* explanation,
                     bool TJobSettings::*flag);
  void AddField(QWidget* field, const char* key, const char* name, const char* title,
                const char* explanation, std::function<std::string(TJobSettings&)> store);
  // The field goes into its cell alone, or within the given layout.
  void AddRow(QWidget* title, QWidget* field, const char* key, const char* explanation,
              std::function<std::string(TJobSettings&)> store, QLayout* cell = nullptr);
  QCheckBox* AddOwnBox(QWidget* field, const char* key, const QString& title);
  void AddExplanation(const char* explanation, QWidget* field);
  void AddLimitFields();
  void AddAfterJobField(TAfterJobTryRow::TLimitsSource limits);
  void AddReplyFields();
  void AddRendererFields();
  QComboBox* AddChoice(const char* name, const char* title, const char* explanation,
                       const std::vector<const char*>& choices);
  void FollowOption(const TOptionRow& row);
  const TOptionRow* RowOf(std::string_view key) const;

  std::string port_;
  const TJobOptionsPage* allPorts_ = nullptr;
  QGridLayout* grid_ = nullptr;
  std::vector<TOptionRow> rows_;

  QLineEdit* edAfterJob = nullptr;
  TAfterJobTryRow* try_ = nullptr;
  QComboBox* cbReplies = nullptr;
  QComboBox* cbPrinterState = nullptr;
  QLineEdit* eReplyRules = nullptr;
  // The renderer fields by their keys; on the All ports page only.
  std::vector<std::pair<std::string, QLineEdit*>> renderers_;
};
