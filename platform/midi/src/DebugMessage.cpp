#include "DebugMessage.h"

#include <atomic>
#include <cstdio>

namespace {
std::atomic<bool> tracesOn{true};
}

void DebugMessageZel(const rb::String& message) {
  if (!tracesOn.load(std::memory_order_relaxed)) return;
  // One write per line, so lines from several threads do not interleave.
  std::string line = "Chimewick MIDI: " + message.Bytes() + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

void DebugMessageEnableZel(bool activate) { tracesOn.store(activate, std::memory_order_relaxed); }

bool DebugMessagesEnabled() noexcept { return tracesOn.load(std::memory_order_relaxed); }
