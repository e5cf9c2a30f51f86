#pragma once

#include <string>
#include <string_view>

// The printer languages a capture's first bytes tell apart. Text is what
// none of the others claims.
enum class TPrinterLanguage { Text, Pjl, Pcl, PostScript, Pdf, Zpl, EscPos };

// The universal exit that starts and ends a job wrapped in PJL.
constexpr std::string_view kUniversalExit = "\x1b%-12345X";

// How many first bytes the detection looks at.
constexpr std::size_t kLanguageProbeBytes = 4096;

// The language of a capture from its first bytes (at most
// kLanguageProbeBytes are looked at). A job wrapped in PJL (it starts with
// the universal exit) is PJL, whatever it enters.
TPrinterLanguage DetectPrinterLanguage(std::string_view firstBytes);

// "PJL", "PCL", "PostScript", "PDF", "ZPL", "ESC/POS" or "Text".
std::string PrinterLanguageName(TPrinterLanguage language);
