#include "capture/port_definition.h"

#include "base/text.h"
#include "capture/ini_file.h"

namespace {

// The part of rest before its first ","; empty when there is none. Then
// removes through that "," (nothing when there is none).
std::string CutField(std::string& rest) {
  const int comma = PositionOf(",", rest);
  std::string field = CopyRange(rest, 1, comma - 1);
  DeleteRange(rest, 1, comma);
  return field;
}

}  // namespace

TPortDefinition DecodePortDefinition(std::string_view value) {
  TPortDefinition definition;
  std::string rest(value);
  definition.Directory = CutField(rest);
  definition.FileFormat = CutField(rest);
  definition.OverwriteMark = CopyRange(rest, 1, 1);
  // The one-character mark and the comma after it, whatever they are.
  DeleteRange(rest, 1, 2);
  definition.Days = CutField(rest);
  definition.Comments = rest;
  return definition;
}

std::string EncodePortDefinition(const TPortDefinition& definition) {
  return definition.Directory + "," + definition.FileFormat + "," + definition.OverwriteMark + "," +
         definition.Days + "," + definition.Comments;
}

// The listing starts empty, so its lines come from the file's keys alone:
// each has its key, which holds no "=", then "=" and the value.
std::vector<TPortEntry> PortEntries(const TIniSnapshot& settings) {
  std::vector<std::string> lines;
  settings.ListEntries(kPortsSection, lines);
  std::vector<TPortEntry> ports;
  ports.reserve(lines.size());
  for (const std::string& line : lines) {
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    ports.push_back(TPortEntry{line.substr(0, equals),
                               DecodePortDefinition(std::string_view(line).substr(equals + 1))});
  }
  return ports;
}
