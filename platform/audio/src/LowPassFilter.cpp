#include "LowPassFilter.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace chimewick::audio {

void LowPassFilter::configure(double sampleRate) {
  sampleRate_ = sampleRate;
  // Below the Nyquist frequency whatever the rate, so the filter stays stable.
  const double cutoff = std::min(kCutoffHz, 0.45 * sampleRate);
  const double q = std::pow(10.0, kResonanceDb / 20.0);
  const double omega = 2.0 * std::numbers::pi * cutoff / sampleRate;
  const double alpha = std::sin(omega) / (2.0 * q);
  const double cosine = std::cos(omega);
  const double a0 = 1.0 + alpha;
  b0_ = (1.0 - cosine) / 2.0 / a0;
  b1_ = (1.0 - cosine) / a0;
  b2_ = b0_;
  a1_ = -2.0 * cosine / a0;
  a2_ = (1.0 - alpha) / a0;
  left_ = Side{};
  right_ = Side{};
}

void LowPassFilter::process(float* left, float* right, int frames) noexcept {
  // Both sides in one loop: their two independent recursions overlap in the
  // processor, which halves the time of this latency-bound loop.
  double l1 = left_.z1, l2 = left_.z2, r1 = right_.z1, r2 = right_.z2;
  for (int i = 0; i < frames; ++i) {
    const double inLeft = left[i];
    const double inRight = right[i];
    const double outLeft = b0_ * inLeft + l1;
    const double outRight = b0_ * inRight + r1;
    l1 = b1_ * inLeft - a1_ * outLeft + l2;
    r1 = b1_ * inRight - a1_ * outRight + r2;
    l2 = b2_ * inLeft - a2_ * outLeft;
    r2 = b2_ * inRight - a2_ * outRight;
    left[i] = static_cast<float>(outLeft);
    right[i] = static_cast<float>(outRight);
  }
  left_ = Side{l1, l2};
  right_ = Side{r1, r2};
}

double LowPassFilter::gainAt(double frequencyHz) const {
  const std::complex<double> z = std::polar(1.0, -2.0 * std::numbers::pi * frequencyHz / sampleRate_);
  const std::complex<double> numerator = b0_ + b1_ * z + b2_ * z * z;
  const std::complex<double> denominator = 1.0 + a1_ * z + a2_ * z * z;
  return std::abs(numerator / denominator);
}

}  // namespace chimewick::audio
