#include "RenderEngine.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "AudioLog.h"
#include "LowPassFilter.h"

namespace chimewick::audio {

RenderEngine::RenderEngine() = default;

RenderEngine::~RenderEngine() { publish(nullptr); }

void RenderEngine::publish(std::unique_ptr<RenderPlan> plan) {
  plan_.store(plan.get());
  const uint64_t seen = sequence_.load();
  if (seen % 2 == 1) {
    // A pass that started before the store may still read the old plan.
    while (sequence_.load() == seen) std::this_thread::yield();
  }
  ownedPlan_ = std::move(plan);
}

void RenderEngine::render(int frames, float* left, float* right) noexcept {
  const RenderThreadScope quiet;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point started = Clock::now();
  frames = std::clamp(frames, 0, kMaxBlockFrames);
  sequence_.fetch_add(1);
  const RenderPlan* plan = plan_.load();
  std::fill(left, left + frames, 0.0f);
  std::fill(right, right + frames, 0.0f);
  if (plan != nullptr && plan->synth != nullptr) {
    // Effects (chorus, and reverb when on) mix into the same two buffers.
    float* dry[2] = {left, right};
    float* effects[2] = {left, right};
    fluid_synth_process(plan->synth, frames, 2, effects, 2, dry);
    for (int i = 0; i < plan->filterCount; ++i) plan->filters[i]->process(left, right, frames);
  }
  limiter_.process(left, right, frames);
  sequence_.fetch_add(1);

  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  const double bufferSeconds = frames / sampleRate_.load(std::memory_order_relaxed);
  if (bufferSeconds > 0.0) {
    const float load = static_cast<float>(seconds / bufferSeconds);
    const float previous = cpuLoad_.load(std::memory_order_relaxed);
    cpuLoad_.store(previous == 0.0f ? load : previous + 0.1f * (load - previous), std::memory_order_relaxed);
  }
  lastBlockFrames_.store(frames, std::memory_order_relaxed);
}

int RenderEngine::fluidCallback(void* data, int frames, int, float*[], int nout, float* out[]) noexcept {
  auto* engine = static_cast<RenderEngine*>(data);
  if (nout < 2 || frames <= 0) return 0;
  for (int done = 0; done < frames;) {
    const int block = std::min(frames - done, kMaxBlockFrames);
    engine->render(block, out[0] + done, out[1] + done);
    done += block;
  }
  // Further outputs (a JACK driver may offer more ports) stay silent.
  for (int i = 2; i < nout; ++i) std::fill(out[i], out[i] + frames, 0.0f);
  return 0;
}

}  // namespace chimewick::audio
