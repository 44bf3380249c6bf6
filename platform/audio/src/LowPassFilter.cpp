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

void LowPassFilter::processSide(Side& side, float* samples, int frames) noexcept {
  double z1 = side.z1;
  double z2 = side.z2;
  for (int i = 0; i < frames; ++i) {
    const double in = samples[i];
    const double out = b0_ * in + z1;
    z1 = b1_ * in - a1_ * out + z2;
    z2 = b2_ * in - a2_ * out;
    samples[i] = static_cast<float>(out);
  }
  side.z1 = z1;
  side.z2 = z2;
}

void LowPassFilter::process(float* left, float* right, int frames) noexcept {
  processSide(left_, left, frames);
  processSide(right_, right, frames);
}

double LowPassFilter::gainAt(double frequencyHz) const {
  const std::complex<double> z = std::polar(1.0, -2.0 * std::numbers::pi * frequencyHz / sampleRate_);
  const std::complex<double> numerator = b0_ + b1_ * z + b2_ * z * z;
  const std::complex<double> denominator = 1.0 + a1_ * z + a2_ * z * z;
  return std::abs(numerator / denominator);
}

}  // namespace chimewick::audio
