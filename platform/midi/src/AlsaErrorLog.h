// ALSA's own error lines ("ALSA lib seq_hw.c:...") go through the MIDI
// layer's logger, so that standard error speaks with one voice.
#pragma once

namespace chimewick::midi {

// Installs the handler (once per process; later calls do nothing). Any
// thread; never waits after the first call.
void routeAlsaErrorsToLog() noexcept;

}  // namespace chimewick::midi
