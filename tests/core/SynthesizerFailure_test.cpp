// What the player reads when the synthesizer cannot start: what is missing on
// this system, never another operating system. Through the real playback
// plug-in and its audio layer where the failure can be arranged, and through
// the main window's start-up.
#include "SynthesizerFailure.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "CoreTestFixture.h"
#include "ScopedEnvironment.h"

namespace {

// The audio layer's settings and what its outputs read, put back afterwards.
class AudioSettings {
 public:
  void Set(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }
  void Unset(const char* name) { unsetenv(name); }

 private:
  const chimewick_test::ScopedEnvironment kept_[6] = {
      chimewick_test::ScopedEnvironment("CHIMEWICK_SOUNDFONT"),
      chimewick_test::ScopedEnvironment("CHIMEWICK_AUDIO_OUTPUT"),
      chimewick_test::ScopedEnvironment("PULSE_SERVER"),
      chimewick_test::ScopedEnvironment("PULSE_RUNTIME_PATH"),
      chimewick_test::ScopedEnvironment("JACK_DEFAULT_SERVER"),
      chimewick_test::ScopedEnvironment("JACK_NO_START_SERVER"),
  };
};

// What the real plug-in below cannot be made to show here: the settings'
// defaults, the ALSA output (it may open on a machine with a sound card), and
// statuses that no setting explains.
TEST(SynthesizerFailure, TheDefaultsAndOtherStatusesReadAsWell) {
  AudioSettings settings;
  settings.Unset("CHIMEWICK_SOUNDFONT");
  settings.Unset("CHIMEWICK_AUDIO_OUTPUT");
  const std::string start = "Chimewick could not start its synthesizer";
  EXPECT_EQ(SynthesizerFailureMessage(kSynthesizerStatusSoundFont).Bytes(),
            start + ": the SoundFont " CHIMEWICK_DEFAULT_SOUNDFONT " is missing or unreadable.");
  EXPECT_EQ(SynthesizerFailureMessage(kSynthesizerStatusNoOutput).Bytes(),
            start + ": no audio output could be opened (tried PulseAudio, ALSA and JACK).");
  settings.Set("CHIMEWICK_AUDIO_OUTPUT", "alsa");
  EXPECT_EQ(SynthesizerFailureMessage(kSynthesizerStatusNoOutput).Bytes(),
            start + ": the ALSA output could not be opened.");
  settings.Set("CHIMEWICK_AUDIO_OUTPUT", "wav:");
  EXPECT_EQ(SynthesizerFailureMessage(kSynthesizerStatusNoOutput).Bytes(),
            start + ": CHIMEWICK_AUDIO_OUTPUT=wav: names no file.");
  for (int32_t status : {-1, -50, -10863}) {
    EXPECT_EQ(SynthesizerFailureMessage(status).Bytes(),
              start + " (audio system status " + std::to_string(status) + ").");
  }
}

// The real playback plug-in over the real audio layer in place of the
// recording double, for the tests that follow.
class RealSynthesizerFailureTest : public coretest::MidiCoreTest {
 protected:
  void SetUp() override {
    MidiCoreTest::SetUp();
    UsePlugin(CHIMEWICK_REAL_PLUGIN);
    // Outputs that must not open: no PulseAudio or JACK server answers, and
    // none is started.
    settings_.Set("PULSE_SERVER", "unix:" + configFolder_ + "/no-pulse-server");
    settings_.Set("PULSE_RUNTIME_PATH", configFolder_);
    settings_.Set("JACK_DEFAULT_SERVER", "chimewick-none-" + std::to_string(getpid()));
    settings_.Set("JACK_NO_START_SERVER", "1");
  }

