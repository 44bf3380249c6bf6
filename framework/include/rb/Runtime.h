// Runtime start, event loop, quit, the unhandled-exception handler and exit.
#pragma once

#include <exception>
#include <functional>

#include "rb/String.h"

namespace rb {

// Starts the runtime: makes the Qt application (QApplication) from the
// process arguments. Call once, on the UI thread (the process's first), before anything else.
void RuntimeInit(int& argc, char** argv);
bool RuntimeIsInitialised() noexcept;

// Runs the event loop until Quit. Main thread.
void RuntimeRun();

// Shows the exception's message (MsgBox, and on standard error) and returns.
// Never throws: a further fault while the box shows goes to standard error.
// Main thread; waits until the box is dismissed.
void RuntimeUnhandledException(const std::exception& e);

// Ends the runtime; the result is the process's exit status (the code given
// to Quit, 0 by default).
int RuntimeExit();

// Ends the event loop with the exit code: every open window gets CancelClose
// with appQuitting true and then Close (unless an earlier Quit already did).
// Returns to its caller. Main thread.
void Quit(int code = 0);
bool IsQuitting() noexcept;

// Queues fn to run on the event loop (UI thread). Any thread; never waits.
void PostToEventLoop(std::function<void()> fn);

// Runs queued events for up to maxMilliseconds (0: what is pending now).
// Main thread; for tests and modal loops.
void ProcessEvents(int maxMilliseconds = 0);

}  // namespace rb

namespace rb {

// Makes SIGTERM, SIGINT and SIGHUP (a logout, a service manager, Ctrl+C in
// a terminal) end the program as Quit does, so windows close and save
// rather than the process dying. The same signal a second time ends the
// process at once. Main thread, after RuntimeInit.
void QuitOnTerminationSignals();

}  // namespace rb

namespace rb {

// A desktop brings a running program forward by starting it again. The
// first process to claim appId listens for later starts; a later start
// tells it to activate (the application's Activate event) and learns that it
// should end. Returns true in the one process that runs. The claim is per
// user and per preferences folder: the socket lives in $XDG_RUNTIME_DIR, or
// else in <temp>/chimewick-<uid> (mode 0700), and is used only when that
// folder is the user's own and closed to others; a listener of another user
// is never handed over to. UI thread, after RuntimeInit; waits at most about
// a second for a running instance to answer.
bool ClaimSingleInstance(const String& appId);

}  // namespace rb
