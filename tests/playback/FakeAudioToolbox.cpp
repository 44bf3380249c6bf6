// The audio system's calls over FakeAudio's tables. One mutex guards them:
// this is test code, called from the test's threads only.
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include "FakeAudio.h"

namespace {

struct FakeNode {
  ComponentDescription description;
  AudioUnit unit;
};

struct FakeGraph {
  std::map<AUNode, FakeNode> nodes;
  AUNode nextNode = 1;
  bool open = false;
  bool initialized = false;
  bool started = false;
};

bool sameDescription(const ComponentDescription& a, const ComponentDescription& b) {
  return a.componentType == b.componentType && a.componentSubType == b.componentSubType &&
         a.componentManufacturer == b.componentManufacturer;
}

constexpr const ComponentDescription& kSynth = kDLSSynthDescription;
constexpr const ComponentDescription& kFilter = kLowPassFilterDescription;
constexpr const ComponentDescription& kOutput = kDefaultOutputDescription;

class FakeAudioImpl final : public FakeAudio {
 public:
  FakeAudioImpl() { resetLocked(); }

  void reset() override {
    std::lock_guard lock(mutex_);
    resetLocked();
  }
  void failNext(const std::string& call, OSStatus status, int succeedingFirst) override {
    std::lock_guard lock(mutex_);
    failures_[call] = Failure{succeedingFirst, status};
  }
  std::vector<std::string> callLog() override {
    std::lock_guard lock(mutex_);
    return log_;
  }
  void setInstruments(std::vector<FakeInstrument> instruments) override {
    std::lock_guard lock(mutex_);
    instruments_ = std::move(instruments);
  }
  void setCPULoad(float load) override {
    std::lock_guard lock(mutex_);
    cpuLoad_ = load;
  }
  int liveGraphCount() override {
    std::lock_guard lock(mutex_);
    return static_cast<int>(graphs_.size());
  }
  std::vector<uint32_t> eventLengths() override {
    std::lock_guard lock(mutex_);
    return eventLengths_;
  }

  // Logs the call and returns an injected failure for it, or 0.
  OSStatus enter(const std::string& call, const std::string& arguments) {
    log_.push_back(arguments.empty() ? call : call + " " + arguments);
    return injectedFailure(call);
  }
  // The failure planted for this call of the function, or 0.
  OSStatus injectedFailure(const std::string& call) {
    auto failure = failures_.find(call);
    if (failure == failures_.end()) return 0;
    if (failure->second.succeedingFirst-- > 0) return 0;
    const OSStatus status = failure->second.status;
    failures_.erase(failure);
    return status;
  }
  FakeGraph* graph(AUGraph id) {
    auto found = graphs_.find(id);
    return found == graphs_.end() ? nullptr : &found->second;
  }
  // The synthesizer a unit number names, if any is alive.
  bool isSynthUnit(AudioUnit unit) {
    for (auto& [id, g] : graphs_)
      for (auto& [node, n] : g.nodes)
        if (n.unit == unit) return sameDescription(n.description, kSynth);
    return false;
  }

  std::mutex mutex_;
  std::map<AUGraph, FakeGraph> graphs_;
  std::map<AudioUnit, uint32_t> reverb_;
  std::vector<FakeInstrument> instruments_;
  struct Failure {
    int succeedingFirst = 0;
    OSStatus status = 0;
  };
  std::map<std::string, Failure> failures_;
  std::vector<uint32_t> eventLengths_;
  std::vector<std::string> log_;
  AUGraph nextGraph_ = 1;
  AudioUnit nextUnit_ = 100;
  float cpuLoad_ = 0.0f;

 private:
  void resetLocked() {
    graphs_.clear();
    reverb_.clear();
    failures_.clear();
    log_.clear();
    eventLengths_.clear();
    nextGraph_ = 1;
    nextUnit_ = 100;
    instruments_ = {{0x000000, "Piano 1"},
                    {0x000010, "Organ 1"},
                    {0x000105, "E.Piano 1"},
                    {0x780000, "Jazz"},
                    {0x000020, ""}};
    cpuLoad_ = 0.125f;
  }
};

FakeAudioImpl& fake() {
  static FakeAudioImpl instance;
  return instance;
}

std::atomic<AudioEventTap> gTap{nullptr};
// Initial-exec, as in the real layer: the tests load dozens of private
// copies of this bundle and the host keeps them all; in the dynamic model
// each copy adds dynamic TLS blocks, and LeakSanitizer's scan of that many
// at exit crashes.
thread_local uint32_t gNextEventLength __attribute__((tls_model("initial-exec"))) = 3;
std::atomic<void*> gTapContext{nullptr};

std::string numbers(std::initializer_list<long long> values) {
  std::string text;
  for (long long v : values) text += (text.empty() ? "" : " ") + std::to_string(v);
  return text;
}

}  // namespace

