// Prints what our graph costs: its render time (synthesizer, low-pass
// filter, peak limiter) against FluidSynth alone (same SoundFont, same
// settings and gain, same 32 voices, same block size), and the
// time to bring a graph up on the null output.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <numeric>
#include <vector>

#include "AudioToolboxTesting.h"
#include "FluidHandles.h"
#include "Registry.h"
#include "SynthSetup.h"
#include "SynthUnit.h"

namespace {

using Clock = std::chrono::steady_clock;
using chimewick::audio::FluidSettingsPtr;
using chimewick::audio::FluidSynthPtr;

constexpr int kBlockFrames = 256;
// Short alternating runs, so that both sides meet the same machine load;
// the median of the per-round ratios is the figure.
constexpr int kBlocksPerRun = 50;
constexpr int kRuns = 200;
constexpr int kVoices = 32;
constexpr double kRate = 48000.0;
constexpr const char* kDefaultSoundFont = CHIMEWICK_DEFAULT_SOUNDFONT;

struct Graph {
  AUGraph graph = 0;
  AUNode synthNode = 0, filterNode = 0, outputNode = 0;
  AudioUnit synth = 0;

  bool build() {
    uint32_t off = 0;
    return NewAUGraph(&graph) == 0 &&
           AUGraphNewNode(graph, &kDLSSynthDescription, 0, nullptr, &synthNode) == 0 &&
           AUGraphNewNode(graph, &kLowPassFilterDescription, 0, nullptr, &filterNode) == 0 &&
           AUGraphNewNode(graph, &kDefaultOutputDescription, 0, nullptr, &outputNode) == 0 &&
           AUGraphConnectNodeInput(graph, synthNode, 1, filterNode, 0) == 0 &&
           AUGraphConnectNodeInput(graph, filterNode, 0, outputNode, 0) == 0 &&
           AUGraphUpdate(graph, nullptr) == 0 && AUGraphOpen(graph) == 0 && AUGraphInitialize(graph) == 0 &&
           AUGraphGetNodeInfo(graph, synthNode, nullptr, nullptr, nullptr, &synth) == 0 &&
           AudioUnitSetProperty(synth, kMusicDeviceProperty_UsesInternalReverb, 0, 0, &off, 4) == 0 &&
           AUGraphStart(graph) == 0;
  }
  ~Graph() {
    for (AUNode node : {synthNode, filterNode, outputNode})
      if (node != 0) AUGraphRemoveNode(graph, node);
    AUGraphStop(graph);
    AUGraphUninitialize(graph);
    DisposeAUGraph(graph);
  }
};

// FluidSynth on its own, set up as our synthesizer unit sets up its own.
struct PlainSynth {
  FluidSettingsPtr settings{new_fluid_settings()};
  FluidSynthPtr synth;
  bool build() {
    const char* path = std::getenv("CHIMEWICK_SOUNDFONT");
    fluid_settings_setnum(settings.get(), "synth.sample-rate", kRate);
    fluid_settings_setnum(settings.get(), "synth.gain", chimewick::audio::kSynthGain);
    fluid_settings_setstr(settings.get(), "synth.midi-bank-select", "xg");
    synth.reset(new_fluid_synth(settings.get()));
    fluid_synth_reverb_on(synth.get(), -1, 0);
    return synth &&
           fluid_synth_sfload(synth.get(), path != nullptr ? path : kDefaultSoundFont, 1) != FLUID_FAILED;
  }
};

// Strikes organ notes (they sustain) until kVoices voices sound.
template <typename NoteOn>
int strikeVoices(fluid_synth_t* synth, NoteOn noteOn) {
  int key = 36;
  while (fluid_synth_get_active_voice_count(synth) < kVoices && key < 100) noteOn(key++);
  return fluid_synth_get_active_voice_count(synth);
}

double secondsOf(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The CPU time this thread has used: unlike the wall clock, it leaves out
// the time other processes of a busy machine take the core away.
double threadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return double(now.tv_sec) + 1e-9 * double(now.tv_nsec);
}

}  // namespace

