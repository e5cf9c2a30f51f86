#include "net/host_lookup.h"

#include <netdb.h>

#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include "net/socket_errors.h"

// What the look-up thread and the owner share: the thread answers only while
// the owner is there, under the lock the owner's destructor takes.
struct THostLookup::TShared {
  std::mutex Mutex;
  THostLookup* Owner = nullptr;
};

namespace {

constexpr int kHostNotFound = 11001;
constexpr int kTryAgain = 11002;
constexpr int kNonRecoverable = 11003;
constexpr int kNoData = 11004;

TLookupResult Resolve(const std::string& host, uint16_t port, int flags) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = flags | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  const int answer = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (answer != 0) return {{}, LookupFailureText(answer)};
  TLookupResult result;
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_addrlen > sizeof(sockaddr_storage)) continue;
    TSocketAddress address;
    std::memcpy(&address.Address, entry->ai_addr, entry->ai_addrlen);
    address.Length = entry->ai_addrlen;
    result.Addresses.push_back(address);
  }
  ::freeaddrinfo(found);
  if (result.Addresses.empty()) result.Failure = LookupFailureText(EAI_NODATA);
  return result;
}

}  // namespace

std::string LookupFailureText(int lookupError) {
  int code = kNonRecoverable;
  if (lookupError == EAI_NONAME) code = kHostNotFound;
  if (lookupError == EAI_AGAIN) code = kTryAgain;
#ifdef EAI_NODATA
  if (lookupError == EAI_NODATA) code = kNoData;
#endif
  return SocketErrorLine(code, "getaddrinfo");
}

TLookupResult LookUpAddresses(const std::string& host, uint16_t port) {
  return Resolve(host, port, 0);
}

THostLookup::THostLookup(TLookUp lookUp)
    : lookUp_(std::move(lookUp)), shared_(std::make_shared<TShared>()) {
  shared_->Owner = this;
}

THostLookup::~THostLookup() {
  const std::lock_guard<std::mutex> lock(shared_->Mutex);
  shared_->Owner = nullptr;
}

void THostLookup::Start(const std::string& host, uint16_t port, TDone done) {
  done_ = std::move(done);
  // A numeric address is read without a name server, so at once.
  TLookupResult numeric = Resolve(host, port, AI_NUMERICHOST);
  if (numeric.Failure.empty()) {
    QMetaObject::invokeMethod(
        this, [this, result = std::move(numeric)] { Answer(result); }, Qt::QueuedConnection);
    return;
  }
  // Posting under the lock: once the destructor has taken it, nothing more
  // is posted, and what was posted before goes with the object.
  std::thread([shared = shared_, lookUp = lookUp_, host, port] {
    TLookupResult result = lookUp(host, port);
    const std::lock_guard<std::mutex> lock(shared->Mutex);
    if (THostLookup* owner = shared->Owner)
      QMetaObject::invokeMethod(
          owner, [owner, result = std::move(result)] { owner->Answer(result); },
          Qt::QueuedConnection);
  }).detach();
}

void THostLookup::Answer(const TLookupResult& result) {
  if (done_) done_(result);
}
