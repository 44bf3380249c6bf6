// The graph calls' statuses: handles, states, connections and properties,
// each failure with its reason on standard error.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "AudioMeasure.h"
#include "GraphTestSupport.h"

namespace chimewick::audio::testing {
namespace {

struct Case {
  const char* name;
  std::function<OSStatus(PlayerGraph&)> call;
  OSStatus expected;
};

// Runs each case on a fresh graph that is open, initialised and started
// (offline) unless the case itself takes it apart.
void runCases(const std::vector<Case>& cases, bool start) {
  for (const Case& c : cases) {
    AudioSetOfflineRenderingForTesting(true);
    PlayerGraph player(start);
    ASSERT_EQ(player.status, 0) << c.name;
    ::testing::internal::CaptureStderr();
    const OSStatus status = c.call(player);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, c.expected) << c.name;
    if (c.expected != 0) {
      EXPECT_NE(said.find("Chimewick audio: "), std::string::npos) << c.name << ": no reason given";
    }
    AudioSetOfflineRenderingForTesting(false);
  }
}

uint32_t instrumentCount(AudioUnit unit) {
  uint32_t count = 0, size = sizeof count;
  AudioUnitGetProperty(unit, kMusicDeviceProperty_InstrumentCount, kAudioUnitScope_Global, 0, &count, &size);
  return count;
}

OSStatus getUInt32(AudioUnit unit, uint32_t property, uint32_t element, uint32_t size = 4,
                   uint32_t scope = 0) {
  uint32_t value[2] = {};
  return AudioUnitGetProperty(unit, property, scope, element, value, &size);
}

constexpr AUGraph kNoSuchGraph = 0x7FFFFFF0;
constexpr AudioUnit kNoSuchUnit = 0x7FFFFFF1;

TEST(GraphCalls, UnknownHandlesAreRefusedByEveryCall) {
  float load = 0;
  double rate = 0;
  float buffer[2];
  uint32_t value = 0, size = 4;
  AudioUnit unit = 0;
  ComponentDescription description{};
  for (AUGraph graph : {AUGraph(0), kNoSuchGraph}) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(AUGraphNewNode(graph, &kSynthDescription, 0, nullptr, nullptr), kAudioErr_InvalidHandle);
    EXPECT_EQ(AUGraphConnectNodeInput(graph, 1, 1, 2, 0), kAudioErr_InvalidHandle);
    EXPECT_EQ(AUGraphUpdate(graph, nullptr), kAudioErr_InvalidHandle);
    EXPECT_EQ(AUGraphOpen(graph), kAudioErr_InvalidHandle);
    EXPECT_EQ(AUGraphInitialize(graph), kAudioErr_InvalidHandle);
    EXPECT_EQ(AUGraphGetNodeInfo(graph, 1, &description, nullptr, nullptr, &unit), kAudioErr_InvalidHandle);
    EXPECT_EQ(AUGraphStart(graph), kAudioErr_InvalidHandle);
    EXPECT_EQ(AUGraphStop(graph), kAudioErr_InvalidHandle);
    EXPECT_EQ(AUGraphUninitialize(graph), kAudioErr_InvalidHandle);
    EXPECT_EQ(AUGraphRemoveNode(graph, 1), kAudioErr_InvalidHandle);
    EXPECT_EQ(AUGraphGetCPULoad(graph, &load), kAudioErr_InvalidHandle);
    EXPECT_EQ(AUGraphRenderOffline(graph, 1, buffer), kAudioErr_InvalidHandle);
    EXPECT_EQ(AUGraphGetSampleRate(graph, &rate), kAudioErr_InvalidHandle);
    EXPECT_EQ(DisposeAUGraph(graph), kAudioErr_InvalidHandle);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("no graph"), std::string::npos);
  }
  for (AudioUnit u : {AudioUnit(0), kNoSuchUnit}) {
    EXPECT_EQ(AudioUnitGetProperty(u, kMusicDeviceProperty_InstrumentCount, 0, 0, &value, &size),
              kAudioErr_InvalidHandle);
    EXPECT_EQ(AudioUnitSetProperty(u, kMusicDeviceProperty_UsesInternalReverb, 0, 0, &value, 4),
              kAudioErr_InvalidHandle);
    EXPECT_EQ(MusicDeviceMIDIEvent(u, 0x90, 60, 100, 0), kAudioErr_InvalidHandle);
  }
  EXPECT_EQ(NewAUGraph(nullptr), kAudioErr_InvalidHandle);
}

