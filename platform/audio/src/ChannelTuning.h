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
  // Caller's thread; the caller serialises calls per channel.
  std::optional<double> controlChange(uint32_t controller, uint32_t value);

 private:
  static constexpr uint32_t kNull = 127;
  uint32_t parameterMsb_ = kNull;
  uint32_t parameterLsb_ = kNull;
  bool nonRegistered_ = false;
  uint32_t dataMsb_ = 0;
  uint32_t dataLsb_ = 0;
};

}  // namespace chimewick::audio
