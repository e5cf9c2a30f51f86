#include "capture/window_settings.h"

#include "capture/ini_file.h"

void ReadWindowSettings(const std::string& settingsPath, TMonitorWindow& window) {
  const TIniFile settings(settingsPath);
  window.SetTop(settings.ReadNumber("Window", "Top", 10));
  window.SetLeft(settings.ReadNumber("Window", "Left", 10));
  window.SetHeight(settings.ReadNumber("Window", "Height", window.Height()));
  window.PlacementApplied();
  window.SetDeleteIfEmpty(settings.ReadFlag("File", "DeleteIfEmpty", true));
}

void SavePlacement(const std::string& settingsPath, TMonitorWindow& window) {
  TIniFile settings(settingsPath);
  settings.WriteNumber("Window", "Top", window.Top());
  settings.WriteNumber("Window", "Left", window.Left());
  settings.WriteNumber("Window", "Height", window.Height());
}
