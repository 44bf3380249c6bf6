// Cuts a byte stream that starts on a status byte into one packet per message,
// so that every packet begins with its own status.
#pragma once

#include <cstdint>
#include <span>

#include "MidiPacketData.h"

namespace chimewick::midi {

// Appends to out one packet per complete or trailing message of bytes.
// A message cut short keeps the bytes it has; data bytes without a status
// before them are dropped. Never reads past bytes.
void splitMessages(std::span<const uint8_t> bytes, PacketData& out);

}  // namespace chimewick::midi
