#pragma once

#include <cstdint>

#include "jobs/advertised_services.h"

// Which address families this process itself listens on the TCP port with,
// as Linux tells through /proc: a listening socket of the port in
// /proc/net/tcp (IPv4) or /proc/net/tcp6 (IPv6, dual stack included) that
// one of this process's descriptors holds. A port that another program
// holds, or that failed to open, is none of ours.
TListeningFamilies ListeningHere(uint16_t port);
