#include "PlaybackMembers.h"

#include <cstring>

namespace {

constexpr int32_t kNoGraph = -1;
constexpr std::size_t kInstrumentNameSize = 256;

// Takes a graph down in the order TeardownGraph uses: the nodes that are not
// 0 first, then stop, uninitialise and dispose. No status is looked at.
void disposeGraph(AUGraph graph, AUNode synthNode, AUNode filterNode, AUNode outputNode) noexcept {
  for (AUNode node : {synthNode, filterNode, outputNode})
    if (node != 0) AUGraphRemoveNode(graph, node);
  AUGraphStop(graph);
  AUGraphUninitialize(graph);
  DisposeAUGraph(graph);
}

// A graph under construction. A failed Init leaves nothing behind: what was
// made so far is taken down again.
struct NewGraph {
  AUGraph graph = 0;
  AUNode synthNode = 0;
  AUNode filterNode = 0;
  AUNode outputNode = 0;

  void dispose() noexcept {
    if (graph != 0) disposeGraph(graph, synthNode, filterNode, outputNode);
    *this = NewGraph{};
  }
};

OSStatus buildGraph(NewGraph& g) noexcept {
  OSStatus status = NewAUGraph(&g.graph);
  if (status != 0) {
    g.graph = 0;
    return status;
  }
  if ((status = AUGraphNewNode(g.graph, &kDLSSynthDescription, 0, nullptr, &g.synthNode)) != 0) return status;
  if ((status = AUGraphNewNode(g.graph, &kLowPassFilterDescription, 0, nullptr, &g.filterNode)) != 0)
    return status;
  if ((status = AUGraphNewNode(g.graph, &kDefaultOutputDescription, 0, nullptr, &g.outputNode)) != 0)
    return status;
  // The synthesizer's sound comes out of bus 1, not 0.
  if ((status = AUGraphConnectNodeInput(g.graph, g.synthNode, 1, g.filterNode, 0)) != 0) return status;
  if ((status = AUGraphConnectNodeInput(g.graph, g.filterNode, 0, g.outputNode, 0)) != 0) return status;
  if ((status = AUGraphUpdate(g.graph, nullptr)) != 0) return status;
  if ((status = AUGraphOpen(g.graph)) != 0) return status;
  if ((status = AUGraphInitialize(g.graph)) != 0) return status;
  AudioUnit synth = 0;
  if ((status = AUGraphGetNodeInfo(g.graph, g.synthNode, nullptr, nullptr, nullptr, &synth)) != 0)
    return status;
  const uint32_t reverbOff = 0;
  if ((status = AudioUnitSetProperty(synth, kMusicDeviceProperty_UsesInternalReverb, kAudioUnitScope_Global,
                                     0, &reverbOff, sizeof reverbOff)) != 0)
    return status;
  return AUGraphStart(g.graph);
}

// Reads a UInt32 property of the synthesizer for InstrumentCount and
// InstrumentID; 0 with Lasterror set on any failure.
int32_t synthPropertyValue(void* object, uint32_t property, uint32_t element) noexcept {
  PlaybackInstanceData& data = InstanceDataOf(object);
  AudioUnit unit = 0;
  OSStatus status = GetSynthUnit(data, &unit);
  setLasterror(data, status);
  if (status != 0) return 0;
  uint32_t value = 0;
  uint32_t size = sizeof value;
  status = AudioUnitGetProperty(unit, property, kAudioUnitScope_Global, element, &value, &size);
  setLasterror(data, status);
  if (status != 0) return 0;
  return static_cast<int32_t>(value);
}

}  // namespace

OSStatus GetSynthUnit(PlaybackInstanceData& data, AudioUnit* unit) noexcept {
  const AUGraph graph = loadGraph(data);
  if (graph == 0) return kNoGraph;
  return AUGraphGetNodeInfo(graph, loadField(data.synthNode), nullptr, nullptr, nullptr, unit);
}

void TeardownGraph(void* object) noexcept {
  PlaybackInstanceData& data = InstanceDataOf(object);
  const AUGraph graph = loadGraph(data);
  if (graph == 0) return;
  // The node fields are cleared before their nodes go, so that a reader on
  // another thread stops finding them first.
  const AUNode synthNode = loadField(data.synthNode);
  const AUNode filterNode = loadField(data.filterNode);
  const AUNode outputNode = loadField(data.outputNode);
  for (AUNode* field : {&data.synthNode, &data.filterNode, &data.outputNode}) storeField(*field, AUNode{0});
  disposeGraph(graph, synthNode, filterNode, outputNode);
  storeGraph(data, 0);
}