  std::string ReadFile(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  AudioSettings settings_;
};

// The numbers the program tells apart are the ones the audio layer really
// gives for a SoundFont it cannot load and an output it cannot open.
TEST_F(RealSynthesizerFailureTest, TheRealPlugInsFailuresReadAsWhatIsMissing) {
  const std::string garbage = configFolder_ + "/Garbage.sf2";
  std::ofstream(garbage, std::ios::binary) << "RIFF this is no SoundFont at all";
  const std::string unwritable = configFolder_ + "/no-such-folder/heard.wav";
  struct Case {
    const char* what;
    std::string soundFont;  // empty: not set (the default SoundFont)
    std::string output;
    std::string message;
  };
  const std::string start = "Chimewick could not start its synthesizer: ";
  const Case cases[] = {
      {"a SoundFont that is not there", "/nonexistent/Missing.sf2", "null",
       start + "the SoundFont /nonexistent/Missing.sf2 is missing or unreadable."},
      {"a file that is no SoundFont", garbage, "null",
       start + "the SoundFont " + garbage + " is missing or unreadable."},
      {"a WAV file in a folder that is not there", "", "wav:" + unwritable,
       start + "the WAV file " + unwritable + " could not be written."},
      {"PulseAudio without a server", "", "pulseaudio", start + "the PulseAudio output could not be opened."},
      {"JACK without a server", "", "jack", start + "the JACK output could not be opened."},
      {"no output of the three", "", "auto",
       start + "no audio output could be opened (tried PulseAudio, ALSA and JACK)."},
      {"an output of no known kind", "", "speakers",
       start +
           "CHIMEWICK_AUDIO_OUTPUT=speakers names none of auto, pulseaudio, alsa, jack, null and wav:PATH."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.soundFont.empty())
      settings_.Unset("CHIMEWICK_SOUNDFONT");
    else
      settings_.Set("CHIMEWICK_SOUNDFONT", c.soundFont);
    settings_.Set("CHIMEWICK_AUDIO_OUTPUT", c.output);
    rb::Ref<MidiPlaybackZel> player = MidiPlaybackZel::New();
    ASSERT_TRUE(player);
    if (player->Init()) {
      // Only ALSA can open with neither server: this machine has a sound card.
      EXPECT_EQ(c.output, "auto");
      continue;
    }
    EXPECT_EQ(SynthesizerFailureMessage(player->Lasterror()).Bytes(), c.message)
        << "status " << player->Lasterror();
  }
}

// The whole start-up with the real plug-in: the message, then quit with code
// 0, and the preferences stay as they were.
TEST_F(RealSynthesizerFailureTest, AMissingSoundFontStopsStartUpWithItsPathAndQuits) {
  if (rb::IsQuitting()) GTEST_SKIP() << "the runtime already quit in this process; run this test on its own";
  const std::string original = "<Transpose>-2</Transpose>\n<Volume>12</Volume>\n";
  std::filesystem::create_directories(std::filesystem::path(PreferencesFilePath()).parent_path());
  std::ofstream(PreferencesFilePath(), std::ios::binary) << original;
  settings_.Set("CHIMEWICK_SOUNDFONT", "/nonexistent/Missing.sf2");
  settings_.Set("CHIMEWICK_AUDIO_OUTPUT", "null");
  rb::Ref<Window1> w = Window1Accessor();
  windows_.push_back(w);
  EXPECT_EQ(messages_, (std::vector<std::string>{"Chimewick could not start its synthesizer: the SoundFont "
                                                 "/nonexistent/Missing.sf2 is missing or unreadable."}));
  EXPECT_TRUE(rb::IsQuitting());
  EXPECT_EQ(w->InputPlayer(), nullptr);
  EXPECT_EQ(ReadFile(PreferencesFilePath()), original);
}

TEST_F(RealSynthesizerFailureTest, NoAudioOutputStopsStartUpSayingWhatWasTriedAndQuits) {
  if (rb::IsQuitting()) GTEST_SKIP() << "the runtime already quit in this process; run this test on its own";
  const std::string original = "<Pitch>7</Pitch>\n";
  std::filesystem::create_directories(std::filesystem::path(PreferencesFilePath()).parent_path());
  std::ofstream(PreferencesFilePath(), std::ios::binary) << original;
  settings_.Set("CHIMEWICK_AUDIO_OUTPUT", "auto");
  rb::Ref<Window1> w = Window1Accessor();
  windows_.push_back(w);
  if (messages_.empty()) GTEST_SKIP() << "skipped: an ALSA output of this machine opens";
  EXPECT_EQ(messages_, (std::vector<std::string>{"Chimewick could not start its synthesizer: no audio output "
                                                 "could be opened (tried PulseAudio, ALSA and JACK)."}));
  EXPECT_TRUE(rb::IsQuitting());
  EXPECT_EQ(w->InputPlayer(), nullptr);
  EXPECT_EQ(ReadFile(PreferencesFilePath()), original);
}

}  // namespace
