#include "NoteTracker.h"

namespace chimewick::midi {

void NoteTracker::observe(std::span<const uint8_t> packet) noexcept {
  const uint8_t status = packet.size() > 0 ? packet[0] : 0;
  const uint8_t data1 = packet.size() > 1 ? packet[1] : 0;
  const uint8_t data2 = packet.size() > 2 ? packet[2] : 0;
  if (status < 0x80 || status > 0xEF || data1 > 0x7F) return;
  const uint8_t channel = status & 0x0F;
  switch (status & 0xF0) {
    case 0x90:
      // A velocity beyond 127 is refused by the synthesizer: nothing sounds.
      if (data2 == 0)
        held_[channel].reset(data1);
      else if (data2 <= 0x7F)
        held_[channel].set(data1);
      break;
    case 0x80:
      held_[channel].reset(data1);
      break;
    case 0xB0:
      if (data2 > 0x7F) break;
      if (data1 == 64) sustained_.set(channel, data2 >= 64);
      // All sound off and all notes off end every note of the channel.
      if (data1 == 120 || data1 == 123) held_[channel].reset();
      break;
    default:
      break;
  }
}

void NoteTracker::releaseAll(PacketData& out) {
  for (uint8_t channel = 0; channel < 16; ++channel) {
    for (uint8_t note = 0; note < 128; ++note) {
      if (!held_[channel].test(note)) continue;
      const uint8_t off[3] = {uint8_t(0x80 | channel), note, 0};
      out.add(off);
    }
  }
  for (uint8_t channel = 0; channel < 16; ++channel) {
    if (!sustained_.test(channel)) continue;
    const uint8_t pedalUp[3] = {uint8_t(0xB0 | channel), 64, 0};
    out.add(pedalUp);
  }
  held_ = {};
  sustained_.reset();
}

bool NoteTracker::holdsAnything() const noexcept {
  if (sustained_.any()) return true;
  for (const auto& notes : held_)
    if (notes.any()) return true;
  return false;
}

}  // namespace chimewick::midi
