#include "support/program_process.h"

#include <signal.h>
#include <unistd.h>

#include <QFile>
#include <QProcessEnvironment>

#include "support/temp_folder.h"

TProgramProcess::TProgramProcess(const std::string& builtBinary) {
  if (!folder_.IsValid()) return;
  const QString copy = QString::fromStdString(folder_.FilePath("tarnock"));
  ready_ = QFile::copy(QString::fromStdString(builtBinary), copy) &&
           QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("QT_QPA_PLATFORM", "offscreen");
  process_.setProcessEnvironment(environment);
  process_.setProgram(copy);
  process_.setWorkingDirectory(QString::fromStdString(folder_.Path()));
  process_.setProcessChannelMode(QProcess::MergedChannels);
}

TProgramProcess::~TProgramProcess() {
  if (process_.state() == QProcess::NotRunning) return;
  process_.kill();
  process_.waitForFinished(5000);
}

std::string TProgramProcess::Folder() const { return folder_.Path(); }

std::string TProgramProcess::SettingsPath() const { return folder_.FilePath("tarnock.ini"); }

void TProgramProcess::WriteSettings(const std::string& text) const {
  QFile file(QString::fromStdString(SettingsPath()));
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
  file.write(text.data(), static_cast<qint64>(text.size()));
}

void TProgramProcess::SendStandardErrorTo(int descriptor) {
  // Runs in the child after its standard channels are set up.
  process_.setChildProcessModifier([descriptor] { ::dup2(descriptor, STDERR_FILENO); });
}

bool TProgramProcess::Start() {
  process_.start();
  return process_.waitForStarted(10000);
}

bool TProgramProcess::PortIsListening(uint16_t port) {
  // The kernel's tables of IPv4 and IPv6 sockets (a dual-stack listener is
  // in the second): "sl local rem st ...", with the local address as hex
  // address ":" hex port and state 0A for listening. A bind probe would also
  // see a socket that is bound but not yet listening.
  const QString local = QString(":%1").arg(port, 4, 16, QLatin1Char('0')).toUpper();
  for (const char* path : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    QFile table(path);
    if (!table.open(QIODevice::ReadOnly)) continue;
    for (const QByteArray& row : table.readAll().split('\n')) {
      const QList<QByteArray> fields = row.simplified().split(' ');
      if (fields.size() > 3 && fields[1].endsWith(local.toLatin1()) && fields[3] == "0A")
        return true;
    }
  }
  return false;
}

bool TProgramProcess::Signal(int signalNumber) {
  const qint64 id = process_.processId();
  return id > 0 && ::kill(static_cast<pid_t>(id), signalNumber) == 0;
}

bool TProgramProcess::EndedCleanly(int timeoutMs) {
  if (process_.state() != QProcess::NotRunning && !process_.waitForFinished(timeoutMs))
    return false;
  return process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
}

std::string TProgramProcess::Output() { return process_.readAll().toStdString(); }
