#pragma once

#include <exception>
#include <string>

// Every failure in the system is an exception that carries the text the
// operator will see; callers catch at the edge of an event and show it.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }

 private:
  std::string message_;
};

// A text that is not a number.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// A failed file operation; ErrorCode is the code of the I/O message table.
class EInOutError : public Exception {
 public:
  EInOutError(std::string message, int errorCode)
      : Exception(std::move(message)), ErrorCode(errorCode) {}
  EInOutError(std::string message, int errorCode, int systemError)
      : Exception(std::move(message)), ErrorCode(errorCode), SystemError(systemError) {}
  int ErrorCode;
  // The platform's error number behind the code, 0 when there is none.
  int SystemError = 0;
};
