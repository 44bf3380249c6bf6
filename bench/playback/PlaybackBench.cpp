// Figures for the playback plug-in as the program uses it: the installed
// bundle loaded by the framework's plug-in host, members called through the
// entries it binds by the program's names, the graph playing on the null
// output.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "PacketList.h"
#include "PlaybackEntryNames.h"
#include "PlaybackObject.h"
#include "rb/PluginHost.h"

namespace {

using SendMidiEventFn = void (*)(void*, int32_t, int32_t, int32_t, int32_t);
using PlaybackReadProcFn = void (*)(void*, const void*);

// Loads the installed bundle once and returns its SendMidiEvent as bound.
SendMidiEventFn boundSendMidiEvent() {
  static const SendMidiEventFn send = [] {
    setenv("CHIMEWICK_AUDIO_OUTPUT", "null", 0);
    if (!rb::LoadPlugin(PLAYBACK_BUNDLE))
      throw std::runtime_error("the plug-in host did not load the bundle");
    return reinterpret_cast<SendMidiEventFn>(
        rb::RuntimeLookupPluginEntrypoint(chimewick_test::PlaybackEntryNames()[3].c_str()));
  }();
  return send;
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
  const SendMidiEventFn send = boundSendMidiEvent();
  PlaybackObject object;
  if (!startOrSkip(object, state)) return;
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
  const SendMidiEventFn send = boundSendMidiEvent();
  PlaybackObject object;
  if (!startOrSkip(object, state)) return;
  for (auto _ : state) send(object.pointer(), 0xFE, 0, 0, 0);
  countNsPerCall(state, 1);
}
BENCHMARK(SendMidiEventIgnoredByTheUnit);

// A player's pace: a chord of eight notes on and off, then a pause (not
// timed) in which the output renders their release away.
void SendMidiEventFewVoicesSounding(benchmark::State& state) {
  const SendMidiEventFn send = boundSendMidiEvent();
  PlaybackObject object;
  if (!startOrSkip(object, state)) return;
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
  const SendMidiEventFn send = boundSendMidiEvent();
  PlaybackObject object;
  if (!startOrSkip(object, state)) return;
  auto read = reinterpret_cast<PlaybackReadProcFn>(object.callback());
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
  boundSendMidiEvent();  // the bundle loaded
  PlaybackObject object;
  auto read = reinterpret_cast<PlaybackReadProcFn>(object.callback());
  const std::vector<uint8_t> list =
      PacketList({{0xB2, 0x00, 0x05}, {0xB2, 0x20, 0x01, 0xF8}, {0xC2, 0x07}, {0x90, 0x3C, 0x64}});
  for (auto _ : state) read(object.pointer(), list.data());
  state.SetItemsProcessed(state.iterations() * 4);
}
BENCHMARK(PlaybackReadProcWithoutGraph);

void Init(benchmark::State& state) {
  boundSendMidiEvent();  // the bundle loaded
  PlaybackObject object;
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
