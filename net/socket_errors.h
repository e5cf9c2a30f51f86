#pragma once

// Socket errors: the exception the socket layer raises, the Windows Sockets
// codes its messages use and the descriptions of those codes.

#include <string>
#include <string_view>

#include "base/exceptions.h"

// The only exception class the socket layer raises; carries the operator's text.
class ESocketException : public Exception {
 public:
  using Exception::Exception;
};

// Windows Sockets codes the layer itself reports or tests for. Every code of the error
// table is 10000 plus the BSD errno number of the same name.
constexpr int WSAEINVAL = 10022;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSANOTINITIALISED = 10093;

// The description of a socket error code; "Not a WinSock error" for any code
// outside the table.
std::string SocketErrorText(int errorCode);

// "Error <code> in function <functionName>" CR LF <SocketErrorText(code)>.
std::string SocketErrorMessage(int errorCode, std::string_view functionName);

// The same on one line, for a log or a list: "Error <code> in function
// <functionName> (<SocketErrorText(code)>)".
std::string SocketErrorLine(int errorCode, std::string_view functionName);

// The Windows Sockets code for a platform errno (EAGAIN 10035, ECONNRESET 10054,
// ENFILE 10024, ...); numbers without a counterpart come back unchanged.
int WSocketErrorFromErrno(int platformErrno);
