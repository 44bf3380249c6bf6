// The MIDI service classes' statuses in words, for messages to the player.
#pragma once

#include <cstdint>

#include "rb/String.h"

// Says what a MIDI client's nonzero Lasterror means, after the service that
// the layer's setting (CHIMEWICK_MIDI) picks: "no MIDI service: no ALSA
// sequencer and no JACK server" and the like. Empty for 0. Any thread.
rb::String MidiStatusText(int32_t status);
