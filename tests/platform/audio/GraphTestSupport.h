// Builds graphs the way the playback plug-in does, for the tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "AudioToolboxTesting.h"
#include "ScopedEnvironment.h"

namespace chimewick::audio::testing {

inline constexpr const ComponentDescription& kSynthDescription = kDLSSynthDescription;
inline constexpr const ComponentDescription& kFilterDescription = kLowPassFilterDescription;
inline constexpr const ComponentDescription& kOutputDescription = kDefaultOutputDescription;

// A graph built and started as the plug-in does: synthesizer bus 1 into the
// filter, the filter into the output, reverb off. Disposed on destruction.
struct PlayerGraph {
  AUGraph graph = 0;
  AUNode synthNode = 0, filterNode = 0, outputNode = 0;
  AudioUnit synth = 0;
  OSStatus status = 0;  // the first failing call's status

  // Builds up to (and including) AUGraphStart unless start is false.
  explicit PlayerGraph(bool start = true) { status = build(start); }
  ~PlayerGraph() {
    tearDown([](OSStatus) {});
  }

  // Takes the graph down in the plug-in's order (its nodes first, then stop,
  // uninitialise, dispose), expecting every call to succeed.
  void tearDownAsThePlugInDoes() {
    tearDown([](OSStatus s) { EXPECT_EQ(s, 0); });
  }
  PlayerGraph(const PlayerGraph&) = delete;
  PlayerGraph& operator=(const PlayerGraph&) = delete;

  OSStatus build(bool start) {
    if (OSStatus s = NewAUGraph(&graph)) return s;
    if (OSStatus s = AUGraphNewNode(graph, &kSynthDescription, 0, nullptr, &synthNode)) return s;
    if (OSStatus s = AUGraphNewNode(graph, &kFilterDescription, 0, nullptr, &filterNode)) return s;
    if (OSStatus s = AUGraphNewNode(graph, &kOutputDescription, 0, nullptr, &outputNode)) return s;
    if (OSStatus s = AUGraphConnectNodeInput(graph, synthNode, 1, filterNode, 0)) return s;
    if (OSStatus s = AUGraphConnectNodeInput(graph, filterNode, 0, outputNode, 0)) return s;
    if (OSStatus s = AUGraphUpdate(graph, nullptr)) return s;
    if (OSStatus s = AUGraphOpen(graph)) return s;
    if (OSStatus s = AUGraphInitialize(graph)) return s;
    if (OSStatus s = AUGraphGetNodeInfo(graph, synthNode, nullptr, nullptr, nullptr, &synth)) return s;
    uint32_t reverbOff = 0;
    if (OSStatus s = AudioUnitSetProperty(synth, kMusicDeviceProperty_UsesInternalReverb,
                                          kAudioUnitScope_Global, 0, &reverbOff, sizeof reverbOff))
      return s;
    if (start) return AUGraphStart(graph);
    return 0;
  }

  void send(uint32_t status, uint32_t data1, uint32_t data2 = 0) {
    ASSERT_EQ(MusicDeviceMIDIEvent(synth, status, data1, data2, 0), 0);
  }
  void select(uint32_t instrumentId, uint32_t channel = 0) {
    send(0xB0 | channel, 0, (instrumentId >> 16) & 0x7F);
    send(0xB0 | channel, 32, (instrumentId >> 8) & 0x7F);
    send(0xC0 | channel, instrumentId & 0x7F);
  }
  template <typename Check>
  void tearDown(Check check) {
    if (graph == 0) return;
    for (AUNode node : {synthNode, filterNode, outputNode})
      if (node != 0) check(AUGraphRemoveNode(graph, node));
    check(AUGraphStop(graph));
    check(AUGraphUninitialize(graph));
    check(DisposeAUGraph(graph));
    graph = 0;
  }

  // The left side of frames rendered offline.
  std::vector<float> renderLeft(uint32_t frames) {
    std::vector<float> interleaved(2 * size_t(frames));
    EXPECT_EQ(AUGraphRenderOffline(graph, frames, interleaved.data()), 0);
    std::vector<float> left(frames);
    for (uint32_t i = 0; i < frames; ++i) left[i] = interleaved[2 * i];
    return left;
  }
};

// Offline rendering for the whole test: on before the fixture's members
// (a graph among them) are made, off after they are gone.
class OfflineRendering : public ::testing::Test {
 protected:
  OfflineRendering() { AudioSetOfflineRenderingForTesting(true); }
  ~OfflineRendering() override { AudioSetOfflineRenderingForTesting(false); }
};

inline double rms(const std::vector<float>& samples, size_t from = 0) {
  double sum = 0.0;
  for (size_t i = from; i < samples.size(); ++i) sum += double(samples[i]) * samples[i];
  return samples.size() > from ? std::sqrt(sum / double(samples.size() - from)) : 0.0;
}

// The tests' one way of setting an environment variable for a scope.
using chimewick_test::ScopedEnvironment;

}  // namespace chimewick::audio::testing
