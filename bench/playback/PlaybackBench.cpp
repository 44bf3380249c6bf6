// Figures for the playback plug-in as the program uses it: the installed
// bundle loaded by a plain host, members called through the bound entries of
// its class record, the graph playing on the null output.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "TestHost.h"

namespace {

struct Loaded {
  std::unique_ptr<PluginBundle> bundle;
  std::unique_ptr<TestHost> host;
};

Loaded& installedBundle() {
  static Loaded loaded = [] {
    setenv("CHIMEWICK_AUDIO_OUTPUT", "null", 0);
    Loaded l;
    l.bundle = PluginBundle::load(PLAYBACK_BUNDLE, false, true);
    l.host = std::make_unique<TestHost>();
    l.bundle->callMain(*l.host);
    return l;
  }();
  return loaded;
}

using SendMidiEventFn = void (*)(void*, int32_t, int32_t, int32_t, int32_t);
using PlaybackReadProcFn = void (*)(void*, const void*);

SendMidiEventFn boundSendMidiEvent(Loaded& loaded) {
  return reinterpret_cast<SendMidiEventFn>(
      loaded.host
          ->method(
              "SendMidiEvent(Status as integer, Data1 as integer, Data2 as integer, OffsetSampleFrame as "
              "integer)")
          ->function);
}

// A started object for one benchmark; false (and the benchmark skipped) when
// Init fails.
bool startOrSkip(PlaybackObject& object, benchmark::State& state) {
  if (object.init()) return true;
  state.SkipWithError("Init failed");
  return false;
}

// The time of one call, from the calls each iteration makes.
void countNsPerCall(benchmark::State& state, int callsPerIteration) {
  state.counters["ns_per_call"] =
      benchmark::Counter(double(state.iterations()) * callsPerIteration,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Notes a benchmark plays before it lets the sounding ones end: at most two
// voices each (TimGM6mb's layered presets), well inside FluidSynth's 256.
constexpr int kNotesBetweenRests = 64;

// Ends every sound on the first channel and waits (untimed) until the output
// has rendered a few buffers, so that the voices are free again. Without the
// rest every note-on would find no free voice and time FluidSynth's overload
// path (a voice that cannot be had, and a warning for each).
void restUntimed(benchmark::State& state, SendMidiEventFn send, void* object) {
  state.PauseTiming();
  send(object, 0xB0, 120, 0, 0);  // all sound off
  std::this_thread::sleep_for(std::chrono::milliseconds(15));
  state.ResumeTiming();
}

// One note on and off, each finding a free voice.
void SendMidiEvent(benchmark::State& state) {
  Loaded& loaded = installedBundle();
  PlaybackObject object(*loaded.host);
  if (!startOrSkip(object, state)) return;
  const SendMidiEventFn send = boundSendMidiEvent(loaded);
  int note = 0;
  for (auto _ : state) {
    send(object.pointer(), 0x90, 40 + note, 100, 0);
    send(object.pointer(), 0x80, 40 + note, 0, 0);
    if (++note == kNotesBetweenRests) {
      note = 0;
      restUntimed(state, send, object.pointer());
    }
  }
  state.SetItemsProcessed(state.iterations() * 2);
  countNsPerCall(state, 2);
}
BENCHMARK(SendMidiEvent)->Iterations(64 * 200);

// The road without the synthesizer's own work: a system message goes all the
// way to the unit, which ignores it. What the plug-in and the audio layer add
// to every event.
void SendMidiEventIgnoredByTheUnit(benchmark::State& state) {
  Loaded& loaded = installedBundle();
  PlaybackObject object(*loaded.host);
  if (!startOrSkip(object, state)) return;
  const SendMidiEventFn send = boundSendMidiEvent(loaded);
  for (auto _ : state) send(object.pointer(), 0xFE, 0, 0, 0);
  countNsPerCall(state, 1);
}
BENCHMARK(SendMidiEventIgnoredByTheUnit);

// A player's pace: a chord of eight notes on and off, then a pause (not
// timed) in which the output renders their release away.
void SendMidiEventFewVoicesSounding(benchmark::State& state) {
  Loaded& loaded = installedBundle();
  PlaybackObject object(*loaded.host);
  if (!startOrSkip(object, state)) return;
  const SendMidiEventFn send = boundSendMidiEvent(loaded);
  for (auto _ : state) {
    for (int note = 60; note < 68; ++note) send(object.pointer(), 0x90, note, 100, 0);
    for (int note = 60; note < 68; ++note) send(object.pointer(), 0x80, note, 0, 0);
    state.PauseTiming();
    send(object.pointer(), 0xB0, 120, 0, 0);  // all sound off
    std::this_thread::sleep_for(std::chrono::milliseconds(12));
    state.ResumeTiming();
  }
  countNsPerCall(state, 16);
}
BENCHMARK(SendMidiEventFewVoicesSounding)->Iterations(200);

// A volume change, a note on (with a clock byte) and its note off through
// the reader; the note finds a free voice.
void PlaybackReadProcThreeMessages(benchmark::State& state) {
  Loaded& loaded = installedBundle();
  PlaybackObject object(*loaded.host);
  if (!startOrSkip(object, state)) return;
  auto read = reinterpret_cast<PlaybackReadProcFn>(object.callback());
  const SendMidiEventFn send = boundSendMidiEvent(loaded);
  std::vector<std::vector<uint8_t>> lists;
  for (int note = 0; note < kNotesBetweenRests; ++note) {
    const auto key = static_cast<uint8_t>(40 + note);
    lists.push_back(PacketList({{0xB0, 0x07, 0x64}, {0x90, key, 0x64, 0xF8}, {0x80, key, 0x00}}));
  }
  size_t next = 0;
  for (auto _ : state) {
    read(object.pointer(), lists[next].data());
    if (++next == lists.size()) {
      next = 0;
      restUntimed(state, send, object.pointer());
    }
  }
  state.SetItemsProcessed(state.iterations() * 3);
}
BENCHMARK(PlaybackReadProcThreeMessages)->Iterations(64 * 200);

// The reader's own cost: cutting and tracking, with no synthesizer to call.
void PlaybackReadProcWithoutGraph(benchmark::State& state) {
  Loaded& loaded = installedBundle();
  PlaybackObject object(*loaded.host);
  auto read = reinterpret_cast<PlaybackReadProcFn>(object.callback());
  const std::vector<uint8_t> list =
      PacketList({{0xB2, 0x00, 0x05}, {0xB2, 0x20, 0x01, 0xF8}, {0xC2, 0x07}, {0x90, 0x3C, 0x64}});
  for (auto _ : state) read(object.pointer(), list.data());
  state.SetItemsProcessed(state.iterations() * 4);
}
BENCHMARK(PlaybackReadProcWithoutGraph);

void Init(benchmark::State& state) {
  Loaded& loaded = installedBundle();
  PlaybackObject object(*loaded.host);
  for (auto _ : state) {
    if (!object.init()) {
      state.SkipWithError("Init failed");
      return;
    }
  }
}
BENCHMARK(Init)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
