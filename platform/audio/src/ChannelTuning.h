// Per-channel registered-parameter state, kept beside FluidSynth's so that
// fine tuning can be read our way: data entry MSB d is d/64 semitone above
// the coarse tuning (0 = no offset), where the MIDI standard centres it on 64.
#pragma once

#include <cstdint>
#include <optional>

namespace chimewick::audio {

class ChannelTuning {
 public:
  // Takes one controller change (both bytes within 0..127). Returns the fine
  // tuning in cents when the change is a fine-tuning data entry, which the
  // caller then applies instead of passing the change on; nothing otherwise.
  // Caller's thread. The state is one 8-byte value, so that a caller can
  // keep it in a lock-free atomic and change it by compare-and-swap.
  std::optional<double> controlChange(uint32_t controller, uint32_t value);

 private:
  static constexpr uint8_t kNull = 127;
  uint8_t parameterMsb_ = kNull;
  uint8_t parameterLsb_ = kNull;
  uint8_t nonRegistered_ = 0;
  uint8_t dataMsb_ = 0;
  uint8_t dataLsb_ = 0;
  uint8_t spare_[3] = {0, 0, 0};  // no padding: compared byte for byte
};

static_assert(sizeof(ChannelTuning) == 8);

}  // namespace chimewick::audio