TEST(GraphCalls, NodesAndConnectionsAreChecked) {
  runCases(
      {
          {"an unknown component",
           [](PlayerGraph& p) {
             const ComponentDescription reverb{kAudioUnitComponentType, kAudioUnitSubType_Effect,
                                               FourCC("rvb2"), 0, 0};
             AUNode node = 0;
             return AUGraphNewNode(p.graph, &reverb, 0, nullptr, &node);
           },
           kAudioErr_NoComponent},
          {"no description",
           [](PlayerGraph& p) {
             AUNode node = 0;
             return AUGraphNewNode(p.graph, nullptr, 0, nullptr, &node);
           },
           kAudioErr_InvalidHandle},
          {"a second output",
           [](PlayerGraph& p) {
             AUNode node = 0;
             return AUGraphNewNode(p.graph, &kOutputDescription, 0, nullptr, &node);
           },
           kAudioErr_NoComponent},
          {"a node of another graph",
           [](PlayerGraph& p) { return AUGraphConnectNodeInput(p.graph, 999, 0, p.outputNode, 0); },
           kAudioErr_InvalidHandle},
          {"the synthesizer's bus 0",
           [](PlayerGraph& p) {
             AUGraphRemoveNode(p.graph, p.filterNode);
             return AUGraphConnectNodeInput(p.graph, p.synthNode, 0, p.outputNode, 0);
           },
           kAudioErr_InvalidConnection},
          {"into the synthesizer",
           [](PlayerGraph& p) { return AUGraphConnectNodeInput(p.graph, p.filterNode, 0, p.synthNode, 0); },
           kAudioErr_InvalidConnection},
          {"out of the output",
           [](PlayerGraph& p) { return AUGraphConnectNodeInput(p.graph, p.outputNode, 0, p.filterNode, 0); },
           kAudioErr_InvalidConnection},
          {"a node into itself",
           [](PlayerGraph& p) {
             AUGraphRemoveNode(p.graph, p.synthNode);
             return AUGraphConnectNodeInput(p.graph, p.filterNode, 0, p.filterNode, 0);
           },
           kAudioErr_InvalidConnection},
          {"an input taken already",
           [](PlayerGraph& p) { return AUGraphConnectNodeInput(p.graph, p.synthNode, 1, p.outputNode, 0); },
           kAudioErr_InvalidConnection},
          {"the filter's input 1",
           [](PlayerGraph& p) { return AUGraphConnectNodeInput(p.graph, p.synthNode, 1, p.filterNode, 1); },
           kAudioErr_InvalidConnection},
          {"removing a removed node",
           [](PlayerGraph& p) {
             AUGraphRemoveNode(p.graph, p.filterNode);
             const OSStatus status = AUGraphRemoveNode(p.graph, p.filterNode);
             p.filterNode = 0;
             return status;
           },
           kAudioErr_InvalidHandle},
          {"node info of no node",
           [](PlayerGraph& p) {
             AudioUnit unit = 0;
             return AUGraphGetNodeInfo(p.graph, 12345, nullptr, nullptr, nullptr, &unit);
           },
           kAudioErr_InvalidHandle},
          {"node info gives the description and the unit",
           [](PlayerGraph& p) {
             ComponentDescription d{};
             AudioUnit unit = 0;
             uint32_t classDataSize = 99;
             void* classData = &classDataSize;
             const OSStatus status =
                 AUGraphGetNodeInfo(p.graph, p.filterNode, &d, &classDataSize, &classData, &unit);
             const bool right = d.componentManufacturer == kAudioUnitID_LowPassFilter && unit != 0 &&
                                unit != p.synth && classDataSize == 0 && classData == nullptr;
             return status != 0 ? status : right ? 0 : -1;
           },
           0},
          {"MIDI to the filter unit",
           [](PlayerGraph& p) {
             AudioUnit filter = 0;
             AUGraphGetNodeInfo(p.graph, p.filterNode, nullptr, nullptr, nullptr, &filter);
             return MusicDeviceMIDIEvent(filter, 0x90, 60, 100, 0);
           },
           kAudioErr_InvalidHandle},
          {"a unit after its node went",
           [](PlayerGraph& p) {
             AUGraphRemoveNode(p.graph, p.synthNode);
             p.synthNode = 0;
             return MusicDeviceMIDIEvent(p.synth, 0x90, 60, 100, 0);
           },
           kAudioErr_InvalidHandle},
      },
      true);
}

