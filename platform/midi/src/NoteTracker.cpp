#include "NoteTracker.h"

namespace chimewick::midi {

void NoteTracker::observe(std::span<const uint8_t> bytes) noexcept {
  for (const uint8_t b : bytes) {
    if (b >= 0xF8) continue;  // real time: interleaves anywhere, changes nothing
    if (b & 0x80) {
      dataCount_ = 0;
      inSysEx_ = (b == 0xF0);
      // System common messages cancel running status; their data is skipped.
      runningStatus_ = (b < 0xF0) ? b : 0;
      continue;
    }
    if (inSysEx_ || runningStatus_ == 0) continue;
    data_[dataCount_++] = b;
    if (dataCount_ == channelDataBytes(runningStatus_)) {
      message(runningStatus_, data_[0], dataCount_ > 1 ? data_[1] : 0);
      dataCount_ = 0;
    }
  }
}

void NoteTracker::message(uint8_t status, uint8_t data1, uint8_t data2) noexcept {
  const uint8_t channel = status & 0x0F;
  switch (status & 0xF0) {
    case 0x90:
      held_[channel].set(data1, data2 != 0);
      break;
    case 0x80:
      held_[channel].reset(data1);
      break;
    case 0xB0:
      if (data1 == 64) sustained_.set(channel, data2 >= 64);
      // All notes off and all sound off end every note of the channel.
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
  runningStatus_ = 0;
  dataCount_ = 0;
  inSysEx_ = false;
}

bool NoteTracker::holdsAnything() const noexcept {
  if (sustained_.any()) return true;
  for (const auto& notes : held_)
    if (notes.any()) return true;
  return false;
}

}  // namespace chimewick::midi
