// The whole road of a note with the real playback plug-in: a MIDI source, the
// window's port, the synthesizer, and the sound in a WAV file. Skipped with
// the reason where the plug-in or a JACK server is not available.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "ChildProcess.h"
#include "CoreTestFixture.h"
#include "DebugMessage.h"
#include "MidiClientZel.h"
#include "MyMidiPort.h"
#include "PrivateJackServer.h"
#include "VirtualMidi.h"

using chimewick_test::ChildProcess;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The left channel of a 16-bit stereo WAV file, as floats, and its rate.
struct Sound {
  std::vector<float> samples;
  double rate = 0;
};

Sound ReadWav(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Sound sound;
  auto u32 = [&](size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | uint8_t(bytes[at + size_t(i)]);
    return v;
  };
  if (bytes.size() < 12 || std::string(bytes.data(), 4) != "RIFF") return sound;
  int channels = 2;
  for (size_t at = 12; at + 8 <= bytes.size();) {
    const std::string id(bytes.data() + at, 4);
    size_t size = u32(at + 4);
    if (id == "fmt " && at + 16 <= bytes.size()) {
      channels = uint8_t(bytes[at + 10]) | (uint8_t(bytes[at + 11]) << 8);
      sound.rate = u32(at + 12);
    }
    if (id == "data") {
      // A file still being written has no final size yet.
      if (size == 0 || at + 8 + size > bytes.size()) size = bytes.size() - at - 8;
      for (size_t s = at + 8; s + 2 * size_t(channels) <= at + 8 + size; s += 2 * size_t(channels))
        sound.samples.push_back(float(int16_t(uint8_t(bytes[s]) | (uint8_t(bytes[s + 1]) << 8))) / 32768.0f);
      break;
    }
    at += 8 + size + (size & 1);
  }
  return sound;
}

double Rms(const std::vector<float>& s, size_t from, size_t count) {
  double sum = 0;
  for (size_t i = from; i < from + count && i < s.size(); ++i) sum += double(s[i]) * s[i];
  return count == 0 ? 0 : std::sqrt(sum / double(count));
}

// The loudest stretch of the sound, and how much stronger the note's own
// frequency is in it than the semitones either side of it.
struct Heard {
  double level = 0;
  double pitchContrast = 0;
};

