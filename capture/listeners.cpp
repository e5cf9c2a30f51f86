#include "capture/listeners.h"

#include <utility>

#include "capture/log_lines.h"
#include "net/port_holder.h"
#include "net/wsocket.h"

TListeners::TListeners(TMonitorWindow& window, TSessionAvailable sessionAvailable)
    : window_(window), sessionAvailable_(std::move(sessionAvailable)) {}

TListeners::~TListeners() = default;

void TListeners::Open(const std::vector<std::string>& portTexts) {
  int holdersNamed = 0;
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
      // IPv4 senders are served all the same; the line tells why IPv6 ones
      // are not.
      if (!listener->IPv4OnlyReason().empty())
        window_.AppendPortLine("Port " + listener->Port() +
                               " listens on IPv4 only: " + listener->IPv4OnlyReason());
    } catch (...) {
      window_.AppendPortLine(TimestampPrefix() + "ERROR: Port " + listener->Port() + " is busy");
      NameHolder(listener->Port(), holdersNamed);
    }
    listeners_.push_back(std::move(listener));
  }
}

// Another copy of the program, the user service for one, is the usual
// holder; the error line keeps its words and this line follows it.
void TListeners::NameHolder(const std::string& port, int& holdersNamed) {
  if (holdersNamed >= kMaxHoldersNamed) return;
  ++holdersNamed;
  const std::string holder = PortHolderNote(port);
  if (!holder.empty()) window_.AppendPortLine("Port " + port + " is " + holder);
}

void TListeners::CloseAll() {
  for (auto& listener : listeners_) listener->Close();
  listeners_.clear();
}

void TListeners::MarkDestroying() {
  for (auto& listener : listeners_) listener->MarkDestroying();
}