int main() {
  AudioSetOfflineRenderingForTesting(true);
  Graph ours;
  if (!ours.build()) {
    std::fprintf(stderr, "the graph does not start\n");
    return 1;
  }
  auto unit = std::dynamic_pointer_cast<chimewick::audio::SynthUnit>(
      chimewick::audio::Registry::instance().unit(ours.synth));
  PlainSynth plain;
  if (!unit || !plain.build()) {
    std::fprintf(stderr, "FluidSynth alone does not start\n");
    return 1;
  }
  MusicDeviceMIDIEvent(ours.synth, 0xC0, 16, 0, 0);
  fluid_synth_program_change(plain.synth.get(), 0, 16);
  fluid_synth_t* ourSynth = unit->synth();
  // One render pass so that the notes start sounding as voices.
  std::vector<float> interleaved(2 * kBlockFrames), left(kBlockFrames), right(kBlockFrames);
  const int ourVoices = strikeVoices(ourSynth, [&](int key) {
    MusicDeviceMIDIEvent(ours.synth, 0x90, uint32_t(key), 100, 0);
    AUGraphRenderOffline(ours.graph, kBlockFrames, interleaved.data());
  });
  const int plainVoices = strikeVoices(plain.synth.get(), [&](int key) {
    fluid_synth_noteon(plain.synth.get(), 0, key, 100);
    float* out[2] = {left.data(), right.data()};
    fluid_synth_process(plain.synth.get(), kBlockFrames, 2, out, 2, out);
  });

  std::vector<double> ourTimes, plainTimes, ourCpu, plainCpu;
  for (int run = 0; run < kRuns; ++run) {
    Clock::time_point start = Clock::now();
    double cpuStart = threadCpuSeconds();
    for (int i = 0; i < kBlocksPerRun; ++i)
      AUGraphRenderOffline(ours.graph, kBlockFrames, interleaved.data());
    ourTimes.push_back(secondsOf(Clock::now() - start));
    ourCpu.push_back(threadCpuSeconds() - cpuStart);
    start = Clock::now();
    cpuStart = threadCpuSeconds();
    for (int i = 0; i < kBlocksPerRun; ++i) {
      std::fill(left.begin(), left.end(), 0.0f);
      std::fill(right.begin(), right.end(), 0.0f);
      float* out[2] = {left.data(), right.data()};
      fluid_synth_process(plain.synth.get(), kBlockFrames, 2, out, 2, out);
    }
    plainTimes.push_back(secondsOf(Clock::now() - start));
    plainCpu.push_back(threadCpuSeconds() - cpuStart);
  }
  std::vector<double> ratios, cpuRatios;
  for (int run = 0; run < kRuns; ++run) {
    ratios.push_back(ourTimes[run] / plainTimes[run]);
    cpuRatios.push_back(ourCpu[run] / plainCpu[run]);
  }
  std::sort(ratios.begin(), ratios.end());
  std::sort(cpuRatios.begin(), cpuRatios.end());
  const double ourCpuTotal = std::accumulate(ourCpu.begin(), ourCpu.end(), 0.0);
  const double plainCpuTotal = std::accumulate(plainCpu.begin(), plainCpu.end(), 0.0);
  const double ourBest = *std::min_element(ourTimes.begin(), ourTimes.end());
  const double plainBest = *std::min_element(plainTimes.begin(), plainTimes.end());
  const double bufferSeconds = kBlocksPerRun * kBlockFrames / kRate;
  std::printf("voices: ours %d, FluidSynth alone %d (still %d and %d after the runs)\n", ourVoices,
              plainVoices, fluid_synth_get_active_voice_count(ourSynth),
              fluid_synth_get_active_voice_count(plain.synth.get()));
  std::printf(
      "render, %d-frame blocks: ours %.3f us/block (load %.4f), FluidSynth alone %.3f us/block (load %.4f)\n",
      kBlockFrames, 1e6 * ourBest / kBlocksPerRun, ourBest / bufferSeconds, 1e6 * plainBest / kBlocksPerRun,
      plainBest / bufferSeconds);
  std::printf(
      "render cost ratio (ours / FluidSynth alone): median %.4f, quartiles %.4f..%.4f, best runs %.4f "
      "(goal <= 1.05)\n",
      ratios[kRuns / 2], ratios[kRuns / 4], ratios[3 * kRuns / 4], ourBest / plainBest);
  std::printf(
      "render cost ratio by thread CPU time: median %.4f, quartiles %.4f..%.4f, all runs together %.4f (goal "
      "<= 1.05)\n",
      cpuRatios[kRuns / 2], cpuRatios[kRuns / 4], cpuRatios[3 * kRuns / 4], ourCpuTotal / plainCpuTotal);
  float load = 0.0f;
  AUGraphGetCPULoad(ours.graph, &load);
  std::printf("AUGraphGetCPULoad after the runs: %.4f\n", load);
  AudioSetOfflineRenderingForTesting(false);

  // Init: from NewAUGraph to a graph started on the null output.
  setenv("CHIMEWICK_AUDIO_OUTPUT", "null", 1);
  std::vector<double> initTimes;
  for (int run = 0; run < 5; ++run) {
    const Clock::time_point start = Clock::now();
    auto graph = std::make_unique<Graph>();
    if (!graph->build()) return 1;
    initTimes.push_back(1e3 * secondsOf(Clock::now() - start));
  }
  std::sort(initTimes.begin(), initTimes.end());
  std::printf("init (SoundFont loaded, graph started on null): median %.1f ms, best %.1f ms\n", initTimes[2],
              initTimes[0]);
  return 0;
}
