#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QLocalServer;
class QLocalSocket;

// One running program per settings file. The first start listens on a local
// socket named after the settings file; a later start for the same file
// connects, asks the running one to show its window, says so on standard
// error and ends, instead of opening a second window whose ports are all
// busy.
class TSingleInstance : public QObject {
 public:
  // What the running instance does for a later start that wants a window:
  // shows and raises its window and answers true, or answers false when it
  // runs without one.
  using TShowWindow = std::function<bool()>;

  // The answers a later start waits for at most: an instance still starting
  // answers once its window exists.
  static constexpr int kAnswerTimeoutMs = 5000;

  explicit TSingleInstance(const std::string& settingsPath);
  ~TSingleInstance() override;

  // Becomes the instance for the settings file and answers nothing; or, when
  // one already runs, asks it (to show its window when wantWindow), writes
  // the outcome on standard error and answers the exit status. A socket left
  // by an instance that crashed is removed and taken over.
  std::optional<int> ClaimOrHandOver(bool wantWindow);
  // How later starts are answered from now on.
  void AnswerWith(TShowWindow showWindow);

  // $XDG_RUNTIME_DIR/tarnock-<hash>.socket, or tarnock-<uid>-<hash>.socket in
  // the temporary folder without a runtime folder; the hash is of the
  // settings file's path with its links resolved.
  static QString SocketPathFor(const std::string& settingsPath);

 private:
  bool Listen();
  std::optional<int> AskRunning(QLocalSocket& running, bool wantWindow) const;
  void Answer(QLocalSocket* later);

  std::string settingsPath_;
  QString socketPath_;
  std::unique_ptr<QLocalServer> server_;
  TShowWindow showWindow_;
};
