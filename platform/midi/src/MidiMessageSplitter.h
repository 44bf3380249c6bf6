// Cuts the bytes of one packet into one packet per message, so that every
// message stands on its own: running status is written out, real-time bytes
// become packets of their own wherever they fall, and a system exclusive
// message stays whole.
#pragma once

#include <cstdint>
#include <span>

#include "MidiPacketData.h"

namespace chimewick::midi {

// Appends to out one packet per complete or trailing message of bytes. A
// message cut short keeps the bytes it has; data bytes before the first
// status byte (the rest of a system exclusive message begun in an earlier
// packet) are kept together as they came, up to and with an 0xF7; other data
// bytes without a status before them are dropped. A real-time byte inside a
// message comes before that message. Never reads past bytes.
void splitMessages(std::span<const uint8_t> bytes, PacketData& out);

}  // namespace chimewick::midi
