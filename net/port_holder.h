#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Which process listens on a TCP port, so that a port found busy can name
// who holds it. Linux tells through /proc: the listening socket's inode in
// /proc/net/tcp and tcp6, and the process whose descriptor links to that
// socket. Only processes of the same user (or any, for root) can be looked
// into; another user's holder stays unknown.

struct TPortHolder {
  pid_t Pid = 0;
  // The process's command name as /proc/<pid>/comm gives it.
  std::string Name;
};

// The inodes of the sockets that listen on the port, from the text of
// /proc/net/tcp or /proc/net/tcp6: any local address, state LISTEN. Lines
// that don't parse are skipped.
std::vector<uint64_t> ListeningSocketInodes(std::string_view table, uint16_t port);

// "socket:[<inode>]", as a descriptor's link names it, for each socket that
// listens on the port in one table (/proc/net/tcp or /proc/net/tcp6); none
// when the table can't be read (a kernel without IPv6 has no tcp6).
std::vector<std::string> ListeningSocketLinks(const char* table, uint16_t port);

// Whether the process whose /proc folder this is (/proc/self, /proc/<pid>)
// holds a descriptor linking to one of the sockets.
bool ProcessHoldsAnyOf(const std::string& processFolder, const std::vector<std::string>& links);

// The process holding a socket that listens on the port; none when no
// listener is found or its process can't be looked into.
std::optional<TPortHolder> FindPortHolder(uint16_t port);

// How a busy port's holder is named: "held by <name> (pid <pid>)"; empty
// when the port text is no decimal port or no holder is found.
std::string PortHolderNote(std::string_view portText);
