#include "PeakLimiter.h"

#include <algorithm>
#include <cmath>

namespace chimewick::audio {

void PeakLimiter::configure(double sampleRate) noexcept {
  if (sampleRate <= 0.0) return;
  release_.store(std::exp(-double(kStepFrames) / (kReleaseSeconds * sampleRate)), std::memory_order_relaxed);
}

namespace {

float peakOf(const float* left, const float* right, int frames) noexcept {
  float peak = 0.0f;
  for (int i = 0; i < frames; ++i) peak = std::max(peak, std::max(std::fabs(left[i]), std::fabs(right[i])));
  return peak;
}

}  // namespace

void PeakLimiter::process(float* left, float* right, int frames) noexcept {
  // The usual block: nothing near the ceiling and no gain to bring back.
  if (gain_ == 1.0 && peakOf(left, right, frames) <= kCeiling) return;
  const double release = release_.load(std::memory_order_relaxed);
  double gain = gain_;
  for (int start = 0; start < frames; start += kStepFrames) {
    const int count = std::min(kStepFrames, frames - start);
    float* l = left + start;
    float* r = right + start;
    const double peak = peakOf(l, r, count);
    // Back towards unity by the release; down, no further than the loudest
    // sample of the step needs, when that would pass the ceiling.
    double target = 1.0 - (1.0 - gain) * release;
    if (peak * target > kCeiling) target = kCeiling / peak;
    if (target <= gain) {
      // Down at once, from the step's first sample.
      const auto g = static_cast<float>(target);
      for (int i = 0; i < count; ++i) {
        l[i] *= g;
        r[i] *= g;
      }
    } else {
      // Up gradually: every sample's gain stays at or under the target,
      // which the whole step allows.
      const auto from = static_cast<float>(gain);
      const auto slope = static_cast<float>((target - gain) / count);
      for (int i = 0; i < count; ++i) {
        const float g = std::min(from + slope * float(i + 1), static_cast<float>(target));
        l[i] *= g;
        r[i] *= g;
      }
    }
    gain = target;
  }
  // Within 0.001 dB of unity counts as back, so that the usual block is the
  // cheap one again.
  gain_ = gain > 0.9999 ? 1.0 : gain;
}

}  // namespace chimewick::audio
