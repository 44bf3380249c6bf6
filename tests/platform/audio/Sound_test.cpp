// Listening with numbers: what the graph renders for the events it gets.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>

#include "AudioMeasure.h"
#include "GraphTestSupport.h"
#include "Registry.h"
#include "SynthUnit.h"

namespace chimewick::audio::testing {
namespace {

// Organ 1: a steady tone whose measured pitch follows the tuning exactly.
constexpr uint32_t kOrgan = 16;
// Periods spanned by the refined pitch measure: the lag error of one peak
// spreads over this many periods.
constexpr int kPeriodsMeasured = 16;
constexpr uint32_t kPiano = 0;
constexpr uint32_t kCello = 42;
constexpr uint32_t kA4 = 69;

class Sound : public OfflineRendering {
 protected:
  void SetUp() override {
    OfflineRendering::SetUp();
    ASSERT_EQ(player_.status, 0);
    ASSERT_EQ(AUGraphGetSampleRate(player_.graph, &rate_), 0);
  }

  // The pitch of a sustained A4 on the first channel, measured after the attack.
  double measureA4() {
    player_.send(0x90, kA4, 100);
    const std::vector<float> sound = player_.renderLeft(uint32_t(rate_ * 0.6));
    player_.send(0x80, kA4, 0);
    player_.renderLeft(uint32_t(rate_ * 0.3));  // let the release pass
    return preciseFrequency(audio_measure::Slice(sound, size_t(rate_ * 0.1), size_t(rate_ * 0.6)));
  }
  // The pitch from the autocorrelation peak kPeriodsMeasured periods away,
  // found near where the rough measure puts it.
  double preciseFrequency(const std::vector<float>& signal) const {
    const double rough = audio_measure::FrequencyByAutocorrelation(signal, rate_, 200.0, 2000.0);
    if (rough <= 0.0) return 0.0;
    const double expectedLag = kPeriodsMeasured * rate_ / rough;
    const auto from = size_t(expectedLag * 0.97), to = size_t(expectedLag * 1.03) + 1;
    if (signal.size() < to * 2) return 0.0;
    const size_t window = signal.size() - to - 1;
    auto correlation = [&](size_t lag) {
      double sum = 0.0;
      for (size_t i = 0; i < window; ++i) sum += double(signal[i]) * signal[i + lag];
      return sum;
    };
    size_t bestLag = from;
    double best = correlation(from);
    for (size_t lag = from + 1; lag <= to; ++lag)
      if (double c = correlation(lag); c > best) best = c, bestLag = lag;
    const double a = correlation(bestLag - 1), b = best, c = correlation(bestLag + 1);
    const double shift = (a - 2 * b + c) != 0.0 ? 0.5 * (a - c) / (a - 2 * b + c) : 0.0;
    return kPeriodsMeasured * rate_ / (double(bestLag) + shift);
  }
  void sendTuning(uint32_t parameter, uint32_t value) {
    player_.send(0xB0, 101, 0);
    player_.send(0xB0, 100, parameter);
    player_.send(0xB0, 6, value);
    player_.send(0xB0, 101, 127);
    player_.send(0xB0, 100, 127);
  }
  static double cents(double ratio) { return 1200.0 * std::log2(ratio); }

