#include "AudioLog.h"

#include <fluidsynth.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace chimewick::audio {

namespace {

void fluidLogToOurs(int level, const char* message, void*) {
  const char* label = level == FLUID_PANIC ? "panic" : level == FLUID_ERR ? "error" : "warning";
  logLine("fluidsynth %s: %s", label, message);
}

}  // namespace

void logLine(const char* format, ...) {
  char text[1024];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  std::fprintf(stderr, "chimewick audio: %s\n", text);
}

void installFluidLogger() {
  static std::once_flag once;
  std::call_once(once, [] {
    fluid_set_log_function(FLUID_PANIC, fluidLogToOurs, nullptr);
    fluid_set_log_function(FLUID_ERR, fluidLogToOurs, nullptr);
    fluid_set_log_function(FLUID_WARN, fluidLogToOurs, nullptr);
    fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
    fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
  });
}

}  // namespace chimewick::audio
