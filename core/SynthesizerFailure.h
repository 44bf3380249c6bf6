// What the main window tells the player when the playback object's Init
// fails: what the synthesizer lacks on this system, in the program's words.
#pragma once

#include <cstdint>

#include "rb/String.h"

// The audio system's statuses that the playback object passes on in its
// Lasterror after a failed Init, as the program tells them apart. They are
// the audio layer's own numbers; the program includes none of its headers.
constexpr int32_t kSynthesizerStatusSoundFont = -10871;  // the SoundFont cannot be loaded
constexpr int32_t kSynthesizerStatusNoOutput = -10872;   // no audio output opens

// The message for a failed Init with this Lasterror, e.g. "Chimewick could not
// start its synthesizer: the SoundFont /path is missing or unreadable.". It
// names the audio layer's settings (CHIMEWICK_SOUNDFONT,
// CHIMEWICK_AUDIO_OUTPUT) as that layer reads them. UI thread.
rb::String SynthesizerFailureMessage(int32_t lasterror);
