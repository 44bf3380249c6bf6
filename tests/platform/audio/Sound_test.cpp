// Listening with numbers: what the graph renders for the events it gets.
#include <gtest/gtest.h>

#include <algorithm>
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

TEST_F(Sound, ResetAllControllersKeepsTheTuningAndNullsTheSelectedParameter) {
  player_.select(kOrgan);
  const double untuned = measureA4();
  sendTuning(2, 66);
  sendTuning(1, 32);
  // Left selected on purpose: the reset must deselect it.
  player_.send(0xB0, 101, 0);
  player_.send(0xB0, 100, 1);
  const double tuned = measureA4();
  EXPECT_NEAR(cents(tuned / untuned), 250.0, 1.0);
  player_.send(0xB0, 121, 0);
  const double afterReset = measureA4();
  std::printf("A4 coarse 66, fine 32: %.2f Hz; after controller 121: %.2f Hz (%.3f cents)\n", tuned,
              afterReset, cents(afterReset / tuned));
  EXPECT_NEAR(cents(afterReset / tuned), 0.0, 1.0) << "the reset keeps the tuning";
  player_.send(0xB0, 6, 0);
  EXPECT_NEAR(cents(measureA4() / tuned), 0.0, 1.0) << "no parameter is selected after the reset";
  // The bank select stays too: a drum channel (MSB 120) stays one, and a
  // program change after the reset picks from the same bank.
  auto unit = std::dynamic_pointer_cast<SynthUnit>(Registry::instance().unit(player_.synth));
  ASSERT_TRUE(unit);
  player_.select(0x780020, 2);  // the Jazz kit
  player_.send(0xB2, 121, 0);
  EXPECT_EQ(unit->channelPreset(2), std::make_pair(128, 32));
  player_.send(0xC2, 0);
  EXPECT_EQ(unit->channelPreset(2), std::make_pair(128, 0));
}

// Every controller that ends notes or resets a channel, one after another:
// the tuning sounds the same after each, and the channel still plays.
TEST_F(Sound, NoResetOrModeMessageLosesTheTuning) {
  player_.select(kOrgan);
  const double untuned = measureA4();
  sendTuning(2, 63);
  sendTuning(1, 16);
  const double tuned = measureA4();
  EXPECT_NEAR(cents(tuned / untuned), -75.0, 1.0);
  const struct {
    const char* name;
    uint32_t controller;
  } resets[] = {{"All Sound Off", 120}, {"Reset All Controllers", 121},
                {"All Notes Off", 123}, {"Omni Off", 124},
                {"Omni On", 125},       {"Mono On", 126},
                {"Poly On", 127},       {"Reset All Controllers again", 121}};
  for (const auto& reset : resets) {
    player_.send(0xB0, reset.controller, 0);
    const double after = measureA4();
    std::printf("%s: A4 %.2f Hz (%.3f cents from before)\n", reset.name, after, cents(after / tuned));
    EXPECT_NEAR(cents(after / tuned), 0.0, 1.0) << reset.name;
  }
}

// A note already sounding when controller 121 comes keeps its pitch too.
TEST_F(Sound, ANoteHeldThroughResetAllControllersKeepsItsPitch) {
  player_.select(kOrgan);
  sendTuning(2, 66);
  player_.send(0x90, kA4, 100);
  const std::vector<float> before = player_.renderLeft(uint32_t(rate_ * 0.5));
  player_.send(0xB0, 121, 0);
  const std::vector<float> after = player_.renderLeft(uint32_t(rate_ * 0.5));
  player_.send(0x80, kA4, 0);
  const double hzBefore = preciseFrequency(audio_measure::Slice(before, size_t(rate_ * 0.1), before.size()));
  const double hzAfter = preciseFrequency(after);
  ASSERT_GT(hzBefore, 200.0);
  EXPECT_NEAR(cents(hzAfter / hzBefore), 0.0, 1.0);
}

