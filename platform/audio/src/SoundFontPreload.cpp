#include "SoundFontPreload.h"

#include <pthread.h>

#include <mutex>
#include <thread>

#include "AudioLog.h"

namespace chimewick::audio {

namespace {

// Seen in /proc and debuggers while the load runs.
constexpr const char* kThreadName = "SoundFont load";

struct Preload {
  std::mutex mutex;
  bool started = false;
  std::string path;
  double sampleRate = 0.0;
  std::unique_ptr<PreloadedSynth> result;  // written by the thread, read after joining it
  std::thread thread;

  ~Preload() {
    // A program that never opened a graph (or quit during the load).
    if (thread.joinable()) thread.join();
  }
};

Preload& preload() {
  static Preload state;
  return state;
}

// The loading thread. It says nothing: a SoundFont that cannot be loaded is
// reported by the unit that then tries it itself, on the UI thread.
void load(Preload& state) noexcept {
  const QuietThreadScope quiet;
  std::optional<FluidSynthPair> fluid = makeFluidSynth(state.sampleRate);
  if (!fluid) return;
  std::optional<LoadedSoundFont> soundFont = loadSoundFont(fluid->synth.get(), state.path);
  if (!soundFont) return;
  state.result = std::make_unique<PreloadedSynth>(PreloadedSynth{std::move(*fluid), std::move(*soundFont)});
}

}  // namespace

void SoundFontPreload::start(double sampleRate) {
  Preload& state = preload();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.started) return;
  state.started = true;
  state.path = configuredSoundFontPath();
  state.sampleRate = sampleRate;
  installFluidLogger();
  try {
    state.thread = std::thread(load, std::ref(state));
    pthread_setname_np(state.thread.native_handle(), kThreadName);
  } catch (const std::system_error&) {
    // No thread to spare: the unit loads the file when it is made.
  }
}

std::unique_ptr<PreloadedSynth> SoundFontPreload::take(const std::string& path, double sampleRate) {
  Preload& state = preload();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.thread.joinable()) state.thread.join();
  // One load is ever made: a synthesizer for another SoundFont or rate
  // would never be taken.
  if (state.path != path || state.sampleRate != sampleRate) state.result.reset();
  return std::move(state.result);
}

}  // namespace chimewick::audio
