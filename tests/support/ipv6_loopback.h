#pragma once

#include <cstdint>

// The IPv6 loopback, ::1, for tests of peers that come over IPv6. A machine
// may have IPv6 turned off; tests then skip rather than fail.

// True when a socket can be bound to ::1 here.
bool HasIPv6Loopback();

// A blocking client socket connected to [::1]:port; -1 on failure.
int ConnectIPv6Loopback(uint16_t port);

// The family (AF_INET, AF_INET6) of the address handle is bound to; -1 on
// failure.
int BoundFamily(int handle);
