#include "AudioLog.h"

#include <fluidsynth.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "chimewick/JackSession.h"
#include "chimewick/Log.h"

namespace chimewick::audio {

namespace {

// Initial-exec: the audio thread reads these, and a plug-in's thread-local
// variables in the dynamic model are allocated on a thread's first use.
thread_local bool rendering __attribute__((tls_model("initial-exec"))) = false;
thread_local bool quiet __attribute__((tls_model("initial-exec"))) = false;
std::atomic<unsigned> leftOutWhileRendering{0};

// The audio thread, or JACK's real-time thread (which also plays MIDI).
bool onRealTimeThread() noexcept { return rendering || chimewick::jack::onProcessThread(); }

void fluidLogToOurs(int level, const char* message, void*) {
  if (quiet) return;
  if (onRealTimeThread()) {
    leftOutWhileRendering.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  const char* label = level == FLUID_PANIC ? "panic" : level == FLUID_ERR ? "error" : "warning";
  logLine("fluidsynth %s: %s", label, message);
}

}  // namespace

RenderThreadScope::RenderThreadScope() noexcept { rendering = true; }
RenderThreadScope::~RenderThreadScope() { rendering = false; }

QuietThreadScope::QuietThreadScope() noexcept { quiet = true; }
QuietThreadScope::~QuietThreadScope() { quiet = false; }

void logLine(const char* format, ...) {
  if (quiet) return;
  if (onRealTimeThread()) {
    leftOutWhileRendering.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  if (const unsigned leftOut = leftOutWhileRendering.exchange(0, std::memory_order_relaxed)) {
    audioLog.line("%u messages from the audio thread left out", leftOut);
  }
  va_list arguments;
  va_start(arguments, format);
  audioLog.vline(format, arguments);
  va_end(arguments);
}

namespace {
std::mutex loggerMutex;
bool loggerInstalled = false;
}  // namespace

void installFluidLogger() {
  std::lock_guard<std::mutex> lock(loggerMutex);
  if (loggerInstalled) return;
  loggerInstalled = true;
  fluid_set_log_function(FLUID_PANIC, fluidLogToOurs, nullptr);
  fluid_set_log_function(FLUID_ERR, fluidLogToOurs, nullptr);
  fluid_set_log_function(FLUID_WARN, fluidLogToOurs, nullptr);
  fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
  fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
}

void uninstallFluidLogger() {
  std::lock_guard<std::mutex> lock(loggerMutex);
  if (!loggerInstalled) return;
  loggerInstalled = false;
  for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG})
    fluid_set_log_function(level, fluid_default_log_function, nullptr);
}

}  // namespace chimewick::audio