TEST(GraphCalls, PropertiesCheckScopeElementAndSize) {
  runCases(
      {
          {"count",
           [](PlayerGraph& p) { return getUInt32(p.synth, kMusicDeviceProperty_InstrumentCount, 0); }, 0},
          {"count, element 1",
           [](PlayerGraph& p) { return getUInt32(p.synth, kMusicDeviceProperty_InstrumentCount, 1); },
           kAudioErr_InvalidProperty},
          {"count, 3 bytes",
           [](PlayerGraph& p) { return getUInt32(p.synth, kMusicDeviceProperty_InstrumentCount, 0, 3); },
           kAudioErr_InvalidPropertySize},
          {"count, 8 bytes",
           [](PlayerGraph& p) { return getUInt32(p.synth, kMusicDeviceProperty_InstrumentCount, 0, 8); }, 0},
          {"count, input scope",
           [](PlayerGraph& p) { return getUInt32(p.synth, kMusicDeviceProperty_InstrumentCount, 0, 4, 1); },
           kAudioErr_InvalidProperty},
          {"count, no size",
           [](PlayerGraph& p) {
             uint32_t value = 0;
             return AudioUnitGetProperty(p.synth, kMusicDeviceProperty_InstrumentCount, 0, 0, &value,
                                         nullptr);
           },
           kAudioErr_InvalidPropertySize},
          {"count, no buffer",
           [](PlayerGraph& p) {
             uint32_t size = 4;
             return AudioUnitGetProperty(p.synth, kMusicDeviceProperty_InstrumentCount, 0, 0, nullptr, &size);
           },
           kAudioErr_InvalidPropertySize},
          {"the last index",
           [](PlayerGraph& p) {
             return getUInt32(p.synth, kMusicDeviceProperty_InstrumentNumber, instrumentCount(p.synth) - 1);
           },
           0},
          {"one index past the last",
           [](PlayerGraph& p) {
             return getUInt32(p.synth, kMusicDeviceProperty_InstrumentNumber, instrumentCount(p.synth));
           },
           kAudioErr_InvalidProperty},
          {"index -1",
           [](PlayerGraph& p) {
             return getUInt32(p.synth, kMusicDeviceProperty_InstrumentNumber, 0xFFFFFFFF);
           },
           kAudioErr_InvalidProperty},
          {"the name of an unknown ID",
           [](PlayerGraph& p) {
             char name[256];
             uint32_t size = sizeof name;
             return AudioUnitGetProperty(p.synth, kMusicDeviceProperty_InstrumentName, 0, 0x7F7F7F, name,
                                         &size);
           },
           kAudioErr_InvalidProperty},
          {"the name of an index rather than an ID (drum kit index 130)",
           [](PlayerGraph& p) {
             char name[256];
             uint32_t size = sizeof name;
             return AudioUnitGetProperty(p.synth, kMusicDeviceProperty_InstrumentName, 0, 130, name, &size);
           },
           kAudioErr_InvalidProperty},
          {"a name into no bytes",
           [](PlayerGraph& p) {
             char name[1];
             uint32_t size = 0;
             return AudioUnitGetProperty(p.synth, kMusicDeviceProperty_InstrumentName, 0, 0, name, &size);
           },
           kAudioErr_InvalidPropertySize},
          {"a name into 4 bytes is cut",
           [](PlayerGraph& p) {
             char name[8] = "#######";
             uint32_t size = 4;
             const OSStatus status =
                 AudioUnitGetProperty(p.synth, kMusicDeviceProperty_InstrumentName, 0, 0, name, &size);
             return status != 0 ? status : std::string(name) == "Pia" && name[4] == '#' ? 0 : -1;
           },
           0},
          {"reverb, 2 bytes",
           [](PlayerGraph& p) {
             uint16_t off = 0;
             return AudioUnitSetProperty(p.synth, kMusicDeviceProperty_UsesInternalReverb, 0, 0, &off, 2);
           },
           kAudioErr_InvalidPropertySize},
          {"reverb, no data",
           [](PlayerGraph& p) {
             return AudioUnitSetProperty(p.synth, kMusicDeviceProperty_UsesInternalReverb, 0, 0, nullptr, 4);
           },
           kAudioErr_InvalidPropertySize},
          {"reverb, element 1",
           [](PlayerGraph& p) {
             uint32_t off = 0;
             return AudioUnitSetProperty(p.synth, kMusicDeviceProperty_UsesInternalReverb, 0, 1, &off, 4);
           },
           kAudioErr_InvalidProperty},
          {"reverb reads back",
           [](PlayerGraph& p) {
             uint32_t on = 1, read = 0, size = 4;
             AudioUnitSetProperty(p.synth, kMusicDeviceProperty_UsesInternalReverb, 0, 0, &on, 4);
             const OSStatus status =
                 AudioUnitGetProperty(p.synth, kMusicDeviceProperty_UsesInternalReverb, 0, 0, &read, &size);
             return status != 0 ? status : read == 1 ? 0 : -1;
           },
           0},
          {"setting the count",
           [](PlayerGraph& p) {
             uint32_t count = 5;
             return AudioUnitSetProperty(p.synth, kMusicDeviceProperty_InstrumentCount, 0, 0, &count, 4);
           },
           kAudioErr_InvalidProperty},
          {"an unknown property", [](PlayerGraph& p) { return getUInt32(p.synth, 9999, 0); },
           kAudioErr_InvalidProperty},
          {"a property of the filter",
           [](PlayerGraph& p) {
             AudioUnit filter = 0;
             AUGraphGetNodeInfo(p.graph, p.filterNode, nullptr, nullptr, nullptr, &filter);
             return getUInt32(filter, kMusicDeviceProperty_InstrumentCount, 0);
           },
           kAudioErr_InvalidProperty},
      },
      true);
}

