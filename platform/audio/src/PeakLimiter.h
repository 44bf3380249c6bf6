// The last stage before the output: a peak limiter that keeps every sample
// under the ceiling without delaying the sound. The gain is set for steps of
// a few samples: it falls at once, at the start of a step whose loudest
// sample would pass the ceiling, and comes back smoothly after it, so a loud
// chord is turned down instead of clipped, and nothing quieter than the
// ceiling is touched.
#pragma once

#include <atomic>

namespace chimewick::audio {

class PeakLimiter {
 public:
  // -1 dBFS: room for the rounding of an output that converts to integers.
  static constexpr float kCeiling = 0.891251f;
  // The time the gain takes to come back by 1/e of the way to unity.
  static constexpr double kReleaseSeconds = 0.1;
  // The frames that share one gain target (a third of a millisecond).
  static constexpr int kStepFrames = 16;

  PeakLimiter() { configure(48000.0); }

  // Sets the release for a sample rate. Any thread, even while a block is
  // being processed.
  void configure(double sampleRate) noexcept;

  // Limits one block in place. Audio thread (one at a time); no lock, no
  // allocation, no latency.
  void process(float* left, float* right, int frames) noexcept;

 private:
  std::atomic<double> release_{0.0};  // per-step factor of the gain's distance to unity
  double gain_ = 1.0;                 // audio thread only
};

}  // namespace chimewick::audio