namespace MidiPlaybackZel {

int32_t Init(void* object) noexcept {
  TeardownGraph(object);
  PlaybackInstanceData& data = InstanceDataOf(object);
  setLasterror(data, kNoGraph);

  NewGraph g;
  const OSStatus status = buildGraph(g);
  if (status != 0) {
    g.dispose();
    setLasterror(data, status);
    return 0;
  }
  for (int32_t& entry : data.channelInstrument) storeField(entry, 0);
  storeField(data.synthNode, g.synthNode);
  storeField(data.filterNode, g.filterNode);
  storeField(data.outputNode, g.outputNode);
  storeGraph(data, g.graph);
  setLasterror(data, 0);
  return 1;
}

void SendMidiEvent(void* object, int32_t status, int32_t data1, int32_t data2,
                   int32_t offsetSampleFrame) noexcept {
  PlaybackInstanceData& data = InstanceDataOf(object);
  AudioUnit unit = 0;
  const OSStatus lookup = GetSynthUnit(data, &unit);
  if (lookup != 0) {
    setLasterror(data, lookup);
    return;
  }
  setLasterror(data,
               MusicDeviceMIDIEvent(unit, static_cast<uint32_t>(status), static_cast<uint32_t>(data1),
                                    static_cast<uint32_t>(data2), static_cast<uint32_t>(offsetSampleFrame)));
}

int32_t InstrumentCount(void* object) noexcept {
  return synthPropertyValue(object, kMusicDeviceProperty_InstrumentCount, 0);
}

int32_t InstrumentID(void* object, int32_t index) noexcept {
  return synthPropertyValue(object, kMusicDeviceProperty_InstrumentNumber, static_cast<uint32_t>(index));
}

HostString InstrumentName(void* object, int32_t instrumentID) noexcept {
  PlaybackInstanceData& data = InstanceDataOf(object);
  AudioUnit unit = 0;
  OSStatus status = GetSynthUnit(data, &unit);
  setLasterror(data, status);
  if (status != 0) return nullptr;
  char name[kInstrumentNameSize] = {};
  uint32_t size = sizeof name;
  status = AudioUnitGetProperty(unit, kMusicDeviceProperty_InstrumentName, kAudioUnitScope_Global,
                                static_cast<uint32_t>(instrumentID), name, &size);
  setLasterror(data, status);
  if (status != 0) return nullptr;
  // The name ends at the first NUL; a unit that fills all 256 bytes gives 256.
  const void* end = std::memchr(name, 0, sizeof name);
  const auto length =
      static_cast<int32_t>(end != nullptr ? static_cast<const char*>(end) - name : sizeof name);
  return BuildHostString(name, length, kTextEncodingUS_ASCII);
}

float CPULoad(void* object) noexcept {
  PlaybackInstanceData& data = InstanceDataOf(object);
  setLasterror(data, kNoGraph);
  const AUGraph graph = loadGraph(data);
  if (graph == 0) return 0.0f;
  float load = 0.0f;
  const OSStatus status = AUGraphGetCPULoad(graph, &load);
  setLasterror(data, status);
  return status == 0 ? load : 0.0f;
}

int32_t InstrumentIDOnChannel(void* object, int32_t channel) noexcept {
  PlaybackInstanceData& data = InstanceDataOf(object);
  if (channel < 0 || channel > 15) {
    setLasterror(data, kNoGraph);
    return 0;
  }
  setLasterror(data, 0);
  return loadField(data.channelInstrument[channel]);
}

void SetInstrumentIDOnChannel(void* object, int32_t channel, int32_t instrumentID) noexcept {
  PlaybackInstanceData& data = InstanceDataOf(object);
  AudioUnit unit = 0;
  const OSStatus lookup = GetSynthUnit(data, &unit);
  setLasterror(data, lookup);
  if (lookup != 0) return;
  const uint32_t c = static_cast<uint32_t>(channel) & 15u;
  const uint32_t id = static_cast<uint32_t>(instrumentID);
  MusicDeviceMIDIEvent(unit, 0xB0u | c, 0, (id >> 16) & 0x7Fu, 0);
  MusicDeviceMIDIEvent(unit, 0xB0u | c, 32, (id >> 8) & 0x7Fu, 0);
  setLasterror(data, MusicDeviceMIDIEvent(unit, 0xC0u | c, id & 0x7Fu, 0, 0));
  storeField(data.channelInstrument[c], instrumentID);
}

}  // namespace MidiPlaybackZel
