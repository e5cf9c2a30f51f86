#pragma once

#include <cstdint>
#include <string>

// A port on 127.0.0.1 that nothing listens on at the moment of asking.
uint16_t FreeLoopbackPort();

// A blocking client socket connected to 127.0.0.1:port; -1 on failure.
int ConnectLoopback(uint16_t port);

// Sends every byte (blocking); false when the peer went away.
bool SendAll(int fd, const std::string& bytes);

// Closes with SO_LINGER 0 so the peer sees a reset instead of an orderly end.
void ResetConnection(int fd);

// True once the peer's side of fd has ended (orderly or reset); never waits.
bool PeerClosed(int fd);

// How many descriptors this process holds open, the one reading the list
// included: a leak check compares two counts.
int OpenDescriptorCount();

// A Unix socket listening at path that never accepts: a peer connects at
// once and is never spoken to, as with a hung or stopped bus. -1 on failure.
int ListenOnUnixPath(const std::string& path);
