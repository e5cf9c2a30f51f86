#include "jobs/status_conversation.h"

#include <exception>
#include <optional>
#include <utility>

#include "capture/ini_file.h"
#include "jobs/status_responder.h"

namespace {

using TReport = std::function<void(const std::string& key, const std::string& text)>;

constexpr const char* kLanguages = "none, escpos, zpl, pjl";
constexpr const char* kStates = "ready, paper out, cover open, offline";

std::string NothingAnswered(const std::string& port, const std::string& why) {
  return "Port " + port + ": " + why + "; nothing is answered";
}

// The state read afresh for every query, so that the operator (or a test)
// can switch it while a client stays connected. A state the file spells
// wrongly, or a file that cannot be read, leaves the last good one in force.
class TPrinterStateReader {
 public:
  TPrinterStateReader(std::string settingsPath, std::string port, TPrinterState state,
                      TReport report)
      : settingsPath_(std::move(settingsPath)),
        port_(std::move(port)),
        state_(state),
        report_(std::move(report)) {}

  TPrinterState operator()() {
    std::string text;
    try {
      text = TJobSettings::Read(TIniFile(settingsPath_).Load(), port_).PrinterState;
    } catch (const std::exception&) {
      return state_;
    }
    if (const std::optional<TPrinterState> state = ParsePrinterState(text.empty() ? "ready" : text))
      state_ = *state;
    else
      report_("printer state\n" + port_, "Port " + port_ + ": PrinterState=" + text +
                                             " is no printer state (" + kStates +
                                             "); the last one stays");
    return state_;
  }

 private:
  std::string settingsPath_;
  std::string port_;
  TPrinterState state_;
  TReport report_;
};

class TStatusConversation : public TJobConversation {
 public:
  TStatusConversation(TReplyLanguage language, std::vector<TReplyRule> rules,
                      TStatusResponder::TStateReader readState)
      : responder_(language, std::move(rules), std::move(readState)) {}
  void Received(std::string_view bytes, std::string& replies) override {
    responder_.Received(bytes, replies);
  }
  int64_t Answered() const override { return responder_.Answered(); }

 private:
  TStatusResponder responder_;
};

}  // namespace

std::unique_ptr<TJobConversation> MakeStatusConversation(const TJob& job,
                                                         const std::string& settingsPath,
                                                         const TReport& report) {
  const TJobSettings& options = job.Options;
  if (options.Replies.empty() && options.ReplyRules.empty()) return nullptr;
  const std::string key = "replies\n" + job.Port;
  const std::optional<TReplyLanguage> language =
      ParseReplyLanguage(options.Replies.empty() ? "none" : options.Replies);
  if (!language) {
    report(key, NothingAnswered(job.Port, "Replies=" + options.Replies + " is no reply language (" +
                                              kLanguages + ")"));
    return nullptr;
  }
  const std::string stateText = options.PrinterState.empty() ? "ready" : options.PrinterState;
  const std::optional<TPrinterState> state = ParsePrinterState(stateText);
  if (!state) {
    report(key, NothingAnswered(job.Port, "PrinterState=" + options.PrinterState +
                                              " is no printer state (" + kStates + ")"));
    return nullptr;
  }
  TParsedReplyRules rules = ParseReplyRules(options.ReplyRules);
  if (!rules.Error.empty()) {
    report(key, NothingAnswered(job.Port, rules.Error));
    return nullptr;
  }
  if (*language == TReplyLanguage::None && rules.Rules.empty()) return nullptr;
  return std::make_unique<TStatusConversation>(
      *language, std::move(rules.Rules),
      TPrinterStateReader(settingsPath, job.Port, *state, report));
}
