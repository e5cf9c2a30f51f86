#pragma once

// Socket errors and name resolution: the messages the socket layer raises and
// the resolvers that turn the Addr, Port and Proto texts into numbers.

#include <cstdint>
#include <string>
#include <string_view>

#include "base/exceptions.h"

// The only exception class the socket layer raises; carries the operator's text.
class ESocketException : public Exception {
 public:
  using Exception::Exception;
};

// Windows Sockets codes the layer itself tests for. Every code of the error
// table is 10000 plus the BSD errno number of the same name.
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAENOTCONN = 10057;
constexpr int WSANOTINITIALISED = 10093;

// The description of a socket error code; "Not a WinSock error" for any code
// outside the table.
std::string SocketErrorText(int errorCode);

// "Error <code> in function <functionName>" CR LF <SocketErrorText(code)>.
std::string SocketErrorMessage(int errorCode, std::string_view functionName);

// The Windows Sockets code for a platform errno (EAGAIN 10035, ECONNRESET 10054,
// ENFILE 10024, ...); numbers without a counterpart come back unchanged.
int WSocketErrorFromErrno(int platformErrno);

// The thread's "last error code" of the socket layer (Windows Sockets
// numbering). Every failing platform call of the layer sets it from errno;
// WSocketLastErrno keeps the raw errno beside it (0 when set by hand).
int WSocketGetLastError();
void WSocketSetLastError(int errorCode);
int WSocketLastErrno();
// Sets the last error code from errno (mapped) and keeps errno itself.
void WSocketSetLastErrorFromErrno(int platformErrno);

// Leading spaces skipped, then decimal digits in wrapping 32-bit arithmetic;
// no digit gives 0. Never fails.
int32_t LeadingNumber(std::string_view text);

// Four dot-separated decimal groups, each at most 255, leading spaces and
// trailing spaces allowed.
bool IsDottedAddress(std::string_view text);

// Protocol text to protocol number ("tcp" 6, "udp" 17 even without a protocol
// database, "6" 6); raises ESocketException with the resolver's message.
int WSocketResolveProto(std::string_view proto);

// Port text to port number (host byte order). A text starting with a digit must
// be decimal digits only with a value 0..65535; otherwise a service name looked
// up for the trimmed protocol. Raises ESocketException with the resolver's message.
uint16_t WSocketResolvePort(std::string_view port, std::string_view proto);

// Host text to IPv4 address in network byte order; dotted texts convert without
// a look-up. Raises ESocketException with the resolver's message.
uint32_t WSocketResolveHost(std::string_view host);
