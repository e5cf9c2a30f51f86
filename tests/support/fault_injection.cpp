#include "support/fault_injection.h"

#include <array>
#include <cerrno>
#include <climits>
#include <type_traits>

#include "base/system_calls.h"
#include "net/socket_calls.h"

namespace {

struct TRule {
  TFault fault;
  int calls = 0;
  int injected = 0;
  TFileCallHook::TCallback callback = nullptr;
  void* context = nullptr;
  bool callbackRan = false;
};

enum class TVerdict { Pass, Fail, Shorten };

TVerdict Decide(TRule& rule) {
  const int call = ++rule.calls;
  if (rule.callback != nullptr && !rule.callbackRan) {
    rule.callbackRan = true;
    rule.callback(rule.context);
  }
  const TFault& fault = rule.fault;
  if (fault.interruptEveryCall) {
    if (call % 2 == 0) return TVerdict::Pass;
    ++rule.injected;
    return TVerdict::Fail;
  }
  if (fault.error == 0 && fault.shortWriteBytes == 0) return TVerdict::Pass;
  const int last =
      fault.failingCalls == 0 ? INT_MAX : fault.firstFailingCall + fault.failingCalls - 1;
  if (call < fault.firstFailingCall || call > last) return TVerdict::Pass;
  ++rule.injected;
  if (fault.shortWriteBytes == 0) return TVerdict::Fail;
  // With an error too, only the first failing call is cut short.
  const bool shorten = fault.error == 0 || call == fault.firstFailingCall;
  return shorten ? TVerdict::Shorten : TVerdict::Fail;
}

int ErrorOf(const TRule& rule) { return rule.fault.interruptEveryCall ? EINTR : rule.fault.error; }

template <typename T>
struct TMemberPointee;
template <typename Class, typename Pointee>
struct TMemberPointee<Pointee Class::*> {
  using Type = Pointee;
};

// Every member of a table is an entry of its list, so the names above and the
// table agree on each index.
static_assert(sizeof(TFileCalls) == kFileCallCount * sizeof(TFileCalls::Close));
static_assert(sizeof(TSocketCalls) == kSocketCallCount * sizeof(TSocketCalls::Close));

std::array<TRule, kFileCallCount> gFileRules;
std::array<TRule, kSocketCallCount> gSocketRules;
// What each entry held before its fault was installed; the wrappers forward
// to it, so faults stack on whatever a test had set up.
std::array<TFileCalls, kFileCallCount> gSavedFileCalls;
std::array<TSocketCalls, kSocketCallCount> gSavedSocketCalls;

// The wrapper of one table entry. Close releases the descriptor before it
// reports its failure, as Linux does; a shortened write hands the platform
// only the first bytes.
template <typename Table, auto Member, std::size_t Index,
          typename Signature = typename TMemberPointee<decltype(Member)>::Type>
struct TWrapper;

template <typename Table, auto Member, std::size_t Index, typename R, typename... A>
struct TWrapper<Table, Member, Index, R (*)(A...)> {
  static constexpr bool kIsFile = std::is_same_v<Table, TFileCalls>;
  static constexpr bool kIsClose =
      kIsFile ? Index == std::size_t(TFileCall::Close) : Index == std::size_t(TSocketCall::Close);
  static constexpr bool kIsWrite = kIsFile && Index == std::size_t(TFileCall::Write);