  PlayerGraph player_;  // made after the base class turned offline rendering on
  double rate_ = 0.0;
};

TEST_F(Sound, ANoteOnIsAudibleAndItsNoteOffFadesIt) {
  player_.select(kPiano);
  EXPECT_LT(audio_measure::Rms(player_.renderLeft(4800)), 1e-5) << "silence before any note";
  player_.send(0x90, 60, 100);
  EXPECT_GT(audio_measure::Rms(player_.renderLeft(9600)), 0.005);
  player_.send(0x80, 60, 0);
  player_.renderLeft(uint32_t(rate_ * 2));
  EXPECT_LT(audio_measure::Rms(player_.renderLeft(4800)), 1e-4);
}

TEST_F(Sound, PianoAndCelloSoundDifferent) {
  auto spectrumOf = [this](uint32_t program) {
    player_.select(program);
    player_.send(0x90, 60, 100);
    const std::vector<float> sound = player_.renderLeft(uint32_t(rate_ * 0.5));
    player_.send(0x80, 60, 0);
    player_.renderLeft(uint32_t(rate_ * 2));
    return audio_measure::MagnitudeSpectrum(audio_measure::Slice(sound, 4800, 4800 + 16384), 16384);
  };
  const auto piano = spectrumOf(kPiano);
  const auto pianoAgain = spectrumOf(kPiano);
  const auto cello = spectrumOf(kCello);
  const double same = audio_measure::SpectralDistance(piano, pianoAgain);
  const double different = audio_measure::SpectralDistance(piano, cello);
  std::printf("spectral distance piano/piano %.4f, piano/cello %.4f\n", same, different);
  EXPECT_GT(different, 5 * same + 0.01);
}

TEST_F(Sound, CoarseTuningRaisesByWholeSemitonesAsFluidSynthReadsIt) {
  player_.select(kOrgan);
  const double untuned = measureA4();
  ASSERT_GT(untuned, 200.0);
  sendTuning(2, 66);
  const double raised = measureA4();
  std::printf("A4 untuned %.2f Hz, coarse 66: %.2f Hz (%.2f cents)\n", untuned, raised,
              cents(raised / untuned));
  EXPECT_NEAR(raised / untuned, std::pow(2.0, 2.0 / 12.0), 0.005 * 1.1225);
}

TEST_F(Sound, FineTuningCountsDataOver64SemitoneAboveCoarseWithZeroInTune) {
  player_.select(kOrgan);
  const double untuned = measureA4();
  ASSERT_GT(untuned, 200.0);
  struct Case {
    uint32_t data;
    double expectedCents;
  };
  for (const Case& c : {Case{0, 0.0}, Case{32, 50.0}, Case{64, 100.0}, Case{16, 25.0}}) {
    sendTuning(1, c.data);
    const double measured = cents(measureA4() / untuned);
    std::printf("fine tuning %u: %.2f cents (expected %.2f)\n", c.data, measured, c.expectedCents);
    EXPECT_NEAR(measured, c.expectedCents, 1200.0 * std::log2(1.003)) << "data " << c.data;
  }
  // Fine over coarse: 63 and 64 semitone steps below and above meet.
  sendTuning(2, 63);
  sendTuning(1, 64);
  EXPECT_NEAR(cents(measureA4() / untuned), 0.0, 5.0);
}

TEST_F(Sound, SystemMessagesWipeNeitherInstrumentNorTuning) {
  auto unit = std::dynamic_pointer_cast<SynthUnit>(Registry::instance().unit(player_.synth));
  ASSERT_TRUE(unit);
  player_.select(kOrgan);
  const double untuned = measureA4();
  sendTuning(2, 66);
  const struct {
    uint32_t status, data1, data2;
  } systemMessages[] = {{0xFF, 0, 0},       {0xF0, 0x7E, 0x7F}, {0xF0, 0x41, 0x10}, {0xF7, 0, 0},
                        {0xF2, 0x10, 0x20}, {0xFE, 0, 0},       {0xF8, 0, 0},       {0xFF, 0xFF, 0xFF}};
  for (const auto& m : systemMessages)
    EXPECT_EQ(MusicDeviceMIDIEvent(player_.synth, m.status, m.data1, m.data2, 0), 0);
  EXPECT_EQ(unit->channelPreset(0), std::make_pair(0, int(kOrgan)));
  EXPECT_NEAR(measureA4() / untuned, std::pow(2.0, 2.0 / 12.0), 0.005 * 1.1225);
}

TEST_F(Sound, ANullParameterMakesLaterDataEntryChangeNothing) {
  player_.select(kOrgan);
  const double untuned = measureA4();
  sendTuning(1, 32);
  player_.send(0xB0, 6, 0);  // after 101/127, 100/127: nothing selected
  player_.send(0xB0, 38, 100);
  EXPECT_NEAR(cents(measureA4() / untuned), 50.0, 5.0);
}

TEST_F(Sound, ResetAllControllersClearsTheTuningAndTheSelectedParameter) {
  player_.select(kOrgan);
  const double untuned = measureA4();
  player_.send(0xB0, 101, 0);
  player_.send(0xB0, 100, 1);
  player_.send(0xB0, 6, 32);
  EXPECT_NEAR(cents(measureA4() / untuned), 50.0, 1.0);
  player_.send(0xB0, 121, 0);
  EXPECT_NEAR(cents(measureA4() / untuned), 0.0, 1.0) << "the reset clears the tuning";
  player_.send(0xB0, 6, 32);
  EXPECT_NEAR(cents(measureA4() / untuned), 0.0, 1.0) << "no parameter is selected after the reset";
}

TEST_F(Sound, DataBytesOutsideTheMidiRangeNeverCrashTheUnit) {
  std::mt19937 random(20261208);
  std::uniform_int_distribution<uint32_t> status(0x80, 0xFF);
  std::uniform_int_distribution<uint32_t> anyValue(0, 0xFFFFFFFFu);
  std::uniform_int_distribution<uint32_t> nearRange(0, 300);
  for (int i = 0; i < 3000; ++i) {
    const uint32_t s = status(random);
    const uint32_t d1 = i % 2 ? anyValue(random) : nearRange(random);
    const uint32_t d2 = i % 3 ? anyValue(random) : nearRange(random);
    EXPECT_EQ(MusicDeviceMIDIEvent(player_.synth, s, d1, d2, anyValue(random)), 0);
    if (i % 100 == 0) player_.renderLeft(256);
  }
  // Stop whatever the garbage started, then the unit still plays.
  for (uint32_t channel = 0; channel < 16; ++channel) {
    player_.send(0xB0 | channel, 121, 0);
    player_.send(0xB0 | channel, 120, 0);
  }
  player_.renderLeft(4800);
  player_.select(kPiano);
  player_.send(0x90, 60, 100);
  EXPECT_GT(audio_measure::Rms(player_.renderLeft(9600)), 0.005);
}

}  // namespace
}  // namespace chimewick::audio::testing
