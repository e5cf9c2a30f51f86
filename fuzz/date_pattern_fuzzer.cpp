// The date-time pattern formatter on any pattern and any date-time value: it
// never fails and never renders more than 256 bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "capture/date_pattern.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  double value = 0;
  if (size >= sizeof value) {
    std::memcpy(&value, data, sizeof value);
    data += sizeof value;
    size -= sizeof value;
  }
  const std::string pattern(reinterpret_cast<const char*>(data), size);
  try {
    if (FormatDatePattern(pattern, value).size() > 256) std::abort();
  } catch (const std::exception&) {
    // A value outside the calendar may be refused; the length rule is what
    // matters.
  }
  return 0;
}
