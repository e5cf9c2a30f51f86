#include "jobs/job_resender.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <utility>

#include "base/disk_file.h"
#include "base/system_calls.h"
#include "net/host_port.h"
#include "net/outgoing_connection.h"
#include "net/socket_errors.h"

namespace {

// The most a turn of the event loop sends, so that a fast peer cannot keep
// the window from drawing.
constexpr std::size_t kBytesPerTurn = 16 * TJobResender::kChunkBytes;

std::string FileErrorText(int systemError, const std::string& path) {
  return InOutErrorMessage(InOutErrorCode(systemError, path));
}

}  // namespace

TJobResender::TJobResender(std::vector<std::string> files, std::string target, TResendReport report,
                           TResendLimits limits, THostLookup::TLookUp lookUp)
    : files_(std::move(files)),
      targetText_(std::move(target)),
      report_(std::move(report)),
      limits_(std::move(limits)),
      lookup_(std::move(lookUp)),
      chunk_(std::make_unique<char[]>(kChunkBytes)) {
  deadline_.setSingleShot(true);
  connect(&deadline_, &QTimer::timeout, this, [this] { TimedOut(); });
}

TJobResender::~TJobResender() {
  deadline_.stop();
  ReleaseFile();
}

void TJobResender::Start() {
  const THostPortReading reading = ReadHostPort(targetText_);
  if (!reading.Target) {
    report_.failure(reading.Failure);
    Finish();
    return;
  }
  targetText_ = reading.Target->Text();
  lookup_.Start(reading.Target->Host, reading.Target->Port,
                [this](const TLookupResult& result) { LookedUp(result); });
}

// A target that cannot be found fails every file alike, so it is said once.
void TJobResender::LookedUp(const TLookupResult& result) {
  if (!result.Failure.empty()) {
    report_.failure("Resend to " + targetText_ + " failed: " + result.Failure);
    Finish();
    return;
  }
  addresses_ = result.Addresses;
  index_ = 0;
  StartFile();
}

void TJobResender::StartFile() {
  if (index_ >= files_.size()) {
    Finish();
    return;
  }
  ++serial_;
  if (!OpenFile()) return;
  report_.line("Resending " + File() + " to " + targetText_ + " (" + std::to_string(size_) +
               " bytes)");
  connection_ =
      new TOutgoingConnection({[this] { Connected(); }, [this] { Pump(); }, [this] { PeerEnded(); },
                               [this](const std::string& reason) { FileFailed(reason); }});
  connection_->setParent(this);
  phase_ = TPhase::Connecting;
  deadline_.start(limits_.Connect);
  connection_->Connect(addresses_);
}

// Never waits (a FIFO planted under the name would hold the open) and sends
// the capture, not what a link in its place points at.
bool TJobResender::OpenFile() {
  handle_ = OpenRetrying(File().c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0);
  int problem = handle_ < 0 ? errno : 0;
  struct stat status {};
  if (problem == 0 && FileCalls().FileStatus(handle_, &status) != 0) problem = errno;
  if (problem == 0 && !S_ISREG(status.st_mode)) problem = EACCES;
  if (problem == ELOOP) problem = EACCES;
  if (problem != 0) {
    FileFailed(FileErrorText(problem, File()));
    return false;
  }
  size_ = static_cast<uint64_t>(status.st_size);
  sent_ = 0;
  tenthsReported_ = 0;
  chunkSize_ = 0;
  chunkSent_ = 0;
  lastLineAt_ = limits_.Now();
  return true;
}

void TJobResender::Connected() {
  phase_ = TPhase::Sending;
  deadline_.start(limits_.Stall);
  Pump();
}

// Sends until the platform takes no more (write readiness brings the next
// turn), the file ends, or this turn's share is used.
void TJobResender::Pump() {
  std::size_t sentThisTurn = 0;
  while (sentThisTurn < kBytesPerTurn) {
    if (chunkSent_ == chunkSize_ && !FillChunk()) return;
    const ssize_t taken = connection_->Send(chunk_.get() + chunkSent_, chunkSize_ - chunkSent_);
    if (taken <= 0) return;
    Sent(static_cast<std::size_t>(taken));
    sentThisTurn += static_cast<std::size_t>(taken);
  }
  QMetaObject::invokeMethod(
      this,
      [this, serial = serial_] {
        if (serial == serial_ && phase_ == TPhase::Sending) Pump();
      },
      Qt::QueuedConnection);
}

// False when there is nothing more to send: the file ended, or it failed.
bool TJobResender::FillChunk() {
  const ssize_t got = ReadRetrying(handle_, chunk_.get(), kChunkBytes);
  if (got < 0) {
    FileFailed(FileErrorText(errno, File()));
    return false;
  }
  chunkSize_ = static_cast<std::size_t>(got);
  chunkSent_ = 0;
  if (got > 0) return true;
  phase_ = TPhase::Ending;
  deadline_.start(limits_.Stall);
  connection_->EndSending();
  return false;
}

void TJobResender::Sent(std::size_t count) {
  chunkSent_ += count;
  sent_ += count;
  deadline_.start(limits_.Stall);
  if (size_ == 0 || sent_ >= size_) return;
  const uint64_t tenths = sent_ * 10 / size_;
  if (tenths <= tenthsReported_) return;
  const auto now = limits_.Now();
  if (now - lastLineAt_ < limits_.ProgressEvery) return;
  tenthsReported_ = tenths;
  lastLineAt_ = now;
  report_.line(File() + ": " + std::to_string(sent_) + " of " + std::to_string(size_) +
               " bytes sent to " + targetText_);
}

void TJobResender::PeerEnded() {
  report_.line(File() + " resent to " + targetText_ + ": " + std::to_string(sent_) + " bytes");
  NextFile();
}

void TJobResender::FileFailed(const std::string& reason) {
  report_.failure("Resend of " + File() + " to " + targetText_ + " failed: " + reason);
  NextFile();
}

void TJobResender::TimedOut() {
  switch (phase_) {
    case TPhase::Connecting:
      FileFailed(SocketErrorLine(WSAETIMEDOUT, "connect"));
      return;
    case TPhase::Sending:
      FileFailed(SocketErrorLine(WSAETIMEDOUT, "send"));
      return;
    case TPhase::Ending:
      FileFailed("the peer did not end the connection within " +
                 std::to_string(limits_.Stall.count() / 1000) + " s after the last byte");
      return;
    case TPhase::Idle:
      return;
  }
}

// Called from the connection's own handlers, so the connection goes in a
// later turn; the next file starts in a turn of its own, so that a long run
// of missing files is no deep recursion.
void TJobResender::NextFile() {
  deadline_.stop();
  phase_ = TPhase::Idle;
  ReleaseFile();
  ++index_;
  QMetaObject::invokeMethod(
      this, [this] { StartFile(); }, Qt::QueuedConnection);
}

void TJobResender::ReleaseFile() {
  if (connection_ != nullptr) {
    connection_->Close();
    connection_->deleteLater();
  }
  connection_ = nullptr;
  CloseHandle(handle_);
}

void TJobResender::Finish() {
  finished_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (report_.done) report_.done();
      },
      Qt::QueuedConnection);
}
