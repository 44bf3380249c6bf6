// One voice on standard error for every layer: each line reads
// "Chimewick <layer>: <text>" and goes out in a single write, so lines from
// several threads never interleave. Header-only, so that the plug-in's audio
// layer can use it without linking the framework.
//
// Threads: any thread but the audio thread (formatting and writing to a file
// descriptor may block). Never allocates.
#pragma once

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace chimewick {

class Log {
 public:
  // layer: the prefix's second word, e.g. "MIDI", "audio", "framework".
  constexpr explicit Log(const char* layer) noexcept : layer_(layer) {}

  // Formats one line (printf-style, cut at 1 KiB) and writes it.
  void line(const char* format, ...) const noexcept __attribute__((format(printf, 2, 3))) {
    va_list arguments;
    va_start(arguments, format);
    vline(format, arguments);
    va_end(arguments);
  }

  void vline(const char* format, va_list arguments) const noexcept {
    char text[1024];
    int used = std::snprintf(text, sizeof text, "Chimewick %s: ", layer_);
    if (used < 0 || used >= static_cast<int>(sizeof text)) return;
    const int body = std::vsnprintf(text + used, sizeof text - used, format, arguments);
    if (body < 0) return;
    used = used + body < static_cast<int>(sizeof text) - 1 ? used + body : static_cast<int>(sizeof text) - 2;
    text[used++] = '\n';
    // stderr is unbuffered; fflush keeps order with anything written by stdio.
    std::fflush(stderr);
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text, static_cast<size_t>(used));
  }

 private:
  const char* layer_;
};

// One logger per layer.
inline constexpr Log frameworkLog{"framework"};
inline constexpr Log midiLog{"MIDI"};
inline constexpr Log audioLog{"audio"};
inline constexpr Log playbackLog{"playback"};
inline constexpr Log appLog{"app"};

}  // namespace chimewick
