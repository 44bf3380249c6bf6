#include "SynthSetup.h"

#include "AudioLog.h"

namespace chimewick::audio {

// Chosen by rendering TimGM6mb through the whole graph (synthesizer, low-pass
// filter, limiter) offline at 48 kHz; OutputLevel_test.cpp keeps the figures.
// At FluidSynth's default 0.2 a single velocity-100 "Piano 1" A4 at channel
// volume 64 (the program's default Volume) peaks at -40.5 dBFS, far quieter
// than the original platform's synthesizer: players had to turn the system
// volume far up. 3.2 (+24 dB) brings that note to -16.4 dBFS, inside -18..-12
// dBFS with room below for the piano's louder notes. No gain can also keep a
// ten-note velocity-127 chord at volume 127 under full scale (at 3.2 such
// chords would peak at +10.1 dBFS on "Piano 1", +14.2 on "Organ 1" and +21.3
// on the "Jazz" kit, 38 dB above the single note), so the peak limiter at the
// end of the render holds them at -1 dBFS.
const double kSynthGain = 3.2;

std::optional<FluidSynthPair> makeFluidSynth(double sampleRate) {
  FluidSynthPair pair;
  pair.settings.reset(new_fluid_settings());
  if (!pair.settings) {
    logLine("FluidSynth cannot make its settings");
    return std::nullopt;
  }
  fluid_settings_t* settings = pair.settings.get();
  fluid_settings_setnum(settings, "synth.sample-rate", sampleRate);
  fluid_settings_setnum(settings, "synth.gain", kSynthGain);
  // MSB 120 and above make a drum channel, LSB picks the melodic bank.
  fluid_settings_setstr(settings, "synth.midi-bank-select", "xg");
  fluid_settings_setint(settings, "synth.threadsafe-api", 1);
  pair.synth.reset(new_fluid_synth(settings));
  if (!pair.synth) {
    logLine("FluidSynth cannot make a synthesizer");
    return std::nullopt;
  }
  return pair;
}

}  // namespace chimewick::audio
