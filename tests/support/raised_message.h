#pragma once

#include <functional>
#include <string>
#include <utility>

#include "base/exceptions.h"

// The message of the Exception the action raises; "" when none.
inline std::string RaisedMessage(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

// The I/O error code and message of the EInOutError the action raises;
// {0, ""} when none.
inline std::pair<int, std::string> RaisedInOutError(const std::function<void()>& action) {
  try {
    action();
  } catch (const EInOutError& e) {
    return {e.ErrorCode, e.Message()};
  }
  return {0, ""};
}
