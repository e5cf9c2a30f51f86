#pragma once

// How the platform call tables are made and called. Each table is a list of
// CALL(name, result, parameters, real) entries given once, in a macro; the
// table's struct, its real calls, the test layer's fault names and the count
// are all expanded from that one list, so none of them can drift from the
// others.

#include <cerrno>

#define TARNOCK_CALL_ENTRY(name, result, parameters, real) result(*name) parameters;
#define TARNOCK_CALL_REAL(name, result, parameters, real) real,
#define TARNOCK_CALL_NAME(name, result, parameters, real) name,
#define TARNOCK_CALL_COUNT(name, result, parameters, real) +1

// Makes a platform call again for as long as a signal cuts it short (a
// negative answer with EINTR), and answers what the last call answered. The
// one retry rule for every call the platform may interrupt.
template <typename Call>
auto RetryOnEintr(Call call) {
  for (;;) {
    const auto result = call();
    if (result >= 0 || errno != EINTR) return result;
  }
}
