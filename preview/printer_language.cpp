#include "preview/printer_language.h"

#include <algorithm>

namespace {

using namespace std::string_view_literals;

bool StartsWith(std::string_view bytes, std::string_view prefix) {
  return bytes.substr(0, prefix.size()) == prefix;
}

// Leading blanks, line ends and the end-of-job byte some drivers put first.
std::string_view WithoutLeadingNoise(std::string_view bytes) {
  const std::size_t first = bytes.find_first_not_of(" \t\r\n\x04"sv);
  return first == std::string_view::npos ? std::string_view() : bytes.substr(first);
}

// ZPL commands start with a caret or a tilde and two letters; a label
// starts with ^XA, often after a few ~ commands.
bool LooksLikeZpl(std::string_view bytes) {
  return StartsWith(bytes, "^XA"sv) ||
         (bytes.size() > 2 && bytes[0] == '~' && bytes.find("^XA"sv) != std::string_view::npos);
}

// PCL's reset (ESC E) and its parameterised commands (ESC & and ESC * with
// a lower-case group letter); ESC/POS begins with ESC @ or GS.
bool LooksLikePcl(std::string_view bytes) {
  if (bytes.size() < 2 || bytes[0] != '\x1b') return false;
  if (bytes[1] == 'E') return true;
  return (bytes[1] == '&' || bytes[1] == '*') && bytes.size() > 2 && bytes[2] >= 'a' &&
         bytes[2] <= 'z';
}

bool LooksLikeEscPos(std::string_view bytes) {
  if (bytes.empty()) return false;
  if (bytes[0] == '\x1d') return true;
  return bytes.size() > 1 && bytes[0] == '\x1b' &&
         std::string_view("@!-3aEGMRtdJ*"sv).find(bytes[1]) != std::string_view::npos;
}

}  // namespace

TPrinterLanguage DetectPrinterLanguage(std::string_view firstBytes) {
  const std::string_view probe = firstBytes.substr(0, kLanguageProbeBytes);
  if (StartsWith(probe, kUniversalExit) || StartsWith(probe, "@PJL"sv))
    return TPrinterLanguage::Pjl;
  const std::string_view bytes = WithoutLeadingNoise(probe);
  if (StartsWith(bytes, "%PDF-"sv)) return TPrinterLanguage::Pdf;
  if (StartsWith(bytes, "%!"sv)) return TPrinterLanguage::PostScript;
  if (LooksLikeZpl(bytes)) return TPrinterLanguage::Zpl;
  if (LooksLikePcl(bytes)) return TPrinterLanguage::Pcl;
  if (LooksLikeEscPos(bytes)) return TPrinterLanguage::EscPos;
  return TPrinterLanguage::Text;
}

std::string PrinterLanguageName(TPrinterLanguage language) {
  switch (language) {
    case TPrinterLanguage::Pjl:
      return "PJL";
    case TPrinterLanguage::Pcl:
      return "PCL";
    case TPrinterLanguage::PostScript:
      return "PostScript";
    case TPrinterLanguage::Pdf:
      return "PDF";
    case TPrinterLanguage::Zpl:
      return "ZPL";
    case TPrinterLanguage::EscPos:
      return "ESC/POS";
    case TPrinterLanguage::Text:
      break;
  }
  return "Text";
}
