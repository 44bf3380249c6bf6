#include <fcntl.h>
#include <unistd.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "FrameworkInternal.h"
#include "chimewick/Log.h"
#include "rb/Runtime.h"

namespace rb {
namespace {

// The signal handler may only write to a pipe; the event loop reads it.
int signalPipe[2] = {-1, -1};

extern "C" void OnTerminationSignal(int) {
  // The interrupted code may be about to read errno: write must not change it.
  const int savedErrno = errno;
  const char byte = 1;
  const ssize_t ignored = ::write(signalPipe[1], &byte, 1);
  (void)ignored;
  errno = savedErrno;
}

// Each handler serves one signal and then gives way to the default action,
// so a second request (a quit that hangs, or one after the event loop has
// ended) ends the process as the signal normally would.
void InstallTerminationHandlers() {
  struct sigaction action = {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
}

}  // namespace

void QuitOnTerminationSignals() {
  if (signalPipe[0] >= 0 || QCoreApplication::instance() == nullptr) return;
  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    chimewick::frameworkLog.line("termination signals: %s", std::strerror(errno));
    return;
  }
  // Owned by the application object, so it goes with the runtime.
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, [] {
    char bytes[16];
    while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
    }
    // Windows' CancelClose and Close handlers run inside Quit.
    RunGuarded([] {
      if (!IsQuitting()) Quit(0);
    });
    // A window refused to close: the program goes on and may be asked again.
    if (!IsQuitting()) InstallTerminationHandlers();
  });
  InstallTerminationHandlers();
}

}  // namespace rb
