#include "capture/listeners.h"

#include <utility>

#include "capture/log_lines.h"
#include "net/wsocket.h"

TListeners::TListeners(TMonitorWindow& window, TSessionAvailable sessionAvailable)
    : window_(window), sessionAvailable_(std::move(sessionAvailable)) {}

TListeners::~TListeners() = default;

void TListeners::Open(const std::vector<std::string>& portTexts) {
  for (const std::string& portText : portTexts) {
    auto listener = std::make_unique<TWSocket>();
    listener->SetAddr("0.0.0.0");
    listener->SetProto("tcp");
    listener->SetPort(portText);
    listener->OnSessionAvailable = [this](TCustomWSocket* sender, uint16_t /*error*/) {
      sessionAvailable_(static_cast<TWSocket&>(*sender));
    };
    try {
      listener->Listen();
      window_.AppendPortLine("Listening on port " + listener->Port());
    } catch (...) {
      window_.AppendPortLine(TimestampPrefix() + "ERROR: Port " + listener->Port() + " is busy");
    }
    listeners_.push_back(std::move(listener));
  }
}

void TListeners::CloseAll() {
  for (auto& listener : listeners_) listener->Close();
  listeners_.clear();
}

void TListeners::MarkDestroying() {
  for (auto& listener : listeners_) listener->MarkDestroying();
}
