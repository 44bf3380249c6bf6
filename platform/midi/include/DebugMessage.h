// The MIDI service classes' trace output (standard error), on by default.
#pragma once

#include "rb/String.h"

// Writes message as one trace line when traces are on. Any thread.
void DebugMessageZel(const rb::String& message);

// Switches traces on or off for the whole process. Any thread.
void DebugMessageEnableZel(bool activate);

// Whether traces are on, so that a caller can skip building their text.
// Any thread.
bool DebugMessagesEnabled() noexcept;