  static TRule& Rule() {
    if constexpr (kIsFile)
      return gFileRules[Index];
    else
      return gSocketRules[Index];
  }
  static const Table& Saved() {
    if constexpr (kIsFile)
      return gSavedFileCalls[Index];
    else
      return gSavedSocketCalls[Index];
  }
  static R Call(A... arguments) {
    TRule& rule = Rule();
    switch (Decide(rule)) {
      case TVerdict::Pass:
        break;
      case TVerdict::Fail:
        if constexpr (kIsClose) (Saved().*Member)(arguments...);
        errno = ErrorOf(rule);
        return R(-1);
      case TVerdict::Shorten:
        if constexpr (kIsWrite) return Shortened(rule.fault.shortWriteBytes, arguments...);
        break;
    }
    return (Saved().*Member)(arguments...);
  }
  static ssize_t Shortened(std::size_t limit, int fd, const void* data, std::size_t size) {
    return (Saved().*Member)(fd, data, size < limit ? size : limit);
  }
};

struct TEntryOperations {
  void (*install)();
  void (*restore)();
};

template <auto Member, TFileCall Name>
constexpr TEntryOperations FileEntry() {
  constexpr auto index = std::size_t(Name);
  using Wrapper = TWrapper<TFileCalls, Member, index>;
  return {[] {
            gSavedFileCalls[index] = FileCalls();
            FileCalls().*Member = &Wrapper::Call;
          },
          [] { FileCalls().*Member = gSavedFileCalls[index].*Member; }};
}

template <auto Member, TSocketCall Name>
constexpr TEntryOperations SocketEntry() {
  constexpr auto index = std::size_t(Name);
  using Wrapper = TWrapper<TSocketCalls, Member, index>;
  return {[] {
            gSavedSocketCalls[index] = SocketCalls();
            SocketCalls().*Member = &Wrapper::Call;
          },
          [] { SocketCalls().*Member = gSavedSocketCalls[index].*Member; }};
}

#define TARNOCK_FILE_ENTRY(name, result, parameters, real) \
  FileEntry<&TFileCalls::name, TFileCall::name>(),
#define TARNOCK_SOCKET_ENTRY(name, result, parameters, real) \
  SocketEntry<&TSocketCalls::name, TSocketCall::name>(),

const TEntryOperations kFileEntries[kFileCallCount] = {TARNOCK_FILE_CALLS(TARNOCK_FILE_ENTRY)};
const TEntryOperations kSocketEntries[kSocketCallCount] = {
    TARNOCK_SOCKET_CALLS(TARNOCK_SOCKET_ENTRY)};

std::size_t IndexOf(TFileCall call) { return static_cast<std::size_t>(call); }
std::size_t IndexOf(TSocketCall call) { return static_cast<std::size_t>(call); }

}  // namespace

TFileFault::TFileFault(TFileCall call, TFault fault) : call_(call) {
  gFileRules[IndexOf(call)] = TRule{fault};
  kFileEntries[IndexOf(call)].install();
}

TFileFault::~TFileFault() { kFileEntries[IndexOf(call_)].restore(); }

int TFileFault::Calls() const { return gFileRules[IndexOf(call_)].calls; }

int TFileFault::Injected() const { return gFileRules[IndexOf(call_)].injected; }

TSocketFault::TSocketFault(TSocketCall call, TFault fault) : call_(call) {
  gSocketRules[IndexOf(call)] = TRule{fault};
  kSocketEntries[IndexOf(call)].install();
}

TSocketFault::~TSocketFault() { kSocketEntries[IndexOf(call_)].restore(); }

int TSocketFault::Calls() const { return gSocketRules[IndexOf(call_)].calls; }

int TSocketFault::Injected() const { return gSocketRules[IndexOf(call_)].injected; }

TSocketCallsOverride::TSocketCallsOverride() : saved_(SocketCalls()) {}

TSocketCallsOverride::~TSocketCallsOverride() { SocketCalls() = saved_; }

TSocketCalls& TSocketCallsOverride::Calls() { return SocketCalls(); }

TFileCallHook::TFileCallHook(TFileCall call, TCallback callback, void* context) : call_(call) {
  TRule rule;
  rule.callback = callback;
  rule.context = context;
  gFileRules[IndexOf(call)] = rule;
  kFileEntries[IndexOf(call)].install();
}

TFileCallHook::~TFileCallHook() { kFileEntries[IndexOf(call_)].restore(); }

bool TFileCallHook::Ran() const { return gFileRules[IndexOf(call_)].callbackRan; }
