// The SoundFont's presets as instruments: a stable order (bank, then
// program), each with the Instrument ID that selects it under XG bank select.
#pragma once

#include <fluidsynth.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace chimewick::audio {

struct Instrument {
  uint32_t id = 0;
  int bank = 0;
  int program = 0;
  std::string name;
};

// The SoundFont bank of drum kits.
constexpr int kDrumBank = 128;
// The bank select MSB that makes a channel a drum channel under XG.
constexpr uint32_t kDrumBankMsb = 120;
// A property's name buffer, NUL included.
constexpr uint32_t kInstrumentNameSize = 256;

// The Instrument ID of a SoundFont preset: melodic bank b is MSB 0, LSB b;
// the drum bank is MSB 120, LSB 0. Nothing for banks XG cannot select.
std::optional<uint32_t> instrumentIdOf(int bank, int program);

// Reads the presets of a loaded SoundFont. Control thread.
std::vector<Instrument> readInstruments(fluid_sfont_t* soundFont);

// Copies a name into a buffer of size bytes (at most kInstrumentNameSize are
// used), cut so that a NUL always ends it; the rest is zero-filled. Returns
// the bytes used. Any thread.
uint32_t copyInstrumentName(std::string_view name, char* buffer, uint32_t size);

}  // namespace chimewick::audio
