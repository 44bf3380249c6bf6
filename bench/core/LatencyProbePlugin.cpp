// A stand-in for the playback plug-in that only notes when SendMidiEvent is
// entered: the time a note reaches the synthesizer unit's door. Registers the
// class MidiPlaybackZel with the real plug-in's member declarations.
#include <atomic>
#include <chrono>
#include <cstdint>

#include "PlaybackClassDeclaration.h"

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

PlaybackClassDeclaration gProbeClass = PlaybackClassDeclaration::For<ProbeData>({
    .callback = reinterpret_cast<void*>(&Callback),
    .init = reinterpret_cast<void*>(&Init),
    .sendMidiEvent = reinterpret_cast<void*>(&SendMidiEvent),
    .instrumentCount = reinterpret_cast<void*>(&InstrumentCount),
    .instrumentID = reinterpret_cast<void*>(&InstrumentID),
    .instrumentName = reinterpret_cast<void*>(&InstrumentName),
    .cpuLoad = reinterpret_cast<void*>(&CPULoad),
    .getInstrumentIDOnChannel = reinterpret_cast<void*>(&GetInstrumentIDOnChannel),
    .setInstrumentIDOnChannel = reinterpret_cast<void*>(&SetInstrumentIDOnChannel),
    .constructor = nullptr,
    .destructor = reinterpret_cast<void*>(&Teardown),
});

}  // namespace

PROBE_EXPORT void REALPluginMain(HostResolver resolver) { gProbeClass.Register(resolver); }

// How many SendMidiEvent calls arrived, and the steady-clock time of the last
// one in nanoseconds. Any thread.
PROBE_EXPORT uint64_t probe_arrivals(int64_t* lastArrivalNs) {
  const uint64_t arrivals = gArrivals.load(std::memory_order_acquire);
  if (lastArrivalNs != nullptr) *lastArrivalNs = gLastArrivalNs.load(std::memory_order_relaxed);
  return arrivals;
}
