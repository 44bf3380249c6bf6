// The C entry points: find the handle, then hand over to the graph or unit.
#include "AudioToolbox.h"

#include <atomic>
#include <mutex>
#include <utility>

#include "AudioLog.h"
#include "AudioToolboxTesting.h"
#include "Graph.h"
#include "Registry.h"
#include "SoundFontPreload.h"
#include "SynthUnit.h"
#include "Unit.h"

using chimewick::audio::Graph;
using chimewick::audio::logLine;
using chimewick::audio::Registry;

namespace {

std::shared_ptr<Graph> findGraph(AUGraph handle, const char* call) {
  std::shared_ptr<Graph> graph = Registry::instance().graph(handle);
  if (graph == nullptr) logLine("%s: no graph %u", call, handle);
  return graph;
}

std::shared_ptr<chimewick::audio::Unit> findUnit(AudioUnit handle, const char* call) {
  std::shared_ptr<chimewick::audio::Unit> unit = Registry::instance().unit(handle);
  if (!unit) logLine("%s: no unit %u", call, handle);
  return unit;
}

struct EventTap {
  // Lets every event skip the lock while no test has a tap in place.
  std::atomic<bool> installed{false};
  std::mutex mutex;
  AudioEventTap tap = nullptr;
  void* context = nullptr;
};

EventTap& eventTap() {
  static EventTap tap;
  return tap;
}

// The real bytes of the next event on this thread (3: all of them).
// Initial-exec, since every event reads it, on real-time threads too: a
// plug-in's thread-local variables in the dynamic model are allocated on a
// thread's first use.
constexpr uint8_t kWholeEvent = 3;
thread_local uint8_t nextEventLength __attribute__((tls_model("initial-exec"))) = kWholeEvent;

}  // namespace

