// Gives the calling MIDI input thread a real-time (SCHED_FIFO) priority
// below JACK's and the audio driver's, when the system allows it, so that a
// busy desktop does not delay a note. Without the permission nothing changes.
// Input thread; never waits.
#pragma once

namespace chimewick::midi {

void raiseInputThreadPriority() noexcept;

}  // namespace chimewick::midi
