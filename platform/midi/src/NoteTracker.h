// Follows what one source's packets play on the synthesizer and remembers
// which notes it holds down and on which channels its sustain pedal is down,
// so that they can be released when the source goes away.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <span>

#include "MidiPacketData.h"

namespace chimewick::midi {

class NoteTracker {
 public:
  // Reads one packet as the port's Read handler plays it: its first message
  // only, taken from its first three bytes (missing data bytes count as 0, no
  // running status from an earlier packet), and only where the synthesizer
  // takes it (a channel message with data bytes below 128). Everything else
  // in the packet never reaches the synthesizer, so it changes nothing here.
  void observe(std::span<const uint8_t> packet) noexcept;

  // Adds to out one packet per message that silences what is held: a note-off
  // (velocity 0) for every held note, then controller 64 value 0 for every
  // channel whose pedal is down; then forgets it all.
  void releaseAll(PacketData& out);

  bool holdsAnything() const noexcept;

 private:
  std::array<std::bitset<128>, 16> held_{};
  std::bitset<16> sustained_{};
};

}  // namespace chimewick::midi
