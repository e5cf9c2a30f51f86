#pragma once

// One TCP connection this program opens to a peer, to hand it bytes: the
// connect and every write never wait, and readiness comes from the event
// loop. A peer that is slow or gone therefore holds up nothing but this
// connection; the time limits are the owner's, which knows what it waits for.

#include <sys/types.h>

#include <QObject>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "net/host_lookup.h"

class QSocketNotifier;

class TOutgoingConnection : public QObject {
 public:
  // Each is called from the event loop, never from inside a call of the
  // owner's, and is the last thing the connection does in that turn: a
  // handler may hand the object on, but must not destroy it (destroy it in
  // a later turn).
  struct THandlers {
    std::function<void()> Connected;
    // Send took nothing last time and would take bytes now.
    std::function<void()> Writable;
    // After EndSending: the peer has ended its side too.
    std::function<void()> PeerEnded;
    // "Error 10061 in function connect (Connection refused)", and the like.
    std::function<void(const std::string& reason)> Failed;
  };

  explicit TOutgoingConnection(THandlers handlers);
  // Closes the connection; raises no event.
  ~TOutgoingConnection() override;
  TOutgoingConnection(const TOutgoingConnection&) = delete;
  TOutgoingConnection& operator=(const TOutgoingConnection&) = delete;

  // Tries the addresses in order until one connects: Connected then, or
  // Failed with the last address's reason.
  void Connect(std::vector<TSocketAddress> addresses);
  // The bytes the platform takes now, perhaps fewer than given; 0 when it
  // takes none now (Writable follows), -1 after a failure (Failed follows).
  ssize_t Send(const char* data, std::size_t size);
  // Ends this side in order, once every byte sent is on its way; what the
  // peer sends from then on is read and dropped until it ends its side.
  void EndSending();
  // Closes the connection at once; no handler is called after it.
  void Close();

 private:
  void TryNext();
  void HandleWritable();
  void HandleReadable();
  void Fail(int platformErrno, const char* functionName);
  void CloseHandle();

  THandlers handlers_;
  std::vector<TSocketAddress> addresses_;
  std::size_t next_ = 0;
  int handle_ = -1;
  bool connected_ = false;
  bool closed_ = false;
  QSocketNotifier* writable_ = nullptr;
  QSocketNotifier* readable_ = nullptr;
};
