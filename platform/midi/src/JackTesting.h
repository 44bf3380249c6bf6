// Test seams of the JACK MIDI backend.
#pragma once

#include <chrono>

namespace chimewick::midi {

// Delays the handling of each port-removal notice on JACK's notification
// thread, as a busy machine does. 0 switches it off. Any thread.
void setJackNoticeDelayForTesting(std::chrono::milliseconds delay);

}  // namespace chimewick::midi
