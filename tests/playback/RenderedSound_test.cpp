// Listening to the real graph: notes rendered offline through the
// synthesizer, the low-pass filter and the output unit, measured for level,
// pitch and spectrum.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "AudioMeasure.h"
#include "Bundles.h"
#include "PacketList.h"
#include "PlaybackObject.h"

namespace {

using namespace audio_measure;

class RenderedSound : public testing::Test {
 protected:
  void SetUp() override {
    seams_ = &UseBundle(AudioKind::Real);
    object_ = std::make_unique<PlaybackObject>();
    ASSERT_TRUE(object_->init());
    ASSERT_EQ(seams_->sampleRate(object_->graph(), &sampleRate_), 0);
    ASSERT_GT(sampleRate_, 8000.0);
  }

  // Renders seconds of sound and returns it as mono.
  std::vector<float> render(double seconds) {
    const auto frames = static_cast<std::size_t>(seconds * sampleRate_);
    std::vector<float> stereo(frames * 2);
    constexpr std::size_t kBlock = 512;
    for (std::size_t at = 0; at < frames; at += kBlock) {
      const auto count = static_cast<uint32_t>(std::min(kBlock, frames - at));
      EXPECT_EQ(seams_->renderOffline(object_->graph(), count, stereo.data() + 2 * at), 0);
    }
    return MonoMix(stereo);
  }

  // Plays one note on a channel and returns its sound after the attack.
  std::vector<float> playNote(int channel, int note, double seconds = 0.5) {
    object_->sendMidiEvent(0x90 | channel, note, 100, 0);
    std::vector<float> sound = render(seconds + 0.05);
    object_->sendMidiEvent(0x80 | channel, note, 0, 0);
    render(0.3);  // let it die away before the next measurement
    return Slice(sound, static_cast<std::size_t>(0.05 * sampleRate_), sound.size());
  }

  int32_t instrument(const std::string& name) {
    const int32_t count = object_->instrumentCount();
    for (int32_t i = 0; i < count; ++i) {
      const int32_t id = object_->instrumentID(i);
      if (object_->instrumentName(id) == name) return id;
    }
    ADD_FAILURE() << "no instrument " << name;
    return 0;
  }

  void controller(int channel, int number, int value) {
    object_->sendMidiEvent(0xB0 | channel, number, value, 0);
  }

  const AudioSeams* seams_ = nullptr;
  std::unique_ptr<PlaybackObject> object_;
  double sampleRate_ = 0.0;
};

TEST_F(RenderedSound, SilentUntilANoteOnThenAudible) {
  const std::vector<float> before = render(0.2);
  EXPECT_LT(Peak(before), 1e-4);
  const std::vector<float> note = playNote(0, 69);
  EXPECT_GT(Rms(note), 0.005) << "peak " << Peak(note);
}

TEST_F(RenderedSound, PianoAndCelloSoundDifferent) {
  object_->setInstrumentIDOnChannel(0, instrument("Piano 1"));
  object_->setInstrumentIDOnChannel(1, instrument("Cello"));
  const auto piano = MagnitudeSpectrum(playNote(0, 57));
  const auto cello = MagnitudeSpectrum(playNote(1, 57));
  const auto pianoAgain = MagnitudeSpectrum(playNote(0, 57));
  const double between = SpectralDistance(piano, cello);
  const double within = SpectralDistance(piano, pianoAgain);
  std::printf("spectral distance piano/cello %.4f, piano/piano %.4f\n", between, within);
  EXPECT_GT(between, 4 * within + 0.1);
}

TEST_F(RenderedSound, A4IsAt440HzBeforeAnyTuning) {
  // The piano: a clear fundamental (the organ preset adds a sub-octave).
  object_->setInstrumentIDOnChannel(1, instrument("Piano 1"));
  const double hz = FrequencyByAutocorrelation(playNote(1, 69), sampleRate_);
  std::printf("A4 %.3f Hz\n", hz);
  EXPECT_NEAR(hz, 440.0, 440.0 * 0.005);
}

TEST_F(RenderedSound, CoarseTuningPlusTwoRaisesA4ByTwoSemitones) {
  object_->setInstrumentIDOnChannel(1, instrument("Piano 1"));
  const double inTune = FrequencyByAutocorrelation(playNote(1, 69), sampleRate_);
  controller(1, 101, 0);
  controller(1, 100, 2);
  controller(1, 6, 66);
  controller(1, 101, 127);
  controller(1, 100, 127);
  const double tuned = FrequencyByAutocorrelation(playNote(1, 69), sampleRate_);
  std::printf("coarse +2: %.3f -> %.3f Hz, ratio %.5f\n", inTune, tuned, tuned / inTune);
  ASSERT_GT(inTune, 0.0);
  EXPECT_NEAR(tuned / inTune, 1.1225, 1.1225 * 0.005);
}

TEST_F(RenderedSound, FineTuningCountsDataOverSixtyFourSemitone) {
  struct Case {
    int data;
    double ratio;
  } cases[] = {{32, 1.0293}, {0, 1.0}};
  object_->setInstrumentIDOnChannel(1, instrument("Piano 1"));
  const double inTune = FrequencyByAutocorrelation(playNote(1, 69), sampleRate_);
  ASSERT_GT(inTune, 0.0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.data);
    controller(1, 101, 0);
    controller(1, 100, 1);
    controller(1, 6, c.data);
    controller(1, 101, 127);
    controller(1, 100, 127);
    const double tuned = FrequencyByAutocorrelation(playNote(1, 69), sampleRate_);
    std::printf("fine %d: %.3f -> %.3f Hz, ratio %.5f\n", c.data, inTune, tuned, tuned / inTune);
    EXPECT_NEAR(tuned / inTune, c.ratio, c.ratio * 0.003);
  }
}

