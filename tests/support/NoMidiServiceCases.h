// The MIDI settings whose service is missing on a machine with no ALSA
// sequencer and no JACK server, and the words that say so: the MIDI layer's
// tests and the window's start-up messages check the same table.
#pragma once

namespace chimewick_test {

struct NoMidiServiceCase {
  const char* setting;    // CHIMEWICK_MIDI
  bool needsNoSequencer;  // the case holds only where no ALSA sequencer runs
  const char* words;      // what the status reads as
};

inline constexpr NoMidiServiceCase kNoMidiServiceCases[] = {
    {"no-such-service", false, "no MIDI service: CHIMEWICK_MIDI names none of auto, alsa, jack and virtual"},
    {"alsa", true, "no MIDI service: no ALSA sequencer"},
    {"jack", false, "no MIDI service: no JACK server"},
    {"auto", true, "no MIDI service: no ALSA sequencer and no JACK server"},
};

}  // namespace chimewick_test
