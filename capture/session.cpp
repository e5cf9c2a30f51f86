#include "capture/session.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "base/exceptions.h"
#include "base/paths.h"
#include "base/text.h"
#include "capture/date_pattern.h"
#include "capture/ini_file.h"
#include "capture/port_definition.h"

namespace {

// The capture file's path without ".txt": the directory with its separator
// and the trimmed name pattern rendered at the moment of acceptance.
std::string CaptureFileStem(const TPortDefinition& definition, double acceptedAt) {
  return IncludeSeparator(definition.Directory) +
         FormatDatePattern(TrimBlanks(definition.FileFormat), acceptedAt);
}

// "<stem>.txt" for the first try, then "<stem>-2.txt", "<stem>-3.txt", ...
std::string NumberedName(const std::string& stem, int attempt) {
  std::string name = stem;
  if (attempt > 1) {
    name += '-';
    name += FormatInteger(attempt);
  }
  name += ".txt";
  return name;
}

}  // namespace

TClient::TClient(std::string settingsPath) : settingsPath_(std::move(settingsPath)) {}

void TClient::PrepareCapture(std::string_view portText, const TOpenFiles& openFiles) {
  PrepareCapture(portText, openFiles, TJobSettings::Read(settingsPath_));
}

void TClient::PrepareCapture(std::string_view portText, const TOpenFiles& openFiles,
                             const TJobSettings& jobs) {
  // Read at every connection, so an edit by another program applies to the
  // next connection without a restart.
  const std::string value = TIniFile(settingsPath_).ReadText("Ports", portText, "");
  Jobs = jobs;
  Port = std::string(portText);
  const TPortDefinition definition = DecodePortDefinition(value);
  Days = static_cast<int16_t>(ParseInteger(definition.Days));
  Directory = IncludeSeparator(definition.Directory);
  const std::string stem = CaptureFileStem(definition, CurrentLocalTime());
  FileName = stem + ".txt";
  // A name the file layer refuses makes no folders either.
  CaptureFile.Bind(FileName);
  CaptureFile.RequireUsablePath();
  CreateDirectoryChain(DirectoryPart(FileName));
  if (Jobs.OneFilePerJob)
    OpenFirstFreeName(stem);
  else
    OpenSharedName(definition.Overwrite(), openFiles);
  FileIdentity = CaptureFile.Identity();
  CaptureFile.CloseOut();
}

void TClient::OpenSharedName(bool overwrite, const TOpenFiles& openFiles) {
  const auto present = FileIdentityOf(FileName);
  const bool heldByAnotherJob = present && openFiles.Holders(*present) > 0;
  if ((!overwrite && FileIsPresent(FileName)) || heldByAnotherJob)
    CaptureFile.OpenAppend();
  else
    CaptureFile.OpenCreate();
}

// Creating with O_EXCL is the test and the claim in one step: no other
// session, and no other program sharing the folder, can get the same name.
void TClient::OpenFirstFreeName(const std::string& stem) {
  for (int attempt = 1; attempt <= kMaxJobFileTries; ++attempt) {
    FileName = NumberedName(stem, attempt);
    CaptureFile.Bind(FileName);
    try {
      CaptureFile.OpenCreateNew();
      return;
    } catch (const EInOutError& failure) {
      if (failure.SystemError != EEXIST) throw;
    }
  }
  throw Exception("No free file name from " + NumberedName(stem, 1) + " to " +
                  NumberedName(stem, kMaxJobFileTries));
}

void TClient::AppendChunk(TReceiveBuffer& buffer) { StoreChunk(buffer, buffer.size()); }

// Whatever size one receive may take, the limit is never passed: the
// receive asks for no more than the room left, and the rest stays unread
// until the close throws it away.
void TClient::AppendChunkWithinLimit(TReceiveBuffer& buffer) {
  if (Jobs.MaxJobBytes <= 0) return AppendChunk(buffer);
  const int64_t room = Jobs.MaxJobBytes - StoredBytes;
  if (room <= 0) return;
  StoreChunk(buffer, static_cast<std::size_t>(
                         std::min<int64_t>(room, static_cast<int64_t>(buffer.size()))));
  if (StoredBytes >= Jobs.MaxJobBytes) Cut = true;
}

void TClient::StoreChunk(TReceiveBuffer& buffer, std::size_t most) {
  // No more than the notification's share, so that many busy connections
  // keep each turn of the loop short.
  const int received = Receive(
      buffer.data(), static_cast<int>(std::min(most, static_cast<std::size_t>(ReadShare()))));
  CaptureFile.OpenAppend();
  try {
    if (received > 0)
      CaptureFile.PutText(std::string_view(buffer.data(), static_cast<std::size_t>(received)));
  } catch (...) {
    CaptureFile.Abandon();
    throw;
  }
  CaptureFile.CloseOut();
  if (received > 0) StoredBytes += received;
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
