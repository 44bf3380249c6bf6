// TEMPORARY: delete this file when Window1Life.cpp and Window1MidiInput.cpp
// exist. Empty stand-ins for the window's life and MIDI input handlers, so
// the core links meanwhile.
#include "Window1.h"

void Window1::Event_Open() {}
void Window1::Event_Close() {}
bool Window1::Event_CancelClose(bool) { return false; }
bool Window1::Event_MouseWheel(int32_t, int32_t, int32_t, int32_t) { return false; }
void Window1::openMidiClient() {}
void Window1::closeMidiClient() {}
void Window1::Log(const rb::String&) {}
void Window1::GetSources() {}
