#pragma once

#include <functional>
#include <memory>
#include <string>

#include "capture/job_features.h"

// Answers the status queries of a port's peers as a printer of the port's
// language would, in the state the settings file gives it at that moment.
// Nothing when the port's options ask for no answers, or spell them wrongly:
// then the line says why (through report) and the port answers nothing, as a
// port without the options does.
std::unique_ptr<TJobConversation> MakeStatusConversation(
    const TJob& job, const std::string& settingsPath,
    const std::function<void(const std::string& key, const std::string& text)>& report);
