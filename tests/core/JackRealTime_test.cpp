// The road of a note on JACK, the whole program's way: the window's port and
// the real playback plug-in on a private JACK server, MIDI and sound both on
// the program's one JACK client. A probe plays the keyboard (one client) and
// listens to the speakers (another): a note is heard in the cycle it is
// played in, the real-time thread allocates nothing on the way, and a server
// that dies leaves no note sounding.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>

#include "CoreTestFixture.h"
#include "JackKeysAndEars.h"
#include "PrivateJackServer.h"
#include "chimewick/JackSession.h"

// Every allocation of this test program is counted when it happens on the
// program's JACK real-time thread.
namespace {
std::atomic<long> realTimeAllocations{0};

void* allocate(std::size_t size) {
  if (chimewick::jack::onProcessThread()) realTimeAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace std::chrono_literals;
using chimewick_test::JackKeysAndEars;
using chimewick_test::JackObserver;
using chimewick_test::PrivateJackServer;
using Clock = std::chrono::steady_clock;

class JackRoadTest : public coretest::MidiCoreTest {
 protected:
  void SetUp() override {
    MidiCoreTest::SetUp();
    const std::string plugin = CHIMEWICK_REAL_PLUGIN;
    if (plugin.empty() || !std::filesystem::exists(plugin))
      GTEST_SKIP() << "skipped: the playback plug-in (PlaybackPlugin.so) is not built";
    if (!server_.start()) CHIMEWICK_LIVE_SKIP(server_.reason());
    setenv("CHIMEWICK_MIDI", "jack", 1);
    rb::ResetPluginRegistryForTesting();
    swapped_ = true;
    ASSERT_TRUE(rb::LoadPlugin(plugin));
    _InitPluginEntrypoints();
  }
  void TearDown() override {
    for (rb::Ref<Window1>& w : windows_) CloseQuietly(w);
    windows_.clear();
    probe_.close();
    if (swapped_) {
      rb::ResetPluginRegistryForTesting();
      rb::LoadPlugin(CHIMEWICK_RECORDING_PLUGIN);
      _InitPluginEntrypoints();
    }
    setenv("CHIMEWICK_AUDIO_OUTPUT", "null", 1);
    MidiCoreTest::TearDown();
  }

  // The program's window with its MIDI on the server, the probe's keys
  // connected by its scan, and the probe's ears on the program's left output
  // (when it plays to JACK).
  rb::Ref<Window1> start(const std::string& output) {
    setenv("CHIMEWICK_AUDIO_OUTPUT", output.c_str(), 1);
    EXPECT_TRUE(probe_.open());
    rb::Ref<Window1> w = Window1Accessor();
    windows_.push_back(w);
    EXPECT_TRUE(messages_.empty()) << (messages_.empty() ? "" : messages_.front());
    EXPECT_TRUE(w->InputPlayer());
    EXPECT_EQ(w->Warnings()->Text().Bytes(), std::string(" ") + probe_.keys.name());
    if (output == "jack") {
      EXPECT_TRUE(probe_.ears.listenTo("Chimewick:left"));
    }
    return w;
  }

  static bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    const auto deadline = Clock::now() + limit;
    while (!done()) {
      if (Clock::now() > deadline) return false;
      rb::ProcessEvents(5);
    }
    return true;
  }

  // What a note's measure found: the frames and the graph runs from the note
  // to its sound, or -1 frames when it was not heard.
  struct Heard {
    int64_t frames = -1;
    int64_t cyclesLate = 0;
  };

  // Plays one note and waits for it to be heard.
  Heard playAndListen(uint8_t note) {
    const auto quiet = [&] { return probe_.ears.quietCycles() > 20; };
    if (!pumpUntil(quiet, 2s)) {
      // A note-off lost in a cycle the server missed leaves a note on:
      // silence the channel before the next measure.
      probe_.keys.send({{0xB0, 123, 0}, {0xB0, 120, 0}});
      if (!pumpUntil(quiet)) return {};
    }
    probe_.ears.arm();
    probe_.keys.send({{0x90, note, 100}});
    pumpUntil([&] { return probe_.ears.heardAt() >= 0; }, 3s);
    const Heard heard{probe_.latency(), probe_.cyclesLate()};
    probe_.keys.send({{0x80, note, 0}});
    pumpUntil([&] { return probe_.keys.sent(); });
    return heard;
  }

  PrivateJackServer server_{128};
  JackKeysAndEars probe_;
  bool swapped_ = false;
};

// With MIDI and sound both on JACK, the program delivers a cycle's MIDI
// before it renders that cycle: the sound starts within the cycle the note
// was played in (only the instrument's attack later), not a period or more
// after it.
TEST_F(JackRoadTest, ANoteIsHeardInTheCycleItIsPlayedIn) {
  start("jack");
  JackObserver observer;
  ASSERT_TRUE(observer.open());
  int measured = 0;
  for (int i = 0; i < 200 && measured < 12; ++i) {
    const int xrunsBefore = observer.xruns();
    const Heard heard = playAndListen(uint8_t(60 + i % 12));
    // A cycle the server missed delays a sound, or loses the note on its
    // way between two programs: no measure then.
    if (observer.xruns() != xrunsBefore) continue;
    ASSERT_GE(heard.frames, 0) << "note " << i << " was not heard";
    ++measured;
    std::printf("note %d: heard %lld frames after it was played (period %d)\n", i, (long long)heard.frames,
                server_.period());
    // Counted in the server's runs of the graph: on a loaded machine a run
    // can end after the next cycle's time, and the frame clock, not the
    // program, then adds a period or two.
    EXPECT_EQ(heard.cyclesLate, 0) << "note " << i << " sounded " << heard.frames
                                   << " frames after it was played, " << heard.cyclesLate
                                   << " runs of the graph later";
    if (heard.cyclesLate == 0 && heard.frames >= server_.period())
      std::printf("note %d: heard in its own run of the graph, which ended late\n", i);
  }
  EXPECT_GE(measured, 12) << "too many cycles missed to measure";
}

// Everything the note's road runs on the real-time thread, from the JACK
// input through the port's Read and the plug-in down to the synthesizer,
// allocates nothing (and so takes no allocator lock).
TEST_F(JackRoadTest, TheRealTimeThreadAllocatesNothingOnANotesRoad) {
  rb::Ref<Window1> w = start("jack");
  // Heard once (a note between two programs is lost when the server misses
  // a cycle; a busy machine makes that happen).
  bool heard = false;
  for (int attempt = 0; attempt < 5 && !heard; ++attempt) heard = playAndListen(60).frames >= 0;
  ASSERT_TRUE(heard) << "the first note is not heard";
  const int32_t readsBefore = w->port->count.load();
  realTimeAllocations.store(0);
  for (int i = 0; i < 50; ++i) {
    for (uint8_t status : {uint8_t(0x90), uint8_t(0xB0), uint8_t(0xE0), uint8_t(0x80)}) {
      probe_.keys.send({{status, uint8_t(48 + i % 24), uint8_t(status == 0xB0 ? 7 : 90)}});
      ASSERT_TRUE(pumpUntil([&] { return probe_.keys.sent(); }));
    }
  }
  ASSERT_TRUE(pumpUntil([&] { return w->port->count.load() - readsBefore >= 150; }))
      << "only " << w->port->count.load() - readsBefore << " Reads";
  EXPECT_EQ(realTimeAllocations.load(), 0) << "allocations on the real-time thread";
}

// The left channel of a 16-bit stereo WAV file and its rate.
std::vector<float> ReadWavLeft(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<float> left;
  for (size_t at = 12; at + 8 <= bytes.size();) {
    const std::string id(bytes.data() + at, 4);
    if (id == "data") {
      for (size_t s = at + 8; s + 4 <= bytes.size(); s += 4)
        left.push_back(float(int16_t(uint8_t(bytes[s]) | (uint8_t(bytes[s + 1]) << 8))) / 32768.0f);
      break;
    }
    uint32_t size = 0;
    for (int i = 3; i >= 0; --i) size = (size << 8) | uint8_t(bytes[at + 4 + size_t(i)]);
    at += 8 + size + (size & 1);
  }
  return left;
}

double Rms(const std::vector<float>& s, size_t from, size_t to) {
  double sum = 0;
  for (size_t i = from; i < to && i < s.size(); ++i) sum += double(s[i]) * s[i];
  return to > from ? std::sqrt(sum / double(to - from)) : 0;
}

// The server dies while a key is held, and the sound goes elsewhere (a WAV
// file): the note is released like an unplugged keyboard's, the label says
// there is no keyboard, and standard error says what happened.
TEST_F(JackRoadTest, AServerThatDiesWithANoteHeldLeavesItSoundingNoLonger) {
  const std::string wav = configFolder_ + "/heard.wav";
  rb::Ref<Window1> w = start("wav:" + wav);
  // The program connects the keyboard a moment after it lists it; a note in
  // a cycle the server missed is lost on its way: play it until it arrives.
  ASSERT_TRUE(pumpUntil([&] { return probe_.keys.connected(); })) << "the keyboard was never connected";
  const int32_t readsBefore = w->port->count.load();
  bool arrived = false;
  for (int attempt = 0; attempt < 3 && !arrived; ++attempt) {
    probe_.keys.send({{0x90, 60, 110}});
    arrived = pumpUntil([&] { return w->port->count.load() > readsBefore; }, 3s);
  }
  ASSERT_TRUE(arrived) << "the note never arrived";
  std::this_thread::sleep_for(400ms);
  ::testing::internal::CaptureStderr();
  server_.stop(SIGKILL);
  const bool noKeyboard = pumpUntil([&] { return w->Warnings()->Text().Bytes() == " No keyboard found"; });
  probe_.close();                               // once its threads have seen the server go
  const auto quietFrom = Clock::now() + 700ms;  // the organ's release
  pumpUntil([&] { return Clock::now() > quietFrom + 500ms; }, 5s);
  const std::string said = ::testing::internal::GetCapturedStderr();
  const std::string label = w->Warnings()->Text().Bytes();
  Forget(w);
  CloseQuietly(w);  // ends the WAV file
  EXPECT_TRUE(noKeyboard) << "the label reads" << label;
  EXPECT_NE(said.find("JACK server went away"), std::string::npos) << said;

  const std::vector<float> left = ReadWavLeft(wav);
  const size_t rate = 48000;
  ASSERT_GT(left.size(), rate);
  double held = 0;
  for (size_t at = 0; at + rate / 10 < left.size(); at += rate / 20) {
    held = std::max(held, Rms(left, at, at + rate / 10));
  }
  const double end = Rms(left, left.size() - rate / 5, left.size());
  EXPECT_GT(held, 0.01) << "the held note was never heard";
  EXPECT_LT(end, held / 30) << "the note still sounds after the server died: " << end << " against " << held;
}

}  // namespace
