// The integer syntax on any bytes: ParseInteger and ParseIntegerOr agree, a
// failure carries the text exactly as given, and every accepted value reads
// back from its decimal text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/exceptions.h"
#include "base/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  bool parsed = true;
  int32_t value = 0;
  try {
    value = ParseInteger(text);
  } catch (const EConvertError& failure) {
    parsed = false;
    if (failure.Message() != "'" + text + "' is not a valid integer value") std::abort();
  }
  const int32_t orOne = ParseIntegerOr(text, 1);
  const int32_t orTwo = ParseIntegerOr(text, 2);
  if (parsed != (orOne == orTwo)) std::abort();
  if (parsed && orOne != value) std::abort();
  if (parsed && ParseInteger(FormatInteger(value)) != value) std::abort();
  return 0;
}
