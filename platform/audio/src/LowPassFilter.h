// The filter unit's sound: a two-pole low-pass (biquad), one per stereo side.
#pragma once

namespace chimewick::audio {

class LowPassFilter {
 public:
  static constexpr double kCutoffHz = 6900.0;
  // Resonance is the gain at the cutoff frequency; a two-pole low-pass has
  // gain Q there, so 0 dB means Q = 1.
  static constexpr double kResonanceDb = 0.0;

  // Computes the coefficients for a sample rate and clears the state.
  // Control thread, while nothing renders through the filter.
  void configure(double sampleRate);

  // Filters one block in place. Audio thread; no lock, no allocation.
  void process(float* left, float* right, int frames) noexcept;

  // The magnitude of the response at a frequency (1 = 0 dB). Any thread.
  double gainAt(double frequencyHz) const;

 private:
  struct Side {
    double z1 = 0.0;
    double z2 = 0.0;
  };
  double sampleRate_ = 48000.0;
  double b0_ = 1.0, b1_ = 0.0, b2_ = 0.0, a1_ = 0.0, a2_ = 0.0;
  Side left_, right_;
};

}  // namespace chimewick::audio
