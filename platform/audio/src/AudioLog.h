// One voice on standard error for this layer and for FluidSynth under it.
#pragma once

namespace chimewick::audio {

// Writes "Chimewick audio: <text>" and a newline to standard error: the
// reason of a failure, or what the output device granted. On the audio
// thread or JACK's real-time thread the line is only counted, and the next
// line written elsewhere says how many were left out. Any thread; does not
// wait.
void logLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Marks the current thread as rendering while it lives. FluidSynth may warn
// from inside fluid_synth_process (a voice beyond the polyphony), and the
// audio thread must never write to standard error: such messages are only
// counted, and the next line logged on another thread says how many were
// left out. Audio thread; never waits.
class RenderThreadScope {
 public:
  RenderThreadScope() noexcept;
  ~RenderThreadScope();
  RenderThreadScope(const RenderThreadScope&) = delete;
  RenderThreadScope& operator=(const RenderThreadScope&) = delete;
};

// Keeps the current thread quiet while it lives: neither our lines nor
// FluidSynth's messages from this thread are written. For work done ahead of
// time whose failure is reported when it is done again. Any thread.
class QuietThreadScope {
 public:
  QuietThreadScope() noexcept;
  ~QuietThreadScope();
  QuietThreadScope(const QuietThreadScope&) = delete;
  QuietThreadScope& operator=(const QuietThreadScope&) = delete;
};

// Routes FluidSynth's warnings and errors through logLine (its info and
// debug chatter stays quiet). Idempotent. Any thread.
void installFluidLogger();

// Gives FluidSynth its own logger back, for when this library is unloaded
// (a plug-in's dlclose) while FluidSynth stays. Control thread.
void uninstallFluidLogger();

}  // namespace chimewick::audio
