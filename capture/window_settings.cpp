#include "capture/window_settings.h"

#include "base/text.h"
#include "capture/ini_file.h"

void ReadWindowSettings(const std::string& settingsPath, TMonitorWindow& window) {
  // One read of the file for all five values.
  const TIniSnapshot settings = TIniFile(settingsPath).Load();
  window.SetTop(settings.ReadNumber("Window", "Top", 10));
  window.SetLeft(settings.ReadNumber("Window", "Left", 10));
  window.SetHeight(settings.ReadNumber("Window", "Height", window.Height()));
  window.PlacementApplied();
  window.SetDeleteIfEmpty(settings.ReadFlag("File", "DeleteIfEmpty", true));
}

// One write for the three values, so that a failed save leaves the old
// placement whole rather than a part of the new one.
void SavePlacement(const std::string& settingsPath, TMonitorWindow& window) {
  TIniFile(settingsPath)
      .WriteTexts("Window", {{"Top", FormatInteger(window.Top())},
                             {"Left", FormatInteger(window.Left())},
                             {"Height", FormatInteger(window.Height())}});
}
