#pragma once

// A listener on 127.0.0.1 that adopts each connection into a recording
// session the way the capture monitor does, for the socket tests.

#include <memory>
#include <string>
#include <vector>

#include "net/wsocket.h"

struct TRecordedSession {
  std::unique_ptr<TCustomWSocket> socket;
  int handle = -1;
  std::string received;
  std::vector<int> pieces;  // every Receive count, failures as -1
  std::vector<int> errors;  // LastError after each failed Receive
  int dataEvents = 0;
  int dataEventsAfterClose = 0;
  int closeEvents = 0;
  uint16_t closeError = 0xFFFF;
  TSocketState stateInClose = wsInvalidState;
  std::string peerInClose;
};

class TTestServer {
 public:
  // Listens on a port the system picks; destroyInClose: each session is shut
  // down, closed and destroyed inside its own OnSessionClosed.
  explicit TTestServer(bool destroyInClose = true);
  uint16_t PortNumber() const { return port_; }

  TWSocket listener;
  std::vector<std::unique_ptr<TRecordedSession>> sessions;
  int available = 0;
  bool destroyInClose;

  int ClosedCount() const;
  std::string AcceptError;

 private:
  void Adopt();
  uint16_t port_ = 0;
};

// Waits until the peer's side of fd ends (0 or a failure); false on timeout.
bool PeerSeesEnd(int fd, int timeoutMs = 5000);
