// The direct road from a MIDI input to the synthesizer: a reader of whole
// packet lists that a MIDI port can call with the object it was given.
#pragma once

#include <cstddef>
#include <cstdint>

namespace MidiPlaybackZel {
// "Callback as integer": the address of PlaybackReadProc, pointer-sized so
// that it survives a 64-bit build. Sets nothing. Any thread.
intptr_t Callback(void* object) noexcept;
}  // namespace MidiPlaybackZel

// Reads a packet list laid out like the MIDI service's: UInt32 packet count,
// then packets back to back (UInt64 time stamp, UInt16 length, the bytes; no
// padding), cuts it into messages at status bytes, drops real-time bytes and
// dispatches every message. There is no running status. Allocates nothing,
// takes no lock. MIDI input thread (any thread).
void PlaybackReadProc(void* object, const void* packetList) noexcept;

// Sends one message's first three bytes (0 for missing ones) to the
// synthesizer, when there is one, and tracks bank select and program change
// in the channel table either way. byteCount says how many of message's bytes
// are valid; the synthesizer is told how many of the three were real, so
// that it ignores a message whose data bytes are missing. Any thread.
void DispatchMidiMessage(void* object, const uint8_t* message, std::size_t byteCount) noexcept;
