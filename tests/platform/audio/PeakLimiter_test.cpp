// The peak limiter on its own: what it leaves alone, what it holds under the
// ceiling, and that it never delays the sound.
#include "PeakLimiter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace chimewick::audio {
namespace {

constexpr double kRate = 48000.0;

std::vector<float> sine(double hz, double amplitude, int frames, int from = 0) {
  std::vector<float> out(size_t(frames), 0.0f);
  for (int i = from; i < frames; ++i)
    out[size_t(i)] = float(amplitude * std::sin(2.0 * std::numbers::pi * hz * i / kRate));
  return out;
}

// Runs a signal (the same on both sides) through a limiter in blocks.
std::vector<float> limit(PeakLimiter& limiter, std::vector<float> signal, int block = 256) {
  std::vector<float> right = signal;
  for (size_t at = 0; at < signal.size(); at += size_t(block)) {
    const int frames = int(std::min(signal.size() - at, size_t(block)));
    limiter.process(signal.data() + at, right.data() + at, frames);
  }
  EXPECT_EQ(signal, right);
  return signal;
}

float peakOf(const std::vector<float>& s, size_t from = 0, size_t to = SIZE_MAX) {
  float peak = 0.0f;
  for (size_t i = from; i < std::min(to, s.size()); ++i) peak = std::max(peak, std::fabs(s[i]));
  return peak;
}

TEST(PeakLimiter, LeavesSoundUnderTheCeilingUntouched) {
  for (double amplitude : {0.0, 0.1, 0.5, 0.89}) {
    PeakLimiter limiter;
    limiter.configure(kRate);
    const std::vector<float> in = sine(440.0, amplitude, 48000);
    EXPECT_EQ(limit(limiter, in), in) << amplitude;
  }
}

TEST(PeakLimiter, HoldsEverySampleUnderTheCeilingFromTheFirstOneOn) {
  const struct {
    const char* name;
    double amplitude;
    int block;
  } cases[] = {{"just over", 0.95, 256},
               {"20 dB over", 8.9, 256},
               {"40 dB over", 89.0, 64},
               {"one long block", 8.9, 4096},
               {"single frames", 3.0, 1}};
  for (const auto& c : cases) {
    PeakLimiter limiter;
    limiter.configure(kRate);
    // Silence, then a loud tone that starts at full strength mid-block.
    const std::vector<float> out = limit(limiter, sine(1000.0, c.amplitude, 24000, 1000), c.block);
    EXPECT_LE(peakOf(out), PeakLimiter::kCeiling) << c.name;
    // No delay: the first loud samples come out (turned down) where they went in.
    EXPECT_GT(peakOf(out, 1000, 1048), 0.5f * PeakLimiter::kCeiling) << c.name;
    EXPECT_EQ(peakOf(out, 0, 1000), 0.0f) << c.name;
  }
}

TEST(PeakLimiter, GivesTheGainBackAfterTheLoudPartPasses) {
  PeakLimiter limiter;
  limiter.configure(kRate);
  std::vector<float> signal = sine(440.0, 10.0, 4800);
  const std::vector<float> quiet = sine(440.0, 0.3, 72000);
  signal.insert(signal.end(), quiet.begin(), quiet.end());
  const std::vector<float> out = limit(limiter, signal);
  const float early = peakOf(out, 4800, 4800 + 480);  // just after the loud part
  const float late = peakOf(out, 4800 + 43200);       // 0.9 s later: nine release times
  EXPECT_LT(early, 0.3f * 0.5f) << "the gain comes back gradually, without a jump";
  EXPECT_NEAR(late, 0.3f, 0.003f);
  // Back at unity (within 0.001 dB, 1.5 s on) it leaves the quiet signal
  // exactly as it was.
  const std::vector<float> again = sine(440.0, 0.3, 4800);
  EXPECT_EQ(limit(limiter, again), again);
}

}  // namespace
}  // namespace chimewick::audio
