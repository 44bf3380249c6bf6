// The MIDI layer's lines on standard error, from any thread but JACK's
// real-time one (where nothing may be written; there the line is dropped).
#pragma once

namespace chimewick::midi {

// Writes one line through the MIDI logger unless called on the real-time
// thread. Any thread.
void logOffRealTime(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace chimewick::midi
