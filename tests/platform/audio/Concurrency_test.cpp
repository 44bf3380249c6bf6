// MIDI from other threads while the graph renders and is torn down: no
// fault, no use after free (the sanitizers watch), a clear status after.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "GraphTestSupport.h"

namespace chimewick::audio::testing {
namespace {

// Sends a mix of notes, tuning and instrument changes until the unit is gone.
void sendUntilRefused(AudioUnit unit, unsigned seed, std::atomic<int>& accepted) {
  std::mt19937 random(seed);
  const uint32_t channel = seed % 16;
  for (int i = 0; i < 200000; ++i) {
    OSStatus status = 0;
    switch (random() % 6) {
      case 0:
        status = MusicDeviceMIDIEvent(unit, 0x90 | channel, 40 + random() % 40, 100, 0);
        break;
      case 1:
        status = MusicDeviceMIDIEvent(unit, 0x80 | channel, 40 + random() % 40, 0, 0);
        break;
      case 2:
        status = MusicDeviceMIDIEvent(unit, 0xB0 | channel, 101, 0, 0);
        break;
      case 3:
        status = MusicDeviceMIDIEvent(unit, 0xB0 | channel, 100, 1 + random() % 2, 0);
        break;
      case 4:
        status = MusicDeviceMIDIEvent(unit, 0xB0 | channel, 6, random() % 128, 0);
        break;
      default:
        status = MusicDeviceMIDIEvent(unit, 0xC0 | channel, random() % 128, 0, 0);
        break;
    }
    if (status != 0) {
      // Gone, or (for a call that found it just before) no longer initialised.
      EXPECT_TRUE(status == kAudioErr_InvalidHandle || status == kAudioErr_NotInitialized) << status;
      return;
    }
    accepted.fetch_add(1);
  }
}

// Rounds of a race, each on a fresh graph playing on the null output, with
// what the layer says about refused calls kept off the test's output.
template <class Race>
void RaceOnRunningGraphs(int rounds, const Race& race) {
  ScopedEnvironment output("CHIMEWICK_AUDIO_OUTPUT", "null");
  for (int round = 0; round < rounds; ++round) {
    ::testing::internal::CaptureStderr();
    {
      PlayerGraph player;
      EXPECT_EQ(player.status, 0) << "round " << round;
      if (player.status == 0) race(player, round);
    }
    ::testing::internal::GetCapturedStderr();
  }
}

TEST(Concurrency, MidiFromTwoThreadsWhileTheRunningGraphIsTornDown) {
  RaceOnRunningGraphs(4, [](PlayerGraph& player, int round) {
    std::atomic<int> accepted{0};
    std::thread midiInput(sendUntilRefused, player.synth, 1 + round, std::ref(accepted));
    std::thread window(sendUntilRefused, player.synth, 100 + round, std::ref(accepted));
    while (accepted.load() < 200) std::this_thread::yield();
    // The plug-in's order, with the output still rendering through the synthesizer.
    player.tearDownAsThePlugInDoes();
    midiInput.join();
    window.join();
  });
}

TEST(Concurrency, DisposingARunningGraphWhileMidiArrives) {
  RaceOnRunningGraphs(4, [](PlayerGraph& player, int round) {
    std::atomic<int> accepted{0};
    std::thread midiInput(sendUntilRefused, player.synth, 7 + round, std::ref(accepted));
    while (accepted.load() < 100) std::this_thread::yield();
    EXPECT_EQ(DisposeAUGraph(player.graph), 0);
    player.graph = 0;
    midiInput.join();
  });
}

// The plug-in fetches the synthesizer afresh for every event, from the MIDI
// input thread too: a node lookup racing the graph's removal finds the unit
// or a clear status, never a freed graph.
TEST(Concurrency, NodeLookupsFromAnotherThreadWhileTheGraphIsTornDown) {
  RaceOnRunningGraphs(20, [](PlayerGraph& player, int round) {
    const AUGraph graph = player.graph;
    const AUNode synthNode = player.synthNode;
    std::atomic<int> found{0};
    std::atomic<bool> refused{false};
    std::thread midiInput([&] {
      while (!refused.load()) {
        AudioUnit unit = 0;
        const OSStatus status = AUGraphGetNodeInfo(graph, synthNode, nullptr, nullptr, nullptr, &unit);
        if (status != 0) {
          EXPECT_EQ(status, kAudioErr_InvalidHandle);
          refused = true;
          break;
        }
        MusicDeviceMIDIEvent(unit, 0xB0, 7, 100, 0);
        found.fetch_add(1);
      }
    });
    while (found.load() < 20 + round) std::this_thread::yield();
    player.tearDownAsThePlugInDoes();
    midiInput.join();
  });
}

struct TappedEvent {
  AudioUnit unit;
  uint32_t status, data1, data2, offset;
  bool operator==(const TappedEvent&) const = default;
};

void recordEvent(void* context, AudioUnit unit, uint32_t status, uint32_t data1, uint32_t data2,
                 uint32_t offset) {
  static_cast<std::vector<TappedEvent>*>(context)->push_back({unit, status, data1, data2, offset});
}

TEST(Concurrency, TheEventTapSeesEveryEventThatReachesASynthesizer) {
  AudioSetOfflineRenderingForTesting(true);
  {
    PlayerGraph player;
    ASSERT_EQ(player.status, 0);
    std::vector<TappedEvent> events;
    AudioSetEventTap(recordEvent, &events);
    MusicDeviceMIDIEvent(player.synth, 0x90, 60, 100, 7);
    MusicDeviceMIDIEvent(player.synth, 0xFF, 0, 0, 0);
    MusicDeviceMIDIEvent(player.synth, 0xB3, 300, 0x1FF, 0);
    ::testing::internal::CaptureStderr();
    MusicDeviceMIDIEvent(0x7FFFFFF0, 0x90, 60, 100, 0);
    ::testing::internal::GetCapturedStderr();
    AudioSetEventTap(nullptr, nullptr);
    MusicDeviceMIDIEvent(player.synth, 0x80, 60, 0, 0);
    const std::vector<TappedEvent> expected = {
        {player.synth, 0x90, 60, 100, 7}, {player.synth, 0xFF, 0, 0, 0}, {player.synth, 0xB3, 300, 0x1FF, 0}};
    EXPECT_EQ(events, expected);
  }
  AudioSetOfflineRenderingForTesting(false);
}

}  // namespace
}  // namespace chimewick::audio::testing
