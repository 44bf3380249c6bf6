// Listening to what the window sends: the real playback plug-in renders
// offline, and the rendered notes are measured for pitch and spectrum.
#include <cmath>
#include <cstring>

#include "AudioLayerSeams.h"
#include "AudioMeasure.h"
#include "CoreTestFixture.h"

namespace coretest {
namespace {

using namespace audio_measure;

// Where the plug-in keeps its graph handle in the instance data.
constexpr size_t kGraphOffset = 72;

double NoteHz(double note) { return 440.0 * std::pow(2.0, (note - 69.0) / 12.0); }

class RealSoundTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    const std::string path = CHIMEWICK_REAL_AUDIO_PLUGIN;
    if (!std::filesystem::exists(CHIMEWICK_DEFAULT_SOUNDFONT) && getenv("CHIMEWICK_SOUNDFONT") == nullptr)
      GTEST_SKIP() << "skipped: no SoundFont installed";
    UsePlugin(path);
    seams_ = chimewick_test::LoadedPluginSeams(path);
    ASSERT_TRUE(seams_.setOffline && seams_.renderOffline && seams_.sampleRate);
    seams_.setOffline(true);

    w_ = MakeWindowWithInstruments({});
    ASSERT_TRUE(w_->player);
    ASSERT_EQ(w_->player->Lasterror(), 0) << "the synthesizer did not start";
    std::memcpy(&graph_, w_->player->PluginObject().InstanceData() + kGraphOffset, sizeof graph_);
    ASSERT_EQ(seams_.sampleRate(graph_, &rate_), 0);
    // The rows as the window's Open makes them: one per name, tagged with
    // its Instrument ID.
    for (int32_t i = 0; i < w_->player->InstrumentCount(); ++i) {
      const int32_t id = w_->player->InstrumentID(i);
      w_->InstrumentsList()->AddRow(w_->player->InstrumentName(id));
      w_->InstrumentsList()->SetRowTag(w_->InstrumentsList()->ListCount() - 1, id);
    }
  }

  void TearDown() override {
    w_.reset();
    if (seams_.setOffline) seams_.setOffline(false);
    CoreTest::TearDown();
  }

  void Select(const std::string& name) {
    for (int row = 0; row < w_->InstrumentsList()->ListCount(); ++row) {
      if (w_->InstrumentsList()->List(row).Bytes() == name) {
        w_->InstrumentsList()->SetListIndex(row);
        return;
      }
    }
    ADD_FAILURE() << "no instrument " << name;
  }

  std::vector<float> Render(double seconds) {
    const auto frames = size_t(seconds * rate_);
    std::vector<float> stereo(frames * 2);
    constexpr size_t kBlock = 512;
    for (size_t at = 0; at < frames; at += kBlock) {
      const auto count = uint32_t(std::min(kBlock, frames - at));
      EXPECT_EQ(seams_.renderOffline(graph_, count, stereo.data() + 2 * at), 0);
    }
    return MonoMix(stereo);
  }

  // Middle C from the keyboard, as the packet handler forwards it; the sound
  // after its attack.
  std::vector<float> PlayMiddleC(double seconds = 0.5) {
    w_->player->SendMidiEvent(0x90, 60, 100, 0);
    std::vector<float> sound = Render(seconds + 0.05);
    w_->player->SendMidiEvent(0x80, 60, 0, 0);
    Render(0.4);
    return Slice(sound, size_t(0.05 * rate_), sound.size());
  }

  rb::Ref<Window1> w_;
  chimewick_test::AudioLayerSeams seams_;
  uint32_t graph_ = 0;
  double rate_ = 0;
};

TEST_F(RealSoundTest, TypingDPlaysMiddleCTwoSemitonesUp) {
  Select("Piano 1");
  const double inTune = FrequencyByAutocorrelation(PlayMiddleC(), rate_);
  EXPECT_NEAR(inTune, NoteHz(60), NoteHz(60) * 0.006);
  EXPECT_FALSE((w_->RaiseEvent<bool, rb::String>("KeyDown", rb::String("d"))));
  const double inD = FrequencyByAutocorrelation(PlayMiddleC(), rate_);
  EXPECT_NEAR(inD, NoteHz(62), NoteHz(62) * 0.006);
}

TEST_F(RealSoundTest, PitchSliderAtMinus32RaisesHalfASemitoneMore) {
  Select("Piano 1");
  w_->TransposeSlider()->SetValue(-2);
  w_->PitchSlider()->SetValue(-32);
  ASSERT_EQ(w_->PitchSliderValue()->Text().Bytes(), "32");
  const double hz = FrequencyByAutocorrelation(PlayMiddleC(), rate_);
  EXPECT_NEAR(hz, NoteHz(62.5), NoteHz(62.5) * 0.006);
  // And a negative pitch lowers: shown -32 is half a semitone below D.
  w_->PitchSlider()->SetValue(32);
  const double lower = FrequencyByAutocorrelation(PlayMiddleC(), rate_);
  EXPECT_NEAR(lower, NoteHz(61.5), NoteHz(61.5) * 0.006);
}

TEST_F(RealSoundTest, CelloAndPiano1SoundDifferent) {
  Select("Piano 1");
  const auto piano = MagnitudeSpectrum(PlayMiddleC());
  const auto pianoAgain = MagnitudeSpectrum(PlayMiddleC());
  Select("Cello");
  const auto cello = MagnitudeSpectrum(PlayMiddleC());
  const double between = SpectralDistance(piano, cello);
  const double within = SpectralDistance(piano, pianoAgain);
  EXPECT_GT(between, 4.0 * within + 0.005) << "between " << between << ", within " << within;
}

TEST_F(RealSoundTest, PresetRecallChangesTheSoundToItsInstrument) {
  Select("Cello");
  rb::Keyboard::SetShiftDownForTesting(true);
  w_->ActivatePreset(2);
  rb::Keyboard::SetShiftDownForTesting(false);
  const auto cello = MagnitudeSpectrum(PlayMiddleC());
  Select("Piano 1");
  const auto piano = MagnitudeSpectrum(PlayMiddleC());
  w_->ActivatePreset(2);
  const auto recalled = MagnitudeSpectrum(PlayMiddleC());
  EXPECT_LT(SpectralDistance(recalled, cello), SpectralDistance(recalled, piano));
}

}  // namespace
}  // namespace coretest
