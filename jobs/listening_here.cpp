#include "jobs/listening_here.h"

#include <string>
#include <vector>

#include "net/port_holder.h"

TListeningFamilies ListeningHere(uint16_t port) {
  const std::vector<std::string> ipv4 = ListeningSocketLinks("/proc/net/tcp", port);
  const std::vector<std::string> ipv6 = ListeningSocketLinks("/proc/net/tcp6", port);
  return {ProcessHoldsAnyOf("/proc/self", ipv4), ProcessHoldsAnyOf("/proc/self", ipv6)};
}
