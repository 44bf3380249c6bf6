// A stand-in for the playback plug-in that only notes when SendMidiEvent is
// entered: the time a note reaches the synthesizer unit's door. Registers the
// class MidiPlaybackZel with the real plug-in's member declarations.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "rb/PluginInterface.h"

#define PROBE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct ProbeData {
  int32_t handle;
  int32_t lasterror;
};

std::atomic<uint64_t> gArrivals{0};
std::atomic<int64_t> gLastArrivalNs{0};

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

intptr_t Callback(void*) { return 0; }
int32_t Init(void*) { return 1; }
void SendMidiEvent(void*, int32_t, int32_t, int32_t, int32_t) {
  gLastArrivalNs.store(NowNs(), std::memory_order_relaxed);
  gArrivals.fetch_add(1, std::memory_order_release);
}
int32_t InstrumentCount(void*) { return 0; }
int32_t InstrumentID(void*, int32_t) { return 0; }
void* InstrumentName(void*, int32_t) { return nullptr; }
float CPULoad(void*) { return 0; }
int32_t GetInstrumentIDOnChannel(void*, int32_t) { return 0; }
void SetInstrumentIDOnChannel(void*, int32_t, int32_t) {}
void Teardown(void*) {}

PluginPropertyEntry gProperties[] = {
    {nullptr, "Handle", "Integer", 6, -1, nullptr, offsetof(ProbeData, handle), {}},
    {nullptr, "Lasterror", "Integer", 6, -1, nullptr, offsetof(ProbeData, lasterror), {}},
};

PluginMethodEntry gMethods[] = {
    {reinterpret_cast<void*>(&Callback), nullptr, "Callback as integer", 4},
    {reinterpret_cast<void*>(&Init), nullptr, "Init as boolean", 4},
    {reinterpret_cast<void*>(&SendMidiEvent), nullptr,
     "SendMidiEvent(Status as integer, Data1 as integer, Data2 as integer, OffsetSampleFrame as integer)", 4},
    {reinterpret_cast<void*>(&InstrumentCount), nullptr, "InstrumentCount as integer", 4},
    {reinterpret_cast<void*>(&InstrumentID), nullptr, "InstrumentID(index as integer) as integer", 4},
    {reinterpret_cast<void*>(&InstrumentName), nullptr, "InstrumentName(index as integer) as string", 4},
    {reinterpret_cast<void*>(&CPULoad), nullptr, "CPULoad as single", 4},
    {reinterpret_cast<void*>(&GetInstrumentIDOnChannel), reinterpret_cast<void*>(&SetInstrumentIDOnChannel),
     "InstrumentIDOnChannel(Channel as integer) as integer", 4},
};

PluginClassDefinition gProbeClass = [] {
  PluginClassDefinition r{};
  r.version = kPluginRecordVersion;
  r.name = "MidiPlaybackZel";
  r.dataSize = sizeof(ProbeData);
  r.destructor = reinterpret_cast<void*>(&Teardown);
  r.properties = gProperties;
  r.propertyCount = 2;
  r.methods = gMethods;
  r.methodCount = sizeof gMethods / sizeof gMethods[0];
  r.flags = 4;
  return r;
}();

}  // namespace

PROBE_EXPORT void REALPluginMain(HostResolver resolver) {
  if (auto registerVersion = reinterpret_cast<RegisterPluginVersionFn>(resolver("RegisterPluginVersion")))
    registerVersion(kPluginInterfaceVersion);
  if (auto registerClass = reinterpret_cast<PluginRegisterClassFn>(resolver("PluginRegisterClass")))
    registerClass(&gProbeClass);
}

// How many SendMidiEvent calls arrived, and the steady-clock time of the last
// one in nanoseconds. Any thread.
PROBE_EXPORT uint64_t probe_arrivals(int64_t* lastArrivalNs) {
  const uint64_t arrivals = gArrivals.load(std::memory_order_acquire);
  if (lastArrivalNs != nullptr) *lastArrivalNs = gLastArrivalNs.load(std::memory_order_relaxed);
  return arrivals;
}
