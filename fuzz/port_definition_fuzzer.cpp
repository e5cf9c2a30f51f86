// The port definition codec: decoding any value never fails and gives a
// mark of at most one byte, and a definition whose fields the format can hold (no comma in the
// first four, a one-byte mark) comes back field for field through encoding and decoding.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "capture/port_definition.h"

namespace {

std::string WithoutCommas(std::string text) {
  for (char& byte : text)
    if (byte == ',') byte = ';';
  return text;
}

bool SameFields(const TPortDefinition& left, const TPortDefinition& right) {
  return left.Directory == right.Directory && left.FileFormat == right.FileFormat &&
         left.OverwriteMark == right.OverwriteMark && left.Days == right.Days &&
         left.Comments == right.Comments;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string value(reinterpret_cast<const char*>(data), size);
  const TPortDefinition decoded = DecodePortDefinition(value);
  if (decoded.OverwriteMark.size() > 1) std::abort();
  // Fields cut from the input at its NUL bytes.
  TPortDefinition made;
  std::string* fields[] = {&made.Directory, &made.FileFormat, &made.Days, &made.Comments};
  std::size_t field = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && field < 3) {
      ++field;
      continue;
    }
    fields[field]->push_back(static_cast<char>(data[i]));
  }
  made.Directory = WithoutCommas(made.Directory);
  made.FileFormat = WithoutCommas(made.FileFormat);
  made.Days = WithoutCommas(made.Days);
  made.OverwriteMark = (size % 2 == 0) ? "T" : "F";
  if (!SameFields(DecodePortDefinition(EncodePortDefinition(made)), made)) std::abort();
  return 0;
}