extern "C" {

FakeAudio* FakeAudioInstance() { return &fake(); }

OSStatus NewAUGraph(AUGraph* outGraph) {
  std::lock_guard lock(fake().mutex_);
  if (OSStatus s = fake().enter("NewAUGraph", "")) return s;
  const AUGraph id = fake().nextGraph_++;
  fake().graphs_[id] = FakeGraph{};
  *outGraph = id;
  return 0;
}

OSStatus AUGraphNewNode(AUGraph graph, const ComponentDescription* description, uint32_t classDataSize,
                        const void* classData, AUNode* outNode) {
  std::lock_guard lock(fake().mutex_);
  if (OSStatus s = fake().enter("AUGraphNewNode", numbers({graph, description->componentManufacturer,
                                                           classDataSize, classData != nullptr})))
    return s;
  FakeGraph* g = fake().graph(graph);
  if (g == nullptr) return kAudioErr_InvalidHandle;
  if (!sameDescription(*description, kSynth) && !sameDescription(*description, kFilter) &&
      !sameDescription(*description, kOutput))
    return kAudioErr_NoComponent;
  const AUNode node = g->nextNode++;
  g->nodes[node] = FakeNode{*description, fake().nextUnit_++};
  *outNode = node;
  return 0;
}

OSStatus AUGraphConnectNodeInput(AUGraph graph, AUNode sourceNode, uint32_t sourceOutputNumber,
                                 AUNode destNode, uint32_t destInputNumber) {
  std::lock_guard lock(fake().mutex_);
  if (OSStatus s = fake().enter("AUGraphConnectNodeInput",
                                numbers({graph, sourceNode, sourceOutputNumber, destNode, destInputNumber})))
    return s;
  FakeGraph* g = fake().graph(graph);
  if (g == nullptr || !g->nodes.count(sourceNode) || !g->nodes.count(destNode))
    return kAudioErr_InvalidConnection;
  return 0;
}

OSStatus AUGraphUpdate(AUGraph graph, bool* outIsUpdated) {
  std::lock_guard lock(fake().mutex_);
  if (OSStatus s = fake().enter("AUGraphUpdate", numbers({graph, outIsUpdated != nullptr}))) return s;
  return fake().graph(graph) ? 0 : kAudioErr_InvalidHandle;
}

OSStatus AUGraphOpen(AUGraph graph) {
  std::lock_guard lock(fake().mutex_);
  if (OSStatus s = fake().enter("AUGraphOpen", numbers({graph}))) return s;
  FakeGraph* g = fake().graph(graph);
  if (g == nullptr) return kAudioErr_InvalidHandle;
  g->open = true;
  return 0;
}

OSStatus AUGraphInitialize(AUGraph graph) {
  std::lock_guard lock(fake().mutex_);
  if (OSStatus s = fake().enter("AUGraphInitialize", numbers({graph}))) return s;
  FakeGraph* g = fake().graph(graph);
  if (g == nullptr || !g->open) return kAudioErr_NotInitialized;
  g->initialized = true;
  return 0;
}

OSStatus AUGraphGetNodeInfo(AUGraph graph, AUNode node, ComponentDescription* outDescription,
                            uint32_t* outClassDataSize, void** outClassData, AudioUnit* outUnit) {
  std::lock_guard lock(fake().mutex_);
  // Looked up for every event: not logged, to keep the log readable.
  if (!fake().failures_.empty()) {
    if (OSStatus s = fake().injectedFailure("AUGraphGetNodeInfo")) return s;
  }
  FakeGraph* g = fake().graph(graph);
  if (g == nullptr || !g->nodes.count(node)) return kAudioErr_InvalidHandle;
  const FakeNode& n = g->nodes[node];
  if (outDescription) *outDescription = n.description;
  if (outClassDataSize) *outClassDataSize = 0;
  if (outClassData) *outClassData = nullptr;
  if (outUnit) *outUnit = n.unit;
  return 0;
}

OSStatus AUGraphStart(AUGraph graph) {
  std::lock_guard lock(fake().mutex_);
  if (OSStatus s = fake().enter("AUGraphStart", numbers({graph}))) return s;
  FakeGraph* g = fake().graph(graph);
  if (g == nullptr || !g->initialized) return kAudioErr_NotInitialized;
  g->started = true;
  return 0;
}

OSStatus AUGraphStop(AUGraph graph) {
  std::lock_guard lock(fake().mutex_);
  if (OSStatus s = fake().enter("AUGraphStop", numbers({graph}))) return s;
  FakeGraph* g = fake().graph(graph);
  if (g == nullptr) return kAudioErr_InvalidHandle;
  g->started = false;
  return 0;
}

OSStatus AUGraphUninitialize(AUGraph graph) {
  std::lock_guard lock(fake().mutex_);
  if (OSStatus s = fake().enter("AUGraphUninitialize", numbers({graph}))) return s;
  FakeGraph* g = fake().graph(graph);
  if (g == nullptr) return kAudioErr_InvalidHandle;
  g->initialized = false;
  return 0;
}

OSStatus DisposeAUGraph(AUGraph graph) {
  std::lock_guard lock(fake().mutex_);
  if (OSStatus s = fake().enter("DisposeAUGraph", numbers({graph}))) return s;
  return fake().graphs_.erase(graph) ? 0 : kAudioErr_InvalidHandle;
}

OSStatus AUGraphRemoveNode(AUGraph graph, AUNode node) {
  std::lock_guard lock(fake().mutex_);
  if (OSStatus s = fake().enter("AUGraphRemoveNode", numbers({graph, node}))) return s;
  FakeGraph* g = fake().graph(graph);
  if (g == nullptr || !g->nodes.erase(node)) return kAudioErr_InvalidHandle;
  return 0;
}

OSStatus AUGraphGetCPULoad(AUGraph graph, float* outLoad) {
  std::lock_guard lock(fake().mutex_);
  if (OSStatus s = fake().enter("AUGraphGetCPULoad", numbers({graph}))) return s;
  if (fake().graph(graph) == nullptr) return kAudioErr_InvalidHandle;
  *outLoad = fake().cpuLoad_;
  return 0;
}

OSStatus AudioUnitGetProperty(AudioUnit unit, uint32_t propertyID, uint32_t scope, uint32_t element,
                              void* outData, uint32_t* ioDataSize) {
  std::lock_guard lock(fake().mutex_);
  if (OSStatus s =
          fake().enter("AudioUnitGetProperty", numbers({unit, propertyID, scope, element, *ioDataSize})))
    return s;
  if (!fake().isSynthUnit(unit) || scope != kAudioUnitScope_Global) return kAudioErr_InvalidProperty;
  const auto& instruments = fake().instruments_;
  switch (propertyID) {
    case kMusicDeviceProperty_InstrumentCount: {
      if (*ioDataSize < 4) return kAudioErr_InvalidPropertySize;
      const auto count = static_cast<uint32_t>(instruments.size());
      std::memcpy(outData, &count, 4);
      return 0;
    }
    case kMusicDeviceProperty_InstrumentNumber:
      if (*ioDataSize < 4) return kAudioErr_InvalidPropertySize;
      if (element >= instruments.size()) return kAudioErr_InvalidProperty;
      std::memcpy(outData, &instruments[element].id, 4);
      return 0;
    case kMusicDeviceProperty_InstrumentName:
      if (*ioDataSize < 256) return kAudioErr_InvalidPropertySize;
      for (const FakeInstrument& instrument : instruments) {
        if (instrument.id != element) continue;
        // A 256-character name fills the buffer without a NUL.
        std::memset(outData, 0, 256);
        std::memcpy(outData, instrument.name.data(), std::min<size_t>(instrument.name.size(), 256));
        return 0;
      }
      return kAudioErr_InvalidProperty;
    default:
      return kAudioErr_InvalidProperty;
  }
}

OSStatus AudioUnitSetProperty(AudioUnit unit, uint32_t propertyID, uint32_t scope, uint32_t element,
                              const void* data, uint32_t dataSize) {
  std::lock_guard lock(fake().mutex_);
  uint32_t value = 0;
  if (dataSize == 4) std::memcpy(&value, data, 4);
  if (OSStatus s =
          fake().enter("AudioUnitSetProperty", numbers({unit, propertyID, scope, element, value, dataSize})))
    return s;
  if (!fake().isSynthUnit(unit) || propertyID != kMusicDeviceProperty_UsesInternalReverb || dataSize != 4)
    return kAudioErr_InvalidProperty;
  fake().reverb_[unit] = value;
  return 0;
}

OSStatus MusicDeviceMIDIEvent(AudioUnit unit, uint32_t status, uint32_t data1, uint32_t data2,
                              uint32_t offsetSampleFrame) {
  const uint32_t length = std::exchange(gNextEventLength, 3);
  {
    std::lock_guard lock(fake().mutex_);
    if (!fake().failures_.empty()) {
      if (OSStatus s = fake().injectedFailure("MusicDeviceMIDIEvent")) return s;
    }
    if (!fake().isSynthUnit(unit)) return kAudioErr_InvalidHandle;
    fake().eventLengths_.push_back(length);
  }
  if (AudioEventTap tap = gTap.load()) tap(gTapContext.load(), unit, status, data1, data2, offsetSampleFrame);
  return 0;
}

void MusicDeviceSetNextEventLength(uint32_t byteCount) { gNextEventLength = byteCount < 3 ? byteCount : 3; }

void AudioPreloadSoundFont(void) {}

void AudioSetEventTap(AudioEventTap tap, void* context) {
  gTapContext.store(context);
  gTap.store(tap);
}

void AudioSetOfflineRenderingForTesting(bool) {}

OSStatus AUGraphRenderOffline(AUGraph graph, uint32_t frames, float* interleavedStereo) {
  std::lock_guard lock(fake().mutex_);
  if (fake().graph(graph) == nullptr) return kAudioErr_InvalidHandle;
  std::memset(interleavedStereo, 0, sizeof(float) * 2 * frames);
  return 0;
}

OSStatus AUGraphGetSampleRate(AUGraph graph, double* outRate) {
  std::lock_guard lock(fake().mutex_);
  if (fake().graph(graph) == nullptr) return kAudioErr_InvalidHandle;
  *outRate = 44100.0;
  return 0;
}

}  // extern "C"
