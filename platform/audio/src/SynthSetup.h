// A FluidSynth synthesizer set up as the synthesizer unit plays: XG bank
// select, a thread-safe API and the output gain chosen for TimGM6mb.
#pragma once

#include <optional>

#include "FluidHandles.h"

namespace chimewick::audio {

// FluidSynth's master gain for the synthesizer unit (FluidSynth's own
// default is 0.2); see SynthSetup.cpp for how it was chosen.
extern const double kSynthGain;

// A synthesizer and its settings. Teardown order: the synth before its settings.
struct FluidSynthPair {
  FluidSettingsPtr settings;
  FluidSynthPtr synth;
};

// Makes a synthesizer (no SoundFont yet) for a sample rate; nothing, with
// the reason on standard error, when FluidSynth cannot. Any thread but the
// audio thread.
std::optional<FluidSynthPair> makeFluidSynth(double sampleRate);

}  // namespace chimewick::audio
