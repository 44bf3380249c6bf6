// The ALSA sequencer backend over any AlsaSequencer: the real one for the
// program (openAlsaClient in MidiService.h), a fake one for tests.
#pragma once

#include <cstdint>
#include <memory>

#include "AlsaSequencer.h"
#include "MidiService.h"

namespace chimewick::midi {

// Events the kernel keeps for the client between two reads: its largest
// input pool, so that a burst (a sequencer flushing, a controller sweep)
// fits while the input thread catches up.
constexpr int kAlsaInputPoolEvents = 2000;

// Opens a client on sequencer (named already): one sequencer client whose
// only visible port is each input port; System Announce comes in through a
// hidden port of the same client. Null with status set on failure. UI thread.
std::shared_ptr<ServiceClient> openAlsaClientOn(std::unique_ptr<AlsaSequencer> sequencer,
                                                ClientListener& listener, int32_t& status);

}  // namespace chimewick::midi