// What the keyboard plays reaches the synthesizer as its bytes say: the
// pitch wheel's two bytes in their order, the sustain pedal, channel
// pressure; and the reverb that Init switches off stays off.
TEST_F(Sound, ThePlayersMessagesReachTheSynthesizerAsTheirBytesSay) {
  player_.select(kOrgan);
  const double inTune = measureA4();
  ASSERT_GT(inTune, 200.0);
  {
    SCOPED_TRACE("the pitch wheel: data 1 is the low seven bits, data 2 the high");
    const struct {
      uint32_t low, high;
      double expectedCents;  // bend range 2 semitones: 8192 steps per 200 cents
    } bends[] = {{0x00, 0x60, 100.0}, {0x7F, 0x1F, -100.0 - 200.0 / 8192}, {0x00, 0x40, 0.0}};
    for (const auto& bend : bends) {
      player_.send(0xE0, bend.low, bend.high);
      const double measured = cents(measureA4() / inTune);
      std::printf("bend 0x%02x 0x%02x: %.2f cents (expected %.2f)\n", bend.low, bend.high, measured,
                  bend.expectedCents);
      EXPECT_NEAR(measured, bend.expectedCents, 1.5);  // FluidSynth plays whole cents
    }
  }
  {
    SCOPED_TRACE("the sustain pedal holds a note past its note-off, until it is lifted");
    player_.send(0xB0, 64, 127);
    player_.send(0x90, kA4, 100);
    const double playing = audio_measure::Rms(player_.renderLeft(uint32_t(rate_ * 0.3)));
    player_.send(0x80, kA4, 0);
    const double held = audio_measure::Rms(player_.renderLeft(uint32_t(rate_ * 1.0)));
    player_.send(0xB0, 64, 0);
    player_.renderLeft(uint32_t(rate_ * 1.0));
    const double lifted = audio_measure::Rms(player_.renderLeft(uint32_t(rate_ * 0.2)));
    std::printf("pedal: playing %.4f, held a second after the note-off %.4f, lifted %.6f\n", playing, held,
                lifted);
    EXPECT_GT(held, 0.5 * playing);
    EXPECT_LT(lifted, 1e-4);
  }
  {
    SCOPED_TRACE("channel pressure brings vibrato (FluidSynth's default modulator, 50 cents)");
    auto pitchSpread = [this](uint32_t pressure) {
      player_.send(0xD0, pressure);
      player_.send(0x90, kA4, 100);
      const std::vector<float> sound = player_.renderLeft(uint32_t(rate_ * 1.2));
      player_.send(0x80, kA4, 0);
      player_.renderLeft(uint32_t(rate_ * 0.3));
      double low = 1e9, high = 0.0;
      const auto window = size_t(rate_ * 0.05);
      for (size_t at = size_t(rate_ * 0.2); at + window <= sound.size(); at += window / 2) {
        const double hz = audio_measure::FrequencyByAutocorrelation(
            audio_measure::Slice(sound, at, at + window), rate_, 150.0, 600.0);
        if (hz <= 0.0) continue;
        low = std::min(low, hz);
        high = std::max(high, hz);
      }
      return high > low ? cents(high / low) : 0.0;
    };
    const double still = pitchSpread(0);
    const double pressed = pitchSpread(127);
    player_.send(0xD0, 0);
    std::printf("pitch spread without pressure %.2f cents, with full pressure %.2f cents\n", still, pressed);
    EXPECT_LT(still, 5.0);
    EXPECT_GT(pressed, 30.0);
  }
  {
    SCOPED_TRACE("the reverb stays off, even for a channel that asks for all of it");
    auto tail = [this](uint32_t reverbOn) {
      EXPECT_EQ(AudioUnitSetProperty(player_.synth, kMusicDeviceProperty_UsesInternalReverb,
                                     kAudioUnitScope_Global, 0, &reverbOn, sizeof reverbOn),
                0);
      player_.send(0xB0, 91, 127);
      player_.send(0x90, kA4, 127);
      player_.renderLeft(uint32_t(rate_ * 0.2));
      player_.send(0x80, kA4, 0);
      // The organ's own release is over 0.3 s after its note-off; a reverb's is not.
      player_.renderLeft(uint32_t(rate_ * 0.3));
      const double rms = audio_measure::Rms(player_.renderLeft(uint32_t(rate_ * 0.2)));
      player_.renderLeft(uint32_t(rate_ * 8));  // whatever rings dies away
      return rms;
    };
    const double off = tail(0);
    const double on = tail(1);
    tail(0);
    std::printf("tail 0.3 s after the note-off: reverb off %.6f, on %.6f\n", off, on);
    EXPECT_LT(off, 1e-4);
    EXPECT_GT(on, 1e-3);
  }
}

