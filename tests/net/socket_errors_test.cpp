#include "net/socket_errors.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

TEST(SocketErrorText, DescribesTheTableAndNothingElse) {
  struct {
    int code;
    const char* text;
  } cases[] = {
      {0, "No Error"},
      {10004, "Interrupted system call"},
      {10022, "Invalid argument"},
      {10035, "Operation would block"},
      {10047, "Address family not supported by protocol family"},
      {10048, "Address already in use"},
      {10054, "Connection reset by peer"},
      {10057, "Socket is not connected"},
      {10058, "Can't send after socket shutdown"},
      {10093, "WinSock not initialized"},
      {11004, "No Data"},
      {10072, "Not a WinSock error"},
      {12345, "Not a WinSock error"},
      {-1, "Not a WinSock error"},
  };
  for (const auto& c : cases) EXPECT_EQ(SocketErrorText(c.code), c.text) << c.code;
}

TEST(SocketErrorMessage, NamesCodeAndFunctionThenTheDescription) {
  EXPECT_EQ(SocketErrorMessage(10022, "not a listening socket"),
            "Error 10022 in function not a listening socket\r\nInvalid argument");
  EXPECT_EQ(SocketErrorMessage(10048, "Bind"),
            "Error 10048 in function Bind\r\nAddress already in use");
}

TEST(WSocketErrorFromErrno, PairsErrorsByName) {
  struct {
    int platformErrno;
    int code;
  } cases[] = {
      {EAGAIN, 10035},       {EINVAL, 10022},       {EADDRINUSE, 10048}, {ECONNRESET, 10054},
      {ENOTCONN, 10057},     {EACCES, 10013},       {EMFILE, 10024},     {ENFILE, 10024},
      {ECONNABORTED, 10053}, {ECONNREFUSED, 10061}, {EBADF, 10009},      {ENOTSOCK, 10038},
      {9999, 9999},
  };
  for (const auto& c : cases)
    EXPECT_EQ(WSocketErrorFromErrno(c.platformErrno), c.code) << c.platformErrno;
}

}  // namespace
