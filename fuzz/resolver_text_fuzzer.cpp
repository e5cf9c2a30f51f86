// The resolvers' text handling on any bytes. Only texts that resolve without
// a look-up are given to them (digits for ports, dotted addresses for hosts),
// so the fuzzer never asks a name service.
#include <arpa/inet.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/resolvers.h"

namespace {

bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char byte : text)
    if (byte < '0' || byte > '9') return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  LeadingNumber(text);
  if (IsDottedAddress(text)) {
    try {
      const uint32_t address = WSocketResolveHost(text);
      // Four groups of at most 255 print back as the same four numbers.
      in_addr printable{address};
      char printed[INET_ADDRSTRLEN] = {};
      if (::inet_ntop(AF_INET, &printable, printed, sizeof printed) == nullptr) std::abort();
    } catch (const ESocketException&) {
    }
  }
  if (!text.empty() && text[0] >= '0' && text[0] <= '9') {
    try {
      const uint16_t port = WSocketResolvePort(text, "tcp");
      if (!AllDigits(text) || std::stoul(text) != port) std::abort();
    } catch (const ESocketException&) {
      if (AllDigits(text) && text.size() < 6 && std::stoul(text) <= 65535) std::abort();
    }
  }
  return 0;
}