extern "C" {

OSStatus NewAUGraph(AUGraph* outGraph) {
  if (outGraph == nullptr) {
    logLine("NewAUGraph needs a place for the graph");
    return kAudioErr_InvalidHandle;
  }
  chimewick::audio::installFluidLogger();
  *outGraph = Registry::instance().addGraph(std::make_shared<Graph>());
  return 0;
}

OSStatus AUGraphNewNode(AUGraph graph, const ComponentDescription* description, uint32_t, const void*,
                        AUNode* outNode) {
  const std::shared_ptr<Graph> g = findGraph(graph, "AUGraphNewNode");
  return g == nullptr ? kAudioErr_InvalidHandle : g->newNode(description, outNode);
}

OSStatus AUGraphConnectNodeInput(AUGraph graph, AUNode sourceNode, uint32_t sourceOutputNumber,
                                 AUNode destNode, uint32_t destInputNumber) {
  const std::shared_ptr<Graph> g = findGraph(graph, "AUGraphConnectNodeInput");
  return g == nullptr ? kAudioErr_InvalidHandle
                      : g->connect(sourceNode, sourceOutputNumber, destNode, destInputNumber);
}

OSStatus AUGraphUpdate(AUGraph graph, bool* outIsUpdated) {
  const std::shared_ptr<Graph> g = findGraph(graph, "AUGraphUpdate");
  return g == nullptr ? kAudioErr_InvalidHandle : g->update(outIsUpdated);
}

OSStatus AUGraphOpen(AUGraph graph) {
  const std::shared_ptr<Graph> g = findGraph(graph, "AUGraphOpen");
  return g == nullptr ? kAudioErr_InvalidHandle : g->open();
}

OSStatus AUGraphInitialize(AUGraph graph) {
  const std::shared_ptr<Graph> g = findGraph(graph, "AUGraphInitialize");
  return g == nullptr ? kAudioErr_InvalidHandle : g->initialize();
}

OSStatus AUGraphGetNodeInfo(AUGraph graph, AUNode node, ComponentDescription* outDescription,
                            uint32_t* outClassDataSize, void** outClassData, AudioUnit* outUnit) {
  // Any thread, the real-time one included: no lock, no allocation.
  const Registry::Reader reading;
  const Graph* g = Registry::instance().findGraph(graph);
  if (g == nullptr) {
    logLine("AUGraphGetNodeInfo: no graph %u", graph);
    return kAudioErr_InvalidHandle;
  }
  const OSStatus status = g->nodeInfo(node, outDescription, outUnit);
  if (status == 0) {
    if (outClassDataSize != nullptr) *outClassDataSize = 0;
    if (outClassData != nullptr) *outClassData = nullptr;
  }
  return status;
}

OSStatus AUGraphStart(AUGraph graph) {
  const std::shared_ptr<Graph> g = findGraph(graph, "AUGraphStart");
  return g == nullptr ? kAudioErr_InvalidHandle : g->start();
}

OSStatus AUGraphStop(AUGraph graph) {
  const std::shared_ptr<Graph> g = findGraph(graph, "AUGraphStop");
  return g == nullptr ? kAudioErr_InvalidHandle : g->stop();
}

OSStatus AUGraphUninitialize(AUGraph graph) {
  const std::shared_ptr<Graph> g = findGraph(graph, "AUGraphUninitialize");
  return g == nullptr ? kAudioErr_InvalidHandle : g->uninitialize();
}

OSStatus DisposeAUGraph(AUGraph graph) {
  const std::shared_ptr<Graph> g = Registry::instance().takeGraph(graph);
  if (!g) {
    logLine("DisposeAUGraph: no graph %u", graph);
    return kAudioErr_InvalidHandle;
  }
  // Closed here, on the UI thread, even if a lookup on another thread
  // still holds the graph for a moment.
  g->close();
  return 0;
}

OSStatus AUGraphRemoveNode(AUGraph graph, AUNode node) {
  const std::shared_ptr<Graph> g = findGraph(graph, "AUGraphRemoveNode");
  return g == nullptr ? kAudioErr_InvalidHandle : g->removeNode(node);
}

OSStatus AUGraphGetCPULoad(AUGraph graph, float* outLoad) {
  const std::shared_ptr<Graph> g = findGraph(graph, "AUGraphGetCPULoad");
  return g == nullptr ? kAudioErr_InvalidHandle : g->cpuLoad(outLoad);
}

OSStatus AudioUnitGetProperty(AudioUnit unit, uint32_t propertyID, uint32_t scope, uint32_t element,
                              void* outData, uint32_t* ioDataSize) {
  auto u = findUnit(unit, "AudioUnitGetProperty");
  return u ? u->getProperty(propertyID, scope, element, outData, ioDataSize) : kAudioErr_InvalidHandle;
}

OSStatus AudioUnitSetProperty(AudioUnit unit, uint32_t propertyID, uint32_t scope, uint32_t element,
                              const void* data, uint32_t dataSize) {
  auto u = findUnit(unit, "AudioUnitSetProperty");
  return u ? u->setProperty(propertyID, scope, element, data, dataSize) : kAudioErr_InvalidHandle;
}

OSStatus MusicDeviceMIDIEvent(AudioUnit unit, uint32_t status, uint32_t data1, uint32_t data2,
                              uint32_t offsetSampleFrame) {
  const uint32_t length = std::exchange(nextEventLength, kWholeEvent);
  // Any thread, the real-time one included: no lock but FluidSynth's own, no
  // allocation. The unit stays alive for this call even if its graph is
  // torn down meanwhile.
  const Registry::Reader reading;
  chimewick::audio::Unit* u = Registry::instance().findUnit(unit);
  chimewick::audio::SynthUnit* synth = u != nullptr ? u->asSynth() : nullptr;
  if (synth == nullptr) {
    logLine("MusicDeviceMIDIEvent: no synthesizer unit %u", unit);
    return kAudioErr_InvalidHandle;
  }
  if (eventTap().installed.load(std::memory_order_acquire)) {
    // A test's tap: only then is there a lock on this road.
    AudioEventTap tap = nullptr;
    void* context = nullptr;
    {
      std::lock_guard<std::mutex> lock(eventTap().mutex);
      tap = eventTap().tap;
      context = eventTap().context;
    }
    if (tap != nullptr) tap(context, unit, status, data1, data2, offsetSampleFrame);
  }
  // FluidSynth plays every event at once; the offset into the next buffer is
  // at most one buffer (a few milliseconds) and is not kept.
  return synth->midiEvent(status, data1, data2, length);
}

void MusicDeviceSetNextEventLength(uint32_t byteCount) {
  nextEventLength = static_cast<uint8_t>(byteCount < kWholeEvent ? byteCount : kWholeEvent);
}

void AudioPreloadSoundFont(void) { chimewick::audio::SoundFontPreload::start(Graph::kDefaultSampleRate); }

void AudioSetEventTap(AudioEventTap tap, void* context) {
  std::lock_guard<std::mutex> lock(eventTap().mutex);
  eventTap().tap = tap;
  eventTap().context = context;
  eventTap().installed.store(tap != nullptr, std::memory_order_release);
}

void AudioSetOfflineRenderingForTesting(bool offline) { Graph::setOfflineRendering(offline); }

OSStatus AUGraphRenderOffline(AUGraph graph, uint32_t frames, float* interleavedStereo) {
  const std::shared_ptr<Graph> g = findGraph(graph, "AUGraphRenderOffline");
  return g == nullptr ? kAudioErr_InvalidHandle : g->renderOffline(frames, interleavedStereo);
}

OSStatus AUGraphGetSampleRate(AUGraph graph, double* outRate) {
  const std::shared_ptr<Graph> g = findGraph(graph, "AUGraphGetSampleRate");
  if (g == nullptr) return kAudioErr_InvalidHandle;
  if (outRate == nullptr) {
    logLine("AUGraphGetSampleRate needs a place for the rate");
    return kAudioErr_InvalidHandle;
  }
  *outRate = g->sampleRate();
  return 0;
}

}  // extern "C"