TEST(GraphCalls, CallsInTheWrongStateAreRefused) {
  ::testing::internal::CaptureStderr();
  AUGraph graph = 0;
  ASSERT_EQ(NewAUGraph(&graph), 0);
  AUNode synthNode = 0, outputNode = 0;
  ASSERT_EQ(AUGraphNewNode(graph, &kSynthDescription, 0, nullptr, &synthNode), 0);
  AudioUnit unit = 0;
  ComponentDescription description{};
  EXPECT_EQ(AUGraphGetNodeInfo(graph, synthNode, &description, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(description.componentManufacturer, kAudioUnitID_DLSSynth);
  EXPECT_EQ(AUGraphGetNodeInfo(graph, synthNode, nullptr, nullptr, nullptr, &unit), kAudioErr_NotInitialized);
  EXPECT_EQ(AUGraphInitialize(graph), kAudioErr_NotInitialized);
  EXPECT_EQ(AUGraphStart(graph), kAudioErr_NotInitialized);
  ASSERT_EQ(AUGraphOpen(graph), 0);
  EXPECT_EQ(AUGraphOpen(graph), 0);
  ASSERT_EQ(AUGraphGetNodeInfo(graph, synthNode, nullptr, nullptr, nullptr, &unit), 0);
  EXPECT_EQ(getUInt32(unit, kMusicDeviceProperty_InstrumentCount, 0), kAudioErr_NotInitialized);
  EXPECT_EQ(MusicDeviceMIDIEvent(unit, 0x90, 60, 100, 0), kAudioErr_NotInitialized);
  uint32_t off = 0;
  EXPECT_EQ(AudioUnitSetProperty(unit, kMusicDeviceProperty_UsesInternalReverb, 0, 0, &off, 4), 0);
  EXPECT_EQ(AUGraphStart(graph), kAudioErr_NotInitialized);
  ASSERT_EQ(AUGraphInitialize(graph), 0);
  EXPECT_EQ(AUGraphInitialize(graph), 0);
  // No output node: nothing to start.
  EXPECT_EQ(AUGraphStart(graph), kAudioErr_NoOutputDevice);
  float buffer[2];
  EXPECT_EQ(AUGraphRenderOffline(graph, 1, buffer), kAudioErr_NotInitialized);
  // A node added to an initialised graph is ready at once.
  ASSERT_EQ(AUGraphNewNode(graph, &kOutputDescription, 0, nullptr, &outputNode), 0);
  EXPECT_EQ(AUGraphConnectNodeInput(graph, synthNode, 1, outputNode, 0), 0);
  EXPECT_EQ(AUGraphStop(graph), 0);
  EXPECT_EQ(AUGraphUninitialize(graph), 0);
  EXPECT_EQ(AUGraphUninitialize(graph), 0);
  EXPECT_EQ(getUInt32(unit, kMusicDeviceProperty_InstrumentCount, 0), kAudioErr_NotInitialized);
  EXPECT_EQ(DisposeAUGraph(graph), 0);
  EXPECT_EQ(DisposeAUGraph(graph), kAudioErr_InvalidHandle);
  EXPECT_EQ(MusicDeviceMIDIEvent(unit, 0x90, 60, 100, 0), kAudioErr_InvalidHandle);
  ::testing::internal::GetCapturedStderr();
}

TEST(GraphCalls, ThePlugInsTeardownOrderSucceedsOnARunningGraph) {
  for (bool offline : {true, false}) {
    AudioSetOfflineRenderingForTesting(offline);
    ScopedEnvironment output("CHIMEWICK_AUDIO_OUTPUT", "null");
    PlayerGraph player;
    ASSERT_EQ(player.status, 0);
    player.send(0x90, 60, 100);
    player.tearDownAsThePlugInDoes();
    AudioSetOfflineRenderingForTesting(false);
  }
}

TEST(GraphCalls, AGraphRendersOnlyWhatReachesItsOutput) {
  AudioSetOfflineRenderingForTesting(true);
  PlayerGraph player;
  ASSERT_EQ(player.status, 0);
  player.send(0xC0, 80);  // square lead: bright, with much above the cutoff
  player.send(0x90, 72, 110);
  const auto filtered = player.renderLeft(16384);
  // Taking the filter out connects the synthesizer straight to the output.
  ASSERT_EQ(AUGraphRemoveNode(player.graph, player.filterNode), 0);
  player.filterNode = 0;
  EXPECT_EQ(audio_measure::Rms(player.renderLeft(1024)), 0.0) << "nothing reaches the output";
  ASSERT_EQ(AUGraphConnectNodeInput(player.graph, player.synthNode, 1, player.outputNode, 0), 0);
  bool updated = false;
  ASSERT_EQ(AUGraphUpdate(player.graph, &updated), 0);
  EXPECT_TRUE(updated);
  const auto direct = player.renderLeft(16384);
  double rate = 0;
  AUGraphGetSampleRate(player.graph, &rate);
  EXPECT_EQ(rate, 48000.0);
  const std::vector<double> edges = {0, 2000, 12000, 24000};
  const auto filteredBands =
      audio_measure::BandEnergies(audio_measure::MagnitudeSpectrum(filtered, 16384), rate, edges);
  const auto directBands =
      audio_measure::BandEnergies(audio_measure::MagnitudeSpectrum(direct, 16384), rate, edges);
  std::printf("energy 12-24 kHz: filtered %.2e, direct %.2e\n", filteredBands[2], directBands[2]);
  EXPECT_LT(filteredBands[2], directBands[2] / 5);
  AudioSetOfflineRenderingForTesting(false);
}

}  // namespace
}  // namespace chimewick::audio::testing
