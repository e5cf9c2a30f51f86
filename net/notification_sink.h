#pragma once

// Where the process learns which sockets are ready. Every watched handle is
// registered in one epoll set, and one QSocketNotifier on that set's
// descriptor wakes the UI thread's event loop. Only ready handles are
// dispatched, at most kMaxReadyPerActivation per wake-up, so a loop turn costs
// the same with ten or twenty thousand connections open and the window's own
// events still get their turn during a flood.

#include <cstdint>

class TCustomWSocket;

// How many ready handles one wake-up of the event loop dispatches; the rest
// stay ready (the set is level-triggered) and wake the loop again.
constexpr int kMaxReadyPerActivation = 64;

// A wake-up that finds more handles ready than this is crowded: each
// connection then takes a smaller share, so that one turn over all of them
// stays short.
constexpr int kCrowdedReadyCount = 4;
// Whether the wake-up being dispatched is crowded.
bool DispatchIsCrowded();

// Names one registration. Tokens are never reused, so a notification that was
// collected for a handle that has since been closed, and whose number a new
// socket now holds, cannot reach the new socket.
using TWatchToken = uint64_t;

// Registers handle for readability on behalf of owner, whose HandleReadiness runs
// for each readiness, a failure or hang-up of the handle included. Answers 0
// with errno set when the platform refuses, or with errno 0 when there is no
// event loop to deliver notifications.
TWatchToken WatchHandle(int handle, TCustomWSocket* owner);
// Forgets the registration: no notification reaches its owner any more, also
// none already collected for the wake-up being dispatched. Never fails.
void UnwatchHandle(TWatchToken token);
// Stops and restarts read notifications for a registration without
// forgetting it; write notifications stay as they are. Answer 0, or -1 with
// errno when the platform refuses the change.
int PauseHandle(TWatchToken token);
int ResumeHandle(TWatchToken token);
// Turns notifications of room to write on or off for a registration (off when
// registered); its owner's HandleWritable runs for each. The set is
// level-triggered, so an owner turns them off as soon as it has nothing left
// to write. Answers 0, or -1 with errno when the platform refuses the change.
int WatchWritable(TWatchToken token, bool on);
// Closes the set and its notifier once no socket object is left.
void ReleaseNotificationSink();
