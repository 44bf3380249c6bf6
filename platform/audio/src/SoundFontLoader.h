// Loading the SoundFont into a synthesizer, with the reason on standard error
// when it cannot be done.
#pragma once

#include <fluidsynth.h>

#include <optional>
#include <string>
#include <vector>

#include "InstrumentCatalog.h"

namespace chimewick::audio {

// The SoundFont the layer's setting names: CHIMEWICK_SOUNDFONT, or
// /usr/share/sounds/sf2/TimGM6mb.sf2 when it is unset or empty. Any thread.
std::string configuredSoundFontPath();

// A SoundFont loaded into a synthesizer: its FluidSynth ID and its presets.
struct LoadedSoundFont {
  int id = -1;
  std::vector<Instrument> instruments;
};

// Loads the SoundFont at path into synth; nothing, with the reason on
// standard error, when it is missing, empty, unreadable or holds no
// instrument. Any thread but the audio thread; waits for the load.
std::optional<LoadedSoundFont> loadSoundFont(fluid_synth_t* synth, const std::string& path);

}  // namespace chimewick::audio
