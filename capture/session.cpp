#include "capture/session.h"

#include <utility>

#include "base/paths.h"
#include "base/text.h"
#include "capture/date_pattern.h"
#include "capture/ini_file.h"
#include "capture/port_definition.h"

namespace {

// The capture file's path: the directory with its separator, the trimmed
// name pattern rendered at the moment of acceptance, and ".txt".
std::string CaptureFileName(const TPortDefinition& definition, double acceptedAt) {
  return IncludeSeparator(definition.Directory) +
         FormatDatePattern(TrimBlanks(definition.FileFormat), acceptedAt) + ".txt";
}

}  // namespace

TClient::TClient(std::string settingsPath) : settingsPath_(std::move(settingsPath)) {}

void TClient::PrepareCapture(std::string_view portText) {
  // Read at every connection, so an edit by another program applies to the
  // next connection without a restart.
  const std::string value = TIniFile(settingsPath_).ReadText("Ports", portText, "");
  const TPortDefinition definition = DecodePortDefinition(value);
  Days = static_cast<int16_t>(ParseInteger(definition.Days));
  FileName = CaptureFileName(definition, CurrentLocalTime());
  // A name the file layer refuses makes no folders either.
  CaptureFile.Bind(FileName);
  CaptureFile.RequireUsablePath();
  CreateDirectoryChain(DirectoryPart(FileName));
  if (!definition.Overwrite() && FileIsPresent(FileName))
    CaptureFile.OpenAppend();
  else
    CaptureFile.OpenCreate();
  CaptureFile.CloseOut();
}

void TClient::AppendChunk(TReceiveBuffer& buffer) {
  const int received = Receive(buffer.data(), static_cast<int>(buffer.size()));
  CaptureFile.OpenAppend();
  try {
    if (received > 0)
      CaptureFile.PutText(std::string_view(buffer.data(), static_cast<std::size_t>(received)));
  } catch (...) {
    CaptureFile.Abandon();
    throw;
  }
  CaptureFile.CloseOut();
}

int64_t TClient::CaptureSize() {
  DiskFile file;
  file.Bind(FileName);
  file.OpenExisting();
  const int64_t size = file.SizeInBytes();
  file.CloseOut();
  return size;
}

void TClient::DeleteCapture() { CaptureFile.RemoveFile(); }
