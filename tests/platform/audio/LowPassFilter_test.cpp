// The filter unit's response: two poles at 6900 Hz, 0 dB at the cutoff.
#include "LowPassFilter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace chimewick::audio {
namespace {

double decibels(double gain) { return 20.0 * std::log10(gain); }

TEST(LowPassFilter, PassesLowsIsZeroDecibelsAtTheCutoffAndFallsTwelveDecibelsAnOctave) {
  for (double rate : {44100.0, 48000.0, 96000.0}) {
    LowPassFilter filter;
    filter.configure(rate);
    EXPECT_NEAR(decibels(filter.gainAt(20.0)), 0.0, 0.01) << rate;
    EXPECT_NEAR(decibels(filter.gainAt(1000.0)), 0.0, 0.3) << rate;
    EXPECT_NEAR(decibels(filter.gainAt(LowPassFilter::kCutoffHz)), LowPassFilter::kResonanceDb, 0.01) << rate;
    // No more than the small peak of a two-pole filter with Q = 1.
    for (double hz = 20.0; hz < rate / 2; hz *= 1.05) EXPECT_LT(decibels(filter.gainAt(hz)), 1.3) << hz;
    // Two poles: an octave above the cutoff about -11 dB, two octaves -24 dB
    // (the digital filter falls faster still towards Nyquist).
    if (4 * LowPassFilter::kCutoffHz < rate / 2) {
      EXPECT_LT(decibels(filter.gainAt(2 * LowPassFilter::kCutoffHz)), -10.5) << rate;
      EXPECT_LT(decibels(filter.gainAt(4 * LowPassFilter::kCutoffHz)), -23.0) << rate;
    }
  }
}

TEST(LowPassFilter, RenderedSinesFollowTheResponseAndLowRatesStayStable) {
  for (double rate : {8000.0, 11025.0, 48000.0}) {
    LowPassFilter filter;
    filter.configure(rate);
    for (double hz : {100.0, 3000.0, 0.4 * rate}) {
      std::vector<float> left(static_cast<size_t>(rate)), right(left.size());
      for (size_t i = 0; i < left.size(); ++i)
        left[i] = right[i] = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * hz * double(i) / rate));
      for (size_t at = 0; at < left.size(); at += 256)
        filter.process(left.data() + at, right.data() + at,
                       static_cast<int>(std::min<size_t>(256, left.size() - at)));
      double sum = 0.0;
      for (size_t i = left.size() / 2; i < left.size(); ++i) sum += double(left[i]) * left[i];
      const double rms = std::sqrt(sum / double(left.size() - left.size() / 2));
      EXPECT_TRUE(std::isfinite(rms)) << rate << " " << hz;
      EXPECT_NEAR(rms / (0.5 / std::sqrt(2.0)), filter.gainAt(hz), 0.01)
          << rate << " Hz rate, " << hz << " Hz sine";
    }
  }
}

}  // namespace
}  // namespace chimewick::audio
