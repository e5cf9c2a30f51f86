#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/monitor_window.h"

class TWSocket;

// The monitor's listeners: one per port, all addresses of both IPv4 and
// IPv6, each reported in the port log as it opens; one that got IPv4 alone
// for a reason other than a host without IPv6 says why on a line of its own.
class TListeners {
 public:
  using TSessionAvailable = std::function<void(TWSocket& listener)>;

  TListeners(TMonitorWindow& window, TSessionAvailable sessionAvailable);
  ~TListeners();
  TListeners(const TListeners&) = delete;
  TListeners& operator=(const TListeners&) = delete;

  // Opens one listener per port text. A port that cannot be opened, for
  // whatever reason, is reported busy; the others are opened all the same.
  // A busy port whose holder the platform tells gets a line naming it after
  // its error line, for the first kMaxHoldersNamed busy ports of an opening.
  void Open(const std::vector<std::string>& portTexts);
  void CloseAll();
  // From now on closing one raises no events.
  void MarkDestroying();
  int Count() const { return static_cast<int>(listeners_.size()); }

  // Naming a holder reads every process's descriptors on the UI thread, some
  // milliseconds each time: a file of many ports that another copy holds
  // must not freeze the start.
  static constexpr int kMaxHoldersNamed = 8;

 private:
  void NameHolder(const std::string& port, int& holdersNamed);

  TMonitorWindow& window_;
  TSessionAvailable sessionAvailable_;
  std::vector<std::unique_ptr<TWSocket>> listeners_;
};
