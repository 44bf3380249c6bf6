// What the output pulls every buffer: the synthesizer's sound through the
// filters that connect it to the output, with the CPU load measured.
#pragma once

#include <fluidsynth.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "PeakLimiter.h"

namespace chimewick::audio {

class LowPassFilter;

// An immutable description of one render pass, built on the UI thread.
struct RenderPlan {
  static constexpr int kMaxFilters = 8;
  fluid_synth_t* synth = nullptr;  // nullptr: silence
  std::array<LowPassFilter*, kMaxFilters> filters{};
  int filterCount = 0;
};

class RenderEngine {
 public:
  // The largest block one render pass produces; longer requests are cut.
  static constexpr int kMaxBlockFrames = 4096;

  RenderEngine();
  ~RenderEngine();
  RenderEngine(const RenderEngine&) = delete;
  RenderEngine& operator=(const RenderEngine&) = delete;

  // Replaces the plan. Once it returns, no render pass uses the old plan or
  // anything it pointed to. Control thread; waits at most one render pass.
  void publish(std::unique_ptr<RenderPlan> plan);

  // Renders frames (at most kMaxBlockFrames) into two planar buffers,
  // overwriting them, through the peak limiter last. Audio thread (one at a time); no lock, no allocation.
  void render(int frames, float* left, float* right) noexcept;

  // The FluidSynth driver callback; data is the engine. Audio thread.
  static int fluidCallback(void* data, int frames, int nfx, float* fx[], int nout, float* out[]) noexcept;

  // Render time over buffer time, smoothed over recent buffers. Any thread.
  float cpuLoad() const { return cpuLoad_.load(std::memory_order_relaxed); }
  // The frames of the last buffer the output asked for (0: none yet). Any thread.
  int lastBlockFrames() const { return lastBlockFrames_.load(std::memory_order_relaxed); }
  // Number of render passes so far. Any thread.
  uint64_t passes() const { return sequence_.load() / 2; }

  // The sample rate the CPU load is measured against. Control thread, while
  // no plan is published.
  void setSampleRate(double rate) {
    sampleRate_.store(rate);
    limiter_.configure(rate);
  }

 private:
  std::atomic<const RenderPlan*> plan_{nullptr};
  std::unique_ptr<RenderPlan> ownedPlan_;  // UI thread only
  // Odd while a render pass runs; lets publish() wait for the pass that may
  // still hold the old plan.
  std::atomic<uint64_t> sequence_{0};
  std::atomic<float> cpuLoad_{0.0f};
  std::atomic<int> lastBlockFrames_{0};
  std::atomic<double> sampleRate_{48000.0};
  PeakLimiter limiter_;  // audio thread, but for its sample rate
};

}  // namespace chimewick::audio
