#include "PeakLimiter.h"

#include <algorithm>
#include <cmath>

namespace chimewick::audio {

void PeakLimiter::configure(double sampleRate) noexcept {
  if (sampleRate <= 0.0) return;
  release_.store(std::exp(-1.0 / (kReleaseSeconds * sampleRate)), std::memory_order_relaxed);
}

void PeakLimiter::process(float* left, float* right, int frames) noexcept {
  double gain = gain_;
  if (gain == 1.0) {
    // The usual block: nothing near the ceiling and no gain to bring back.
    float peak = 0.0f;
    for (int i = 0; i < frames; ++i) peak = std::max(peak, std::max(std::fabs(left[i]), std::fabs(right[i])));
    if (peak <= kCeiling) return;
  }
  const double release = release_.load(std::memory_order_relaxed);
  for (int i = 0; i < frames; ++i) {
    const double peak = std::max(std::fabs(left[i]), std::fabs(right[i]));
    // Back towards unity by the release; down at once, and no further than
    // this sample needs, when that would pass the ceiling.
    gain = 1.0 - (1.0 - gain) * release;
    if (peak * gain > kCeiling) gain = kCeiling / peak;
    left[i] = static_cast<float>(left[i] * gain);
    right[i] = static_cast<float>(right[i] * gain);
  }
  // Within 0.001 dB of unity counts as back, so that the usual block is the
  // cheap one again.
  gain_ = gain > 0.9999 ? 1.0 : gain;
}

}  // namespace chimewick::audio
