// One voice on standard error for this layer and for FluidSynth under it.
#pragma once

namespace chimewick::audio {

// Writes "chimewick audio: <text>" and a newline to standard error.
// Control or MIDI thread, never the audio thread; does not wait.
void logError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Routes FluidSynth's warnings and errors through logError (its info and
// debug chatter stays quiet). Idempotent. Any thread.
void installFluidLogger();

}  // namespace chimewick::audio
