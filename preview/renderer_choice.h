#pragma once

#include <string>
#include <string_view>

#include "preview/printer_language.h"

struct TRenderRequest;

inline constexpr const char* kGhostscriptMissing =
    "Ghostscript is not installed: sudo apt-get install ghostscript";

// Which program draws a capture's pages.
struct TRendererChoice {
  // How the failure lines name it: "Ghostscript", or the first word of the
  // user's command.
  std::string name;
  // What the page cache tells renderers apart by.
  std::string identity;
  bool userCommand = false;
  // Set when nothing can draw the capture.
  std::string failure;
};

// The user's command when there is one; else Ghostscript for PostScript and
// PDF, and for PJL that enters either; else the failure that names the
// setting to fill in.
TRendererChoice ChooseRenderer(const TRenderRequest& request);

// The settings key ([Jobs] section) naming the user's renderer for the
// language: "Renderer.PJL", "Renderer.PCL", "Renderer.PostScript",
// "Renderer.PDF", "Renderer.ZPL", "Renderer.ESCPOS" or "Renderer.Text". No
// slash, as the key is typed into an INI file by hand.
std::string RendererKey(TPrinterLanguage language);

// The user's renderer command for the language, read afresh from the
// settings file so an edit counts at the next render; empty when there is
// none or the file cannot be read.
std::string RendererCommand(const std::string& settingsPath, TPrinterLanguage language);

// Where rendered pages are cached: $XDG_CACHE_HOME/tarnock/pages, else
// ~/.cache/tarnock/pages; empty when neither variable names an absolute
// folder. The renderer makes the folder when it first needs it.
std::string PageCacheFolder();

// The language a PJL job enters, from its first bytes: the value of ENTER
// LANGUAGE, or what the first line that is no PJL starts. Text when the
// bytes tell neither.
TPrinterLanguage PjlEnteredLanguage(std::string_view firstBytes);

// The program's path from the PATH we run with; empty when it is in no
// folder there.
std::string FindProgram(const std::string& name);
