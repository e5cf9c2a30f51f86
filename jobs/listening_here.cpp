#include "jobs/listening_here.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "base/exceptions.h"
#include "base/system_calls.h"
#include "base/whole_file.h"
#include "net/port_holder.h"

namespace {

// /proc/net/tcp holds a line of about 150 bytes per socket.
constexpr off_t kMaxTableSize = 64 * 1024 * 1024;

// "socket:[<inode>]" for each listener of the port in the table.
std::vector<std::string> ListenerLinks(const char* table, uint16_t port) {
  std::vector<std::string> links;
  try {
    for (uint64_t inode : ListeningSocketInodes(LoadWholeFile(table, kMaxTableSize).content, port))
      links.push_back("socket:[" + std::to_string(inode) + "]");
  } catch (const EInOutError&) {
    // A kernel without IPv6 has no tcp6 table: nothing listens there.
  }
  return links;
}

std::vector<std::string> OwnDescriptorLinks() {
  std::vector<std::string> links;
  std::error_code error;
  for (const auto& descriptor : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    char target[64];
    const ssize_t length = FileCalls().ReadLink(descriptor.path().c_str(), target, sizeof target);
    if (length > 0 && static_cast<size_t>(length) < sizeof target)
      links.emplace_back(target, static_cast<size_t>(length));
  }
  return links;
}

bool AnyHeld(const std::vector<std::string>& listeners, const std::vector<std::string>& held) {
  return std::any_of(listeners.begin(), listeners.end(), [&](const std::string& link) {
    return std::find(held.begin(), held.end(), link) != held.end();
  });
}

}  // namespace

TListeningFamilies ListeningHere(uint16_t port) {
  const std::vector<std::string> ipv4 = ListenerLinks("/proc/net/tcp", port);
  const std::vector<std::string> ipv6 = ListenerLinks("/proc/net/tcp6", port);
  if (ipv4.empty() && ipv6.empty()) return {};
  const std::vector<std::string> held = OwnDescriptorLinks();
  return {AnyHeld(ipv4, held), AnyHeld(ipv6, held)};
}
