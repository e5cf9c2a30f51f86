#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

#include "base/system_calls.h"
#include "net/socket_calls.h"

// Scoped faults in the platform call tables of the file layer and the socket
// layer. While a fault object lives, the chosen entry of the table goes
// through a wrapper that counts its calls and makes some of them fail; the
// destructor puts the table entry back as it found it. Faults on different
// entries may live at the same time; one entry holds one fault at a time.

// One name per entry of each table, in the table's order.
enum class TFileCall { TARNOCK_FILE_CALLS(TARNOCK_CALL_NAME) };
enum class TSocketCall { TARNOCK_SOCKET_CALLS(TARNOCK_CALL_NAME) };

// Which calls fail and how. Calls are counted from 1 from the moment the
// fault is installed.
struct TFault {
  // The first call that fails.
  int firstFailingCall = 1;
  // How many calls in a row fail from there on; 0 means every later call.
  int failingCalls = 1;
  // The errno a failing call sets. For Close the descriptor is released all
  // the same, as Linux does even when close reports a failure.
  int error = 0;
  // Write only: instead of failing, a failing call writes at most this many
  // bytes and reports that count (a short write). With an error set as well,
  // only the first failing call is cut short and the later ones fail with
  // the error (a disk that fills up in the middle of a write). 0 turns this
  // off.
  std::size_t shortWriteBytes = 0;
  // Every call is first interrupted once: odd calls fail with EINTR, and the
  // retry that follows goes through. Overrides the fields above.
  bool interruptEveryCall = false;
};

class TFileFault {
 public:
  TFileFault(TFileCall call, TFault fault);
  ~TFileFault();
  TFileFault(const TFileFault&) = delete;
  TFileFault& operator=(const TFileFault&) = delete;

  // Calls made through the entry since the fault was installed.
  int Calls() const;
  // Calls that failed (or were shortened) on purpose.
  int Injected() const;

 private:
  TFileCall call_;
};

class TSocketFault {
 public:
  TSocketFault(TSocketCall call, TFault fault);
  ~TSocketFault();
  TSocketFault(const TSocketFault&) = delete;
  TSocketFault& operator=(const TSocketFault&) = delete;

  int Calls() const;
  int Injected() const;

 private:
  TSocketCall call_;
};

// Puts the socket table back as it found it when the scope ends, for a test
// that replaces an entry with a stand-in of its own rather than a fault.
class TSocketCallsOverride {
 public:
  TSocketCallsOverride();
  ~TSocketCallsOverride();
  TSocketCallsOverride(const TSocketCallsOverride&) = delete;
  TSocketCallsOverride& operator=(const TSocketCallsOverride&) = delete;
  TSocketCalls& Calls();

 private:
  TSocketCalls saved_;
};

// Runs a callback inside one entry of the file table, just before the real
// call is made: lets a test play another program that acts at exactly that
// moment (replacing a file during a save, say). The callback runs on the
// first call only.
class TFileCallHook {
 public:
  using TCallback = void (*)(void* context);
  TFileCallHook(TFileCall call, TCallback callback, void* context);
  ~TFileCallHook();
  TFileCallHook(const TFileCallHook&) = delete;
  TFileCallHook& operator=(const TFileCallHook&) = delete;

  bool Ran() const;

 private:
  TFileCall call_;
};

// Puts a function of the test's own in place of one entry of the file table
// for its lifetime, for a behaviour no TFault describes (recording what a
// call was handed, failing only some opens, ...). Like a fault it puts the
// entry back as it found it; the function may forward to RealFileCalls().
template <auto Entry>
class TFileCallStandIn {
 public:
  using TFunction = std::remove_reference_t<decltype(std::declval<TFileCalls&>().*Entry)>;

  explicit TFileCallStandIn(TFunction function) : saved_(FileCalls().*Entry) {
    FileCalls().*Entry = function;
  }
  ~TFileCallStandIn() { FileCalls().*Entry = saved_; }
  TFileCallStandIn(const TFileCallStandIn&) = delete;
  TFileCallStandIn& operator=(const TFileCallStandIn&) = delete;

 private:
  TFunction saved_;
};
