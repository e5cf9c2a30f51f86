#pragma once

// The addresses of a target, found without holding up the caller's thread:
// a name look-up may wait on a slow or absent name server for many seconds.

#include <sys/socket.h>

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// One address to connect to, either family.
struct TSocketAddress {
  sockaddr_storage Address{};
  socklen_t Length = 0;
};

struct TLookupResult {
  std::vector<TSocketAddress> Addresses;  // in the order to try them
  // Why there are none: "Error 11001 in function getaddrinfo (Host not found)".
  std::string Failure;
};

// A look-up as the platform does it (getaddrinfo, TCP, either family); it
// may wait.
TLookupResult LookUpAddresses(const std::string& host, uint16_t port);

// The failure text of a getaddrinfo answer, as the socket layer names its
// errors: EAI_NONAME "Host not found" (11001), EAI_AGAIN "Non-authoritative
// host not found" (11002), EAI_NODATA "No Data" (11004), anything else
// "Non-recoverable error" (11003).
std::string LookupFailureText(int lookupError);

// Runs one look-up. A numeric address needs no name server and is answered
// without a thread; a name is looked up on a thread of its own, which is
// left to finish alone when the object goes first, so that neither the
// event loop nor the program's end ever waits for a name server. The answer
// comes through the owner's event loop, never from inside Start.
class THostLookup : public QObject {
 public:
  using TLookUp = std::function<TLookupResult(const std::string& host, uint16_t port)>;
  using TDone = std::function<void(const TLookupResult& result)>;

  explicit THostLookup(TLookUp lookUp = LookUpAddresses);
  // An answer still to come is dropped.
  ~THostLookup() override;
  THostLookup(const THostLookup&) = delete;
  THostLookup& operator=(const THostLookup&) = delete;

  void Start(const std::string& host, uint16_t port, TDone done);

 private:
  struct TShared;
  void Answer(const TLookupResult& result);

  TLookUp lookUp_;
  TDone done_;
  std::shared_ptr<TShared> shared_;
};