// The bytes a reader cut short are fillers: with the real length said, the
// message changes nothing; the length holds for one event only.
TEST_F(Sound, AMessageCutShortChangesNothingThatSounds) {
  auto unit = std::dynamic_pointer_cast<SynthUnit>(Registry::instance().unit(player_.synth));
  ASSERT_TRUE(unit);
  player_.select(kOrgan);
  const double inTune = measureA4();
  player_.send(0x90, kA4, 100);
  const double level = audio_measure::Rms(player_.renderLeft(uint32_t(rate_ * 0.3)));
  const struct {
    const char* name;
    uint32_t status, data1, data2, length;
  } shortMessages[] = {
      {"a lone pitch-bend status (full bend down if read)", 0xE0, 0, 0, 1},
      {"pitch bend with its low byte only", 0xE0, 0x7F, 0, 2},
      {"a lone program change (piano if read)", 0xC0, 0, 0, 1},
      {"volume without its value (silence if read)", 0xB0, 7, 0, 2},
      {"a lone controller status (bank select MSB 0 if read)", 0xB0, 0, 0, 1},
      {"a note-on of the held key without velocity (its note-off if read)", 0x90, kA4, 0, 2},
      {"a lone note-on status", 0x90, 0, 0, 1},
      {"key pressure without its value", 0xA0, kA4, 0, 2},
      {"a lone channel pressure status", 0xD0, 0, 0, 1},
      {"a lone note-off status", 0x80, 0, 0, 1},
  };
  for (const auto& m : shortMessages) {
    MusicDeviceSetNextEventLength(m.length);
    EXPECT_EQ(MusicDeviceMIDIEvent(player_.synth, m.status, m.data1, m.data2, 0), 0) << m.name;
    const std::vector<float> sound = player_.renderLeft(uint32_t(rate_ * 0.4));
    EXPECT_EQ(unit->channelPreset(0), std::make_pair(0, int(kOrgan))) << m.name;
    EXPECT_NEAR(audio_measure::Rms(sound) / level, 1.0, 0.1) << m.name;
    EXPECT_NEAR(
        cents(preciseFrequency(audio_measure::Slice(sound, size_t(rate_ * 0.05), sound.size())) / inTune),
        0.0, 1.0)
        << m.name;
  }
  // A note-off needs only its key; the length said holds for one event.
  MusicDeviceSetNextEventLength(2);
  player_.send(0x80, kA4);
  player_.renderLeft(uint32_t(rate_ * 1.0));
  EXPECT_LT(audio_measure::Rms(player_.renderLeft(4800)), 1e-4)
      << "the note-off with its key alone ends the note";
  MusicDeviceSetNextEventLength(1);
  player_.send(0xE0, 0, 0x60);
  EXPECT_NEAR(cents(measureA4() / inTune), 0.0, 1.0);
  player_.send(0xE0, 0, 0x60);
  EXPECT_NEAR(cents(measureA4() / inTune), 100.0, 1.0) << "the next event is whole again";
}

// Bad input: resets on every channel amid notes and the pedal, and mode
// messages beside sounding notes, never retune a channel, never leave a
// note sounding and never leave a channel deaf.
TEST_F(Sound, AStormOfResetsAndModeMessagesRetunesNothingAndLeavesNoNoteSounding) {
  for (uint32_t channel = 0; channel < 16; ++channel) player_.select(kOrgan, channel);
  const double untuned = measureA4();
  sendTuning(2, 66);
  sendTuning(1, 32);
  const double tuned = measureA4();
  std::mt19937 random(121);
  for (int i = 0; i < 6000; ++i) {
    const uint32_t channel = random() % 16;
    switch (random() % 6) {
      case 0:
      case 1:
        player_.send(0xB0 | channel, 121, 0);
        break;
      case 2:
        player_.send(0x90 | channel, 48 + random() % 24, 90);
        break;
      case 3:
        player_.send(0x80 | channel, 48 + random() % 24, 0);
        break;
      case 4:
        player_.send(0xB0 | channel, 64, random() % 2 ? 127 : 0);
        break;
      default:
        player_.send(0xB0 | channel, 124 + random() % 4, 0);
        break;
    }
    if (i % 50 == 0) player_.renderLeft(256);
  }
  // Every key let go, every pedal lifted: no All Notes Off needed.
  for (uint32_t channel = 0; channel < 16; ++channel) {
    for (uint32_t key = 48; key < 72; ++key) player_.send(0x80 | channel, key, 0);
    player_.send(0xB0 | channel, 64, 0);
  }
  player_.renderLeft(uint32_t(rate_ * 2));
  EXPECT_LT(audio_measure::Rms(player_.renderLeft(4800)), 1e-4) << "a note is left sounding";
  EXPECT_NEAR(cents(measureA4() / tuned), 0.0, 1.0) << "the first channel was retuned";
  std::printf("A4 untuned %.2f Hz, tuned %.2f Hz, after the storm %.2f Hz\n", untuned, tuned, measureA4());
  // A mode message on the first channel leaves a note on the second one
  // neither stuck nor its channel deaf.
  for (uint32_t mode = 124; mode <= 127; ++mode) {
    player_.send(0x91, 60, 100);
    player_.renderLeft(2400);
    player_.send(0xB0, mode, 0);
    player_.send(0x81, 60, 0);
    player_.renderLeft(uint32_t(rate_ * 1.0));
    EXPECT_LT(audio_measure::Rms(player_.renderLeft(4800)), 1e-4) << "controller " << mode;
    player_.send(0x91, 62, 100);
    EXPECT_GT(audio_measure::Rms(player_.renderLeft(9600)), 0.01) << "controller " << mode;
    player_.send(0x81, 62, 0);
    player_.renderLeft(uint32_t(rate_ * 1.0));
  }
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
