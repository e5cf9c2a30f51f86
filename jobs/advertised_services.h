#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class TIniSnapshot;

// The mDNS transports a service is announced on, as the Avahi daemon numbers
// them.
enum class TAdvertProtocol : int32_t { Any = -1, IPv4 = 0, IPv6 = 1 };

// One port as the network is to find it through DNS-SD.
struct TServiceAdvert {
  // The port as [Ports] spells it, for the lines about it.
  std::string Port;
  uint16_t Number = 0;
  // The instance name, at most kMaxServiceNameBytes.
  std::string Name;
  // "_pdl-datastream._tcp" or "_printer._tcp".
  std::string Type;
  // "key=value" strings, each at most kMaxTxtStringBytes.
  std::vector<std::string> Txt;
  TAdvertProtocol Protocol = TAdvertProtocol::Any;

  bool operator==(const TServiceAdvert&) const = default;
};

// What the ports with Advertise=1 publish, and why the others that ask for it
// cannot be published.
struct TAdvertPlan {
  std::vector<TServiceAdvert> Services;
  // "Port 9100 not advertised: ..." lines, in file order.
  std::vector<std::string> Refusals;
};

// Which address families this process listens on a port with.
struct TListeningFamilies {
  bool IPv4 = false;
  bool IPv6 = false;
};
using TListeningCheck = std::function<TListeningFamilies(uint16_t port)>;

// DNS labels hold 63 bytes, and a TXT record's strings 255 each.
inline constexpr std::size_t kMaxServiceNameBytes = 63;
inline constexpr std::size_t kMaxTxtStringBytes = 255;
// The queue a port receiving LPD jobs is announced with; it takes jobs for
// any queue, so the name only tells the operator where a job came from.
inline constexpr const char* kAdvertisedLpdQueue = "tarnock";

// Every port of [Ports] whose section says Advertise=1, in file order: its
// name from ServiceName (default "Tarnock on <host> port <n>"), its type from
// Protocol, its TXT record (txtvers, ty, product, note from the port's
// comment, pdl from its Replies profile, rp for LPD). A port that nothing of
// this process listens on is refused, so that no client is sent where no
// one answers; one that listens on IPv4 alone is announced over IPv4 alone.
TAdvertPlan PlanAdvertisements(const TIniSnapshot& settings, std::string_view hostName,
                               const TListeningCheck& listening);

// The name to try after a collision: "Name" gives "Name #2", "Name #2" gives
// "Name #3"; the front is shortened, never inside a UTF-8 character, so that
// the whole stays within kMaxServiceNameBytes.
std::string AlternativeServiceName(std::string_view name);

// The document format a reply profile's printers take, as a MIME type; empty
// for no profile or a name no profile has.
std::string PdlForReplies(std::string_view replies);

// This machine's name up to its first dot, as the default name shows it.
std::string ShortHostName();
