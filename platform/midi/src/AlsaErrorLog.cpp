#include "AlsaErrorLog.h"

#include <alsa/asoundlib.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "chimewick/Log.h"

namespace chimewick::midi {
namespace {

extern "C" void logAlsaError(const char* file, int line, const char* function, int err, const char* format,
                             ...) {
  char text[512];
  va_list arguments;
  va_start(arguments, format);
  const int used = std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  if (used < 0) text[0] = '\0';
  const char* where = function != nullptr ? function : "";
  if (err != 0)
    midiLog.line("ALSA %s: %s: %s (%s:%d)", where, text, snd_strerror(err), file ? file : "?", line);
  else
    midiLog.line("ALSA %s: %s (%s:%d)", where, text, file ? file : "?", line);
}

}  // namespace

void routeAlsaErrorsToLog() noexcept {
  static std::once_flag once;
  std::call_once(once, [] { snd_lib_error_set_handler(&logAlsaError); });
}

}  // namespace chimewick::midi
