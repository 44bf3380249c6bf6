// Follows one source's MIDI stream and remembers which notes it holds down
// and on which channels its sustain pedal is down, so that the notes can be
// released when the source goes away.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <span>

#include "MidiPacketData.h"

namespace chimewick::midi {

class NoteTracker {
 public:
  // Reads bytes as the continuation of the stream (running status, system
  // exclusive and real-time bytes included). Any malformed input is skipped.
  void observe(std::span<const uint8_t> bytes) noexcept;

  // Adds to out one packet per message that silences what is held: a note-off
  // (velocity 0) for every held note, then controller 64 value 0 for every
  // channel whose pedal is down; then forgets it all.
  void releaseAll(PacketData& out);

  bool holdsAnything() const noexcept;

 private:
  void message(uint8_t status, uint8_t data1, uint8_t data2) noexcept;

  std::array<std::bitset<128>, 16> held_{};
  std::bitset<16> sustained_{};
  uint8_t runningStatus_ = 0;
  uint8_t data_[2] = {0, 0};
  uint8_t dataCount_ = 0;
  bool inSysEx_ = false;
};

// Number of data bytes of a channel-message status (0x80..0xEF).
constexpr int channelDataBytes(uint8_t status) noexcept {
  const uint8_t kind = status & 0xF0;
  return (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
}

}  // namespace chimewick::midi
