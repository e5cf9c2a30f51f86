#pragma once

// The resolvers that turn the Addr, Port and Proto texts of a socket into the
// numbers the platform's socket calls need. Each raises ESocketException with
// its own message. The look-ups read the platform's protocol, service and host
// databases directly rather than through the socket call table: they fail by
// finding nothing, which a test reaches with a name nobody knows, and they
// carry no errno that a test could inject.

#include <cstdint>
#include <string_view>

#include "net/socket_errors.h"

// Leading spaces skipped, then decimal digits in wrapping 32-bit arithmetic;
// no digit gives 0. Never fails.
int32_t LeadingNumber(std::string_view text);

// Four dot-separated decimal groups, each at most 255, leading spaces and
// trailing spaces allowed (ParseIPv4Text's dotted form).
bool IsDottedAddress(std::string_view text);

// Protocol text to protocol number ("tcp" 6, "udp" 17 even without a protocol
// database, "6" 6); raises ESocketException with the resolver's message.
int WSocketResolveProto(std::string_view proto);

// Port text to port number (host byte order). A text starting with a digit must
// be decimal digits only with a value 0..65535; otherwise a service name looked
// up for the trimmed protocol. Raises ESocketException with the resolver's message.
uint16_t WSocketResolvePort(std::string_view port, std::string_view proto);

// Host text to IPv4 address in network byte order; dotted texts convert without
// a look-up, a group with a leading zero in octal. Raises ESocketException with
// the resolver's message.
uint32_t WSocketResolveHost(std::string_view host);
