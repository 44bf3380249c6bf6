#include "InstrumentCatalog.h"

#include <algorithm>
#include <cstring>

namespace chimewick::audio {

std::optional<uint32_t> instrumentIdOf(int bank, int program) {
  if (program < 0 || program > 127) return std::nullopt;
  if (bank == kDrumBank) return (kDrumBankMsb << 16) | uint32_t(program);
  if (bank < 0 || bank > 127) return std::nullopt;
  return (uint32_t(bank) << 8) | uint32_t(program);
}

std::vector<Instrument> readInstruments(fluid_sfont_t* soundFont) {
  std::vector<Instrument> instruments;
  fluid_sfont_iteration_start(soundFont);
  while (fluid_preset_t* preset = fluid_sfont_iteration_next(soundFont)) {
    const int bank = fluid_preset_get_banknum(preset);
    const int program = fluid_preset_get_num(preset);
    const std::optional<uint32_t> id = instrumentIdOf(bank, program);
    if (!id) continue;
    const char* name = fluid_preset_get_name(preset);
    instruments.push_back(Instrument{*id, bank, program, name != nullptr ? name : ""});
  }
  std::stable_sort(instruments.begin(), instruments.end(), [](const Instrument& a, const Instrument& b) {
    return a.bank != b.bank ? a.bank < b.bank : a.program < b.program;
  });
  // FluidSynth plays the first of two presets with one bank and program.
  instruments.erase(std::unique(instruments.begin(), instruments.end(),
                                [](const Instrument& a, const Instrument& b) { return a.id == b.id; }),
                    instruments.end());
  return instruments;
}

uint32_t copyInstrumentName(std::string_view name, char* buffer, uint32_t size) {
  const uint32_t used = std::min(size, kInstrumentNameSize);
  if (used == 0) return 0;
  const size_t length = std::min<size_t>(name.size(), used - 1);
  std::memcpy(buffer, name.data(), length);
  std::memset(buffer + length, 0, used - length);
  return used;
}

}  // namespace chimewick::audio
