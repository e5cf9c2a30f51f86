#include "preview/renderer_choice.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <cstdlib>

#include "base/system_calls.h"
#include "capture/ini_file.h"
#include "capture/job_settings.h"
#include "preview/page_renderer.h"

namespace {

// PJL headers are short; this much holds any sensible one.
constexpr std::size_t kPjlHeadBytes = 64 * 1024;

std::string ReadHead(const std::string& path, std::size_t size) {
  std::string head(size, '\0');
  const int handle = OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (handle < 0) return {};
  std::size_t filled = 0;
  while (filled < size) {
    const ssize_t got = ReadRetrying(handle, head.data() + filled, size - filled);
    if (got <= 0) break;
    filled += static_cast<std::size_t>(got);
  }
  CloseOnce(handle);
  head.resize(filled);
  return head;
}

TPrinterLanguage LanguageNamed(std::string value) {
  value = QByteArray::fromStdString(value).trimmed().toUpper().toStdString();
  if (value == "POSTSCRIPT") return TPrinterLanguage::PostScript;
  if (value == "PDF") return TPrinterLanguage::Pdf;
  if (value == "PCL" || value == "PCLXL") return TPrinterLanguage::Pcl;
  if (value == "ZPL") return TPrinterLanguage::Zpl;
  return TPrinterLanguage::Text;
}

bool DrawnByGhostscript(TPrinterLanguage language) {
  return language == TPrinterLanguage::PostScript || language == TPrinterLanguage::Pdf;
}

std::string FirstWord(const std::string& command) {
  const std::size_t start = command.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return command;
  return command.substr(start, command.find_first_of(" \t\r\n", start) - start);
}

}  // namespace

TPrinterLanguage PjlEnteredLanguage(std::string_view bytes) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    if (bytes.substr(at).starts_with(kUniversalExit)) {
      at += kUniversalExit.size();
      continue;
    }
    const std::size_t end = bytes.find('\n', at);
    const std::string_view line = bytes.substr(at, end == std::string_view::npos ? end : end - at);
    const std::string upper =
        QByteArray(line.data(), static_cast<qsizetype>(line.size())).toUpper().toStdString();
    if (!upper.starts_with("@PJL")) return DetectPrinterLanguage(bytes.substr(at));
    const std::size_t enter = upper.find("ENTER LANGUAGE");
    if (enter != std::string::npos) {
      const std::size_t equals = upper.find('=', enter);
      if (equals != std::string::npos) return LanguageNamed(upper.substr(equals + 1));
    }
    if (end == std::string_view::npos) break;
    at = end + 1;
  }
  return TPrinterLanguage::Text;
}

std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string_view folders = path == nullptr ? "" : path;
  while (!folders.empty()) {
    const std::size_t colon = folders.find(':');
    const std::string_view folder = folders.substr(0, colon);
    folders = colon == std::string_view::npos ? std::string_view() : folders.substr(colon + 1);
    // An empty entry would mean the working folder: never a place we run
    // a program from.
    if (folder.empty()) continue;
    const std::string candidate = std::string(folder) + "/" + name;
    struct stat status {};
    if (FileCalls().PathStatus(candidate.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
        FileCalls().Access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  return {};
}

TRendererChoice ChooseRenderer(const TRenderRequest& request) {
  if (!request.userCommand.empty())
    return {FirstWord(request.userCommand), "command\n" + request.userCommand, true, {}};
  TPrinterLanguage drawn = request.language;
  if (drawn == TPrinterLanguage::Pjl)
    drawn = PjlEnteredLanguage(ReadHead(request.capture, kPjlHeadBytes));
  if (DrawnByGhostscript(drawn)) return {"Ghostscript", "ghostscript", false, {}};
  return {{},
          {},
          false,
          "No renderer for " + PrinterLanguageName(request.language) +
              ": name one in Job Settings (" + RendererKey(request.language) + "=)"};
}

std::string RendererKey(TPrinterLanguage language) {
  // The shown name with what an INI key should not hold taken out.
  std::string name = PrinterLanguageName(language);
  std::erase(name, '/');
  return std::string(TJobSettings::kRendererPrefix) + name;
}

std::string RendererCommand(const std::string& settingsPath, TPrinterLanguage language) {
  try {
    return TIniFile(settingsPath).Load().ReadText("Jobs", RendererKey(language), "");
  } catch (const std::exception&) {
    // An unreadable settings file names no command: the built-in choice
    // still draws what it can, and its failure line says what to set.
    return {};
  }
}

std::string PageCacheFolder() {
  const char* configured = std::getenv("XDG_CACHE_HOME");
  if (configured != nullptr && configured[0] == '/')
    return std::string(configured) + "/tarnock/pages";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.cache/tarnock/pages";
  return {};
}
