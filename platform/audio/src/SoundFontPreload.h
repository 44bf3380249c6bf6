// The SoundFont loaded ahead of time: the plug-in starts the load when the
// program loads it, on a thread of its own, while the program builds its
// window; the first synthesizer unit that a graph opens takes the loaded
// synthesizer instead of loading the file again.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "SoundFontLoader.h"
#include "SynthSetup.h"

namespace chimewick::audio {

// A synthesizer with the SoundFont loaded, for the unit that takes it.
struct PreloadedSynth {
  FluidSynthPair fluid;
  LoadedSoundFont soundFont;
};

class SoundFontPreload {
 public:
  // Starts loading the configured SoundFont into a synthesizer at a sample
  // rate, unless a load has been started before. UI thread; does not wait.
  static void start(double sampleRate);

  // The preloaded synthesizer, once its load has ended, when it was made for
  // this SoundFont and rate and loaded it; nullptr when none was started,
  // it was taken already, or its load failed (the unit then loads the file
  // itself and says why). UI thread; waits for the load.
  static std::unique_ptr<PreloadedSynth> take(const std::string& path, double sampleRate);
};

}  // namespace chimewick::audio
