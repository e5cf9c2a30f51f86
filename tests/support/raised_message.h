#pragma once

#include <functional>
#include <string>

#include "net/socket_errors.h"

// The message of the ESocketException the action raises; "" when none.
inline std::string RaisedMessage(const std::function<void()>& action) {
  try {
    action();
  } catch (const ESocketException& e) {
    return e.Message();
  }
  return "";
}
