#include "wsocket_server.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

TTestServer::TTestServer(bool destroyInClose) : destroyInClose(destroyInClose) {
  listener.SetAddr("127.0.0.1");
  listener.SetPort("0");
  listener.OnSessionAvailable = [this](TCustomWSocket*, uint16_t) { Adopt(); };
  listener.Listen();
  port_ = listener.LocalPortNumber();
}

int TTestServer::ClosedCount() const {
  int count = 0;
  for (const auto& session : sessions) count += session->closeEvents;
  return count;
}

void TTestServer::Adopt() {
  ++available;
  int fd = -1;
  try {
    fd = listener.Accept();
  } catch (const ESocketException& e) {
    AcceptError = e.Message();
    return;
  }
  auto record = std::make_unique<TRecordedSession>();
  TRecordedSession* r = record.get();
  r->socket = std::make_unique<TCustomWSocket>();
  r->handle = fd;
  r->socket->Dup(fd);
  r->socket->OnDataAvailable = [r](TCustomWSocket* sender, uint16_t) {
    ++r->dataEvents;
    if (r->closeEvents > 0) ++r->dataEventsAfterClose;
    char buffer[1024];
    int count = sender->Receive(buffer, sizeof buffer);
    r->pieces.push_back(count);
    if (count > 0) r->received.append(buffer, static_cast<size_t>(count));
    if (count < 0) r->errors.push_back(sender->LastError());
  };
  r->socket->OnSessionClosed = [this, r](TCustomWSocket* sender, uint16_t error) {
    ++r->closeEvents;
    r->closeError = error;
    r->stateInClose = sender->State();
    r->peerInClose = sender->PeerAddr();
    if (!destroyInClose) return;
    sender->ShutDown(2);
    sender->Close();
    r->socket.reset();
  };
  sessions.push_back(std::move(record));
}

bool PeerSeesEnd(int fd, int timeoutMs) {
  char buffer[4096];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    int ready = ::poll(&p, 1, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return true;
  }
}
