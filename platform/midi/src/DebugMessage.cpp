#include "DebugMessage.h"

#include <atomic>
#include <cstdio>

#include "chimewick/Log.h"

namespace {
std::atomic<bool> tracesOn{true};
}

void DebugMessageZel(const rb::String& message) {
  if (!tracesOn.load(std::memory_order_relaxed)) return;
  chimewick::midiLog.line("%s", message.Bytes().c_str());
}

void DebugMessageEnableZel(bool activate) { tracesOn.store(activate, std::memory_order_relaxed); }

bool DebugMessagesEnabled() noexcept { return tracesOn.load(std::memory_order_relaxed); }
