#include "preview/printer_commands.h"

#include <type_traits>
#include <variant>

#include "preview/escpos_commands.h"
#include "preview/pjl_commands.h"
#include "preview/zpl_commands.h"

struct TCommandScanner::TLanguageScanner {
  std::variant<std::monostate, TEscPosCommands, TZplCommands, TPjlCommands> commands;

  void Start(TPrinterLanguage language) {
    switch (language) {
      case TPrinterLanguage::EscPos:
        commands.emplace<TEscPosCommands>();
        return;
      case TPrinterLanguage::Zpl:
        commands.emplace<TZplCommands>();
        return;
      case TPrinterLanguage::Pjl:
        commands.emplace<TPjlCommands>();
        return;
      case TPrinterLanguage::Text:
      case TPrinterLanguage::Pcl:
      case TPrinterLanguage::PostScript:
      case TPrinterLanguage::Pdf:
        break;
    }
    commands.emplace<std::monostate>();
  }

  template <typename TAction>
  void Apply(TAction action) {
    std::visit(
        [&](auto& scanner) {
          if constexpr (!std::is_same_v<std::decay_t<decltype(scanner)>, std::monostate>)
            action(scanner);
        },
        commands);
  }
};

TCommandScanner::TCommandScanner(TPrinterLanguage language)
    : language_(language), scanner_(std::make_unique<TLanguageScanner>()) {
  scanner_->Start(language_);
}

TCommandScanner::~TCommandScanner() = default;

void TCommandScanner::Scan(std::string_view bytes, uint64_t offset,
                           std::vector<TCommandMark>& marks) {
  if (offset != nextOffset_) scanner_->Start(language_);
  nextOffset_ = offset + bytes.size();
  scanner_->Apply([&](auto& scanner) { scanner.Scan(bytes, offset, marks); });
}

void TCommandScanner::Finish(std::vector<TCommandMark>& marks) {
  scanner_->Apply([&](auto& scanner) { scanner.Finish(marks); });
}
