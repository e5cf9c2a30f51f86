#include "app/single_instance.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QTimer>
#include <cstdio>

namespace {

constexpr int kConnectTimeoutMs = 1000;
// Two starts at the same moment take turns at claiming the socket, so that
// neither removes the other's as stale.
constexpr int kClaimLockTimeoutMs = 2000;
// A request is one short line; a client that says nothing more is dropped.
constexpr qint64 kMaxRequestLength = 64;
constexpr int kSilentClientMs = 10000;

constexpr const char* kShowRequest = "show";
constexpr const char* kAskRequest = "ask";
constexpr const char* kShownAnswer = "shown";
constexpr const char* kWindowlessAnswer = "windowless";
constexpr const char* kRunningAnswer = "running";

QString IdentifyingPath(const std::string& settingsPath) {
  const QFileInfo file(QString::fromStdString(settingsPath));
  const QString canonical = file.canonicalFilePath();
  return canonical.isEmpty() ? file.absoluteFilePath() : canonical;
}

// "<word> <pid>"; the word empty when the answer is no such line.
struct TAnswer {
  QString Word;
  qint64 Pid = 0;
};

TAnswer ParseAnswer(const QByteArray& line) {
  const QList<QByteArray> parts = line.trimmed().split(' ');
  if (parts.size() != 2) return {};
  bool number = false;
  const qint64 pid = parts[1].toLongLong(&number);
  if (!number) return {};
  return {QString::fromLatin1(parts[0]), pid};
}

}  // namespace

TSingleInstance::TSingleInstance(const std::string& settingsPath)
    : settingsPath_(settingsPath), socketPath_(SocketPathFor(settingsPath)) {}

TSingleInstance::~TSingleInstance() = default;

QString TSingleInstance::SocketPathFor(const std::string& settingsPath) {
  const QByteArray hash =
      QCryptographicHash::hash(IdentifyingPath(settingsPath).toUtf8(), QCryptographicHash::Sha256)
          .toHex()
          .left(16);
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
    return runtime + "/tarnock-" + QString::fromLatin1(hash) + ".socket";
  return QDir::tempPath() + QString("/tarnock-%1-").arg(::getuid()) + QString::fromLatin1(hash) +
         ".socket";
}

std::optional<int> TSingleInstance::ClaimOrHandOver(bool wantWindow) {
  QLockFile claim(socketPath_ + ".lock");
  claim.tryLock(kClaimLockTimeoutMs);
  if (Listen()) return std::nullopt;
  QLocalSocket running;
  running.connectToServer(socketPath_);
  if (running.waitForConnected(kConnectTimeoutMs)) return AskRunning(running, wantWindow);
  // Nobody answers there: the socket is what a crashed instance left.
  QLocalServer::removeServer(socketPath_);
  if (Listen()) return std::nullopt;
  std::fprintf(stderr,
               "tarnock: unable to listen on %s: %s; a second start will not find this one\n",
               qPrintable(socketPath_), qPrintable(server_->errorString()));
  server_.reset();
  return std::nullopt;
}

bool TSingleInstance::Listen() {
  // No socket options: with them the server is made aside and renamed over
  // the path, replacing a running instance's socket instead of failing. The
  // runtime folder is the user's alone; in the temporary folder the umask
  // keeps others from writing to, and so from connecting to, the socket.
  server_ = std::make_unique<QLocalServer>();
  if (!server_->listen(socketPath_)) return false;
  connect(server_.get(), &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* later = server_->nextPendingConnection()) Answer(later);
  });
  return true;
}

std::optional<int> TSingleInstance::AskRunning(QLocalSocket& running, bool wantWindow) const {
  running.write(QByteArray(wantWindow ? kShowRequest : kAskRequest) + "\n");
  running.waitForBytesWritten(kConnectTimeoutMs);
  QByteArray line;
  while (!running.canReadLine() && running.waitForReadyRead(kAnswerTimeoutMs)) {
  }
  if (running.canReadLine()) line = running.readLine(kMaxRequestLength);
  const TAnswer answer = ParseAnswer(line);
  const char* settings = settingsPath_.c_str();
  if (answer.Word == kShownAnswer) {
    std::fprintf(stderr, "tarnock: already running for %s (pid %lld); its window is shown\n",
                 settings, answer.Pid);
    return 0;
  }
  if (answer.Word == kWindowlessAnswer && wantWindow) {
    std::fprintf(stderr,
                 "tarnock: already running for %s (pid %lld) without a window; stop that one "
                 "to capture with a window here\n",
                 settings, answer.Pid);
    return 0;
  }
  if (!answer.Word.isEmpty()) {
    std::fprintf(stderr, "tarnock: already running for %s (pid %lld)\n", settings, answer.Pid);
    return 0;
  }
  std::fprintf(stderr,
               "tarnock: the Tarnock running for %s does not answer; start with --new-instance "
               "to run another\n",
               settings);
  return 1;
}

void TSingleInstance::AnswerWith(TShowWindow showWindow) { showWindow_ = std::move(showWindow); }

void TSingleInstance::Answer(QLocalSocket* later) {
  connect(later, &QLocalSocket::disconnected, later, &QObject::deleteLater);
  QTimer::singleShot(kSilentClientMs, later, [later] { later->abort(); });
  connect(later, &QLocalSocket::readyRead, this, [this, later] {
    if (!later->canReadLine()) {
      if (later->bytesAvailable() > kMaxRequestLength) later->abort();
      return;
    }
    const QByteArray request = later->readLine(kMaxRequestLength).trimmed();
    const char* word = kRunningAnswer;
    if (request == kShowRequest && showWindow_)
      word = showWindow_() ? kShownAnswer : kWindowlessAnswer;
    later->write(QByteArray(word) + " " + QByteArray::number(QCoreApplication::applicationPid()) +
                 "\n");
    later->disconnectFromServer();
  });
}