// Power of one frequency in a stretch of sound (Goertzel).
double PowerAt(const float* x, size_t count, double frequency, double rate) {
  const double coefficient = 2 * std::cos(2 * M_PI * frequency / rate);
  double s1 = 0, s2 = 0;
  for (size_t i = 0; i < count; ++i) {
    const double s0 = x[i] + coefficient * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return s1 * s1 + s2 * s2 - coefficient * s1 * s2;
}

Heard Listen(const Sound& sound, double noteFrequency) {
  Heard heard;
  if (sound.rate <= 0) return heard;
  const size_t window = size_t(sound.rate / 5);
  size_t loudest = 0;
  for (size_t at = 0; at + window <= sound.samples.size(); at += window / 4) {
    const double level = Rms(sound.samples, at, window);
    if (level > heard.level) {
      heard.level = level;
      loudest = at;
    }
  }
  if (heard.level == 0) return heard;
  const float* x = sound.samples.data() + loudest;
  const double semitone = std::pow(2.0, 1.0 / 12);
  const double onNote = PowerAt(x, window, noteFrequency, sound.rate);
  const double neighbours = std::max(PowerAt(x, window, noteFrequency * semitone, sound.rate),
                                     PowerAt(x, window, noteFrequency / semitone, sound.rate));
  heard.pitchContrast = neighbours > 0 ? onNote / neighbours : 1e9;
  return heard;
}

double NoteFrequency(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

class EndToEndTest : public coretest::MidiCoreTest {
 protected:
  void SetUp() override {
    MidiCoreTest::SetUp();
    wavPath_ = configFolder_ + "/heard.wav";
    setenv("CHIMEWICK_AUDIO_OUTPUT", ("wav:" + wavPath_).c_str(), 1);
    UsePlugin(CHIMEWICK_REAL_PLUGIN);
  }

  void TearDown() override {
    MidiCoreTest::TearDown();
    setenv("CHIMEWICK_AUDIO_OUTPUT", "null", 1);
  }

  rb::Ref<Window1> Start() {
    rb::Ref<Window1> w = Window1Accessor();
    windows_.push_back(w);
    return w;
  }

  // Releases the window (and so the synthesizer, which finishes the WAV
  // file) and listens to what was written.
  Heard Finish(rb::Ref<Window1>& w, double noteFrequency) {
    Forget(w);
    CloseQuietly(w);
    return Listen(ReadWav(wavPath_), noteFrequency);
  }

  template <class Done>
  static bool PumpUntil(Done done, std::chrono::milliseconds limit = 10s) {
    const auto deadline = Clock::now() + limit;
    while (!done()) {
      if (Clock::now() > deadline) return false;
      rb::ProcessEvents(5);
    }
    return true;
  }

  static void PumpFor(std::chrono::milliseconds time) {
    const auto end = Clock::now() + time;
    while (Clock::now() < end) rb::ProcessEvents(5);
  }

  std::string wavPath_;
};

TEST_F(EndToEndTest, ANoteFromAVirtualKeyboardIsHeardInTheWav) {
  const int32_t source = VirtualMidi::AddSource("Virtual keyboard");
  rb::Ref<Window1> w = Start();
  ASSERT_TRUE(messages_.empty()) << messages_.front();
  ASSERT_TRUE(w->InputPlayer());
  EXPECT_EQ(w->Warnings()->Text().Bytes(), " Virtual keyboard");
  EXPECT_GT(w->InstrumentsList()->ListCount(), 100);
  EXPECT_EQ(w->InstrumentsList()->Text().Bytes(), "Organ 1");

  PumpFor(100ms);
  VirtualMidi::Send(source, {0x90, 69, 100});
  PumpFor(400ms);
  VirtualMidi::Send(source, {0x80, 69, 0});
  PumpFor(100ms);
  const int32_t reads = w->port->count.load();
  EXPECT_EQ(reads, 2);
  const Heard heard = Finish(w, NoteFrequency(69));
  EXPECT_GT(heard.level, 0.01);
  EXPECT_GT(heard.pitchContrast, 10.0) << "the note is not at its own pitch";
}

TEST_F(EndToEndTest, JackMidiseqIsFoundConnectedAndHeard) {
  chimewick_test::PrivateJackServer jack;
  if (!jack.start()) CHIMEWICK_LIVE_SKIP(jack.reason());
  const chimewick_test::ScopedEnvironment midi("CHIMEWICK_MIDI", "jack");

  rb::Ref<Window1> w = Start();
  if (w->Client->Lasterror() != 0) GTEST_SKIP() << "skipped: the JACK server took no MIDI client";
  ASSERT_TRUE(w->InputPlayer());
  ASSERT_TRUE(w->port);
  ASSERT_NE(w->port->Handle(), 0);
  // Middle C on for most of a quarter-second loop.
  ChildProcess midiseq({"jack_midiseq", "Seq", "12000", "0", "60", "11000"});
  ASSERT_TRUE(PumpUntil([&] { return w->Warnings()->Text().Bytes() == " Seq:out"; }))
      << "jack_midiseq was never found: " << w->Warnings()->Text().Bytes();
  EXPECT_GE(w->sources.Count(), 1);
  ASSERT_TRUE(PumpUntil([&] { return w->port->count.load() >= 4; })) << "nothing read from jack_midiseq";
  PumpFor(300ms);
  midiseq.stop();
  PumpFor(100ms);
  const Heard heard = Finish(w, NoteFrequency(60));
  EXPECT_GT(heard.level, 0.002);
  EXPECT_GT(heard.pitchContrast, 10.0) << "the note is not at its own pitch";
}

}  // namespace
