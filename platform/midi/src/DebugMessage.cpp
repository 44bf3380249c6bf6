#include "DebugMessage.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "RealTimeLog.h"
#include "chimewick/JackSession.h"
#include "chimewick/Log.h"

namespace {
std::atomic<bool> tracesOn{true};
}

void DebugMessageZel(const rb::String& message) {
  if (!DebugMessagesEnabled()) return;
  chimewick::midiLog.line("%s", message.Bytes().c_str());
}

void DebugMessageEnableZel(bool activate) { tracesOn.store(activate, std::memory_order_relaxed); }

bool DebugMessagesEnabled() noexcept {
  // The real-time thread writes no trace: building one allocates, writing
  // one may block.
  return tracesOn.load(std::memory_order_relaxed) && !chimewick::jack::onProcessThread();
}

namespace chimewick::midi {

void logOffRealTime(const char* format, ...) {
  if (jack::onProcessThread()) return;
  va_list arguments;
  va_start(arguments, format);
  midiLog.vline(format, arguments);
  va_end(arguments);
}

}  // namespace chimewick::midi
