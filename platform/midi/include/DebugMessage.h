// The MIDI service classes' trace output (standard error), on by default.
#pragma once

#include "rb/String.h"

// Writes message as one trace line when traces are on. Any thread; on
// JACK's real-time thread (a Read there) traces are always off.
void DebugMessageZel(const rb::String& message);

// Switches traces on or off for the whole process. Any thread.
void DebugMessageEnableZel(bool activate);

// Whether traces are on for the calling thread, so that a caller can skip
// building their text: never on JACK's real-time thread. Any thread.
bool DebugMessagesEnabled() noexcept;