TEST_F(RenderedSound, TheJazzKitPlaysPercussion) {
  object_->setInstrumentIDOnChannel(2, instrument("Jazz"));
  object_->setInstrumentIDOnChannel(3, instrument("Piano 1"));
  // Note 38 is the snare drum on a kit, a low D on the piano.
  const std::vector<float> snare = playNote(2, 38, 0.25);
  const std::vector<float> piano = playNote(3, 38, 0.25);
  ASSERT_GT(Rms(snare), 0.001);
  const double snareFlatness = SpectralFlatness(MagnitudeSpectrum(snare), sampleRate_, 200.0, 6000.0);
  const double pianoFlatness = SpectralFlatness(MagnitudeSpectrum(piano), sampleRate_, 200.0, 6000.0);
  std::printf("flatness snare %.4f, piano %.4f\n", snareFlatness, pianoFlatness);
  EXPECT_GT(snareFlatness, 0.1);
  EXPECT_GT(snareFlatness, 3 * pianoFlatness);
}

// A packet list cut short: the reader sends zeros for the missing bytes,
// and the synthesizer, told they were missing, plays nothing of them.
TEST_F(RenderedSound, MessagesCutShortInAPacketListChangeNothingThatSounds) {
  object_->setInstrumentIDOnChannel(0, instrument("Piano 1"));
  const std::vector<float> before = playNote(0, 69);
  const double inTune = FrequencyByAutocorrelation(before, sampleRate_);
  ASSERT_GT(inTune, 0.0);
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
  } cuts[] = {
      {"a lone pitch-bend status (392 Hz if read)", {0xE0}},
      {"pitch bend with its low byte only", {0xE0, 0x7F}},
      {"volume without its value (silence if read)", {0xB0, 0x07}},
      {"a lone channel pressure status", {0xD0}},
  };
  for (const auto& cut : cuts) {
    object_->readPackets(PacketList({cut.bytes}));
    const std::vector<float> after = playNote(0, 69);
    const double hz = FrequencyByAutocorrelation(after, sampleRate_);
    std::printf("%s: A4 %.2f Hz (before %.2f Hz), level %.4f (before %.4f)\n", cut.name, hz, inTune,
                Rms(after), Rms(before));
    EXPECT_NEAR(hz / inTune, 1.0, 0.001) << cut.name;
    EXPECT_NEAR(Rms(after) / Rms(before), 1.0, 0.05) << cut.name;
  }
}

// A keyboard's Reset All Controllers (sent when it is switched on, by a
// panic button) leaves the transposition and fine pitch that the window set.
TEST_F(RenderedSound, ResetAllControllersKeepsTheTransposeAndFinePitch) {
  object_->setInstrumentIDOnChannel(0, instrument("Piano 1"));
  for (const auto& [parameter, value] : {std::pair{2, 66}, std::pair{1, 32}}) {
    controller(0, 101, 0);
    controller(0, 100, parameter);
    controller(0, 6, value);
    controller(0, 101, 127);
    controller(0, 100, 127);
  }
  const double tuned = FrequencyByAutocorrelation(playNote(0, 69), sampleRate_);
  object_->sendMidiEvent(0xB0, 121, 0, 0);
  const double reset = FrequencyByAutocorrelation(playNote(0, 69), sampleRate_);
  std::printf("A4 with coarse 66 and fine 32: %.2f Hz; after controller 121: %.2f Hz (%.3f cents)\n", tuned,
              reset, 1200.0 * std::log2(reset / tuned));
  EXPECT_NEAR(tuned / 440.0, std::pow(2.0, 250.0 / 1200.0), 0.005);
  EXPECT_NEAR(1200.0 * std::log2(reset / tuned), 0.0, 1.0);
}

}  // namespace
