#pragma once

#include <string>

#include "capture/monitor_window.h"

// What the settings file keeps of the main window: its placement ([Window]
// Top, Left, Height) and the Delete if Empty flag ([File] DeleteIfEmpty, on
// by default).
void ReadWindowSettings(const std::string& settingsPath, TMonitorWindow& window);
// Saves the placement; a failed write raises "Unable to write to %s".
void SavePlacement(const std::string& settingsPath, TMonitorWindow& window);
