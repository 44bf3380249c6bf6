// The synthesizer's instruments: count, IDs, names, and that each ID
// selects exactly its preset.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

#include "GraphTestSupport.h"
#include "InstrumentCatalog.h"
#include "Registry.h"
#include "SynthUnit.h"

namespace chimewick::audio::testing {
namespace {

class Instruments : public OfflineRendering {};

uint32_t getUInt32(AudioUnit unit, uint32_t property, uint32_t element, OSStatus* status) {
  uint32_t value = 0;
  uint32_t size = sizeof value;
  *status = AudioUnitGetProperty(unit, property, kAudioUnitScope_Global, element, &value, &size);
  return value;
}

std::map<std::string, uint32_t> namesToIds(AudioUnit unit) {
  OSStatus status = 0;
  const uint32_t count = getUInt32(unit, kMusicDeviceProperty_InstrumentCount, 0, &status);
  EXPECT_EQ(status, 0);
  std::map<std::string, uint32_t> result;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t id = getUInt32(unit, kMusicDeviceProperty_InstrumentNumber, i, &status);
    EXPECT_EQ(status, 0);
    char name[256];
    uint32_t size = sizeof name;
    EXPECT_EQ(AudioUnitGetProperty(unit, kMusicDeviceProperty_InstrumentName, kAudioUnitScope_Global, id,
                                   name, &size),
              0);
    EXPECT_NE(std::memchr(name, 0, sizeof name), nullptr);
    result.emplace(name, id);
  }
  return result;
}

TEST_F(Instruments, ListsTheSoundFontsPresetsWithTheDefaultInstrumentsAndADrumKit) {
  PlayerGraph player;
  ASSERT_EQ(player.status, 0);
  const auto instruments = namesToIds(player.synth);
  EXPECT_EQ(instruments.size(), 136u);  // 128 melodic presets and 8 drum kits in TimGM6mb
  const std::map<std::string, uint32_t> expected = {
      {"Piano 1", 0x000000}, {"E.Piano 1", 0x000004}, {"Organ 1", 0x000010},
      {"Cello", 0x00002A},   {"Banjo", 0x000069},     {"Jazz", 0x780020},
  };
  for (const auto& [name, id] : expected) {
    ASSERT_TRUE(instruments.count(name)) << name;
    EXPECT_EQ(instruments.at(name), id) << name;
  }
}

TEST_F(Instruments, EveryIdSelectsExactlyItsPresetOnEveryKindOfChannel) {
  PlayerGraph player;
  ASSERT_EQ(player.status, 0);
  auto unit = std::dynamic_pointer_cast<SynthUnit>(Registry::instance().unit(player.synth));
  ASSERT_TRUE(unit);
  OSStatus status = 0;
  const uint32_t count = getUInt32(player.synth, kMusicDeviceProperty_InstrumentCount, 0, &status);
  // Channel 9 starts as a drum channel; the ID must override that both ways.
  for (uint32_t channel : {0u, 9u}) {
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t id = getUInt32(player.synth, kMusicDeviceProperty_InstrumentNumber, i, &status);
      player.select(id, channel);
      const auto [bank, program] = unit->channelPreset(int(channel));
      const int expectedBank = (id >> 16) >= kDrumBankMsb ? kDrumBank : int((id >> 8) & 0x7F);
      EXPECT_EQ(bank, expectedBank) << "ID " << std::hex << id << " channel " << channel;
      EXPECT_EQ(program, int(id & 0x7F)) << "ID " << std::hex << id << " channel " << channel;
    }
  }
}

TEST(InstrumentNames, ANameOfTheFullBufferIsCutToLeaveItsNul) {
  struct Case {
    size_t length;
    uint32_t bufferSize;
    size_t expectedLength;
  };
  for (const Case& c : {Case{256, 256, 255}, Case{300, 256, 255}, Case{255, 256, 255}, Case{10, 256, 10},
                        Case{10, 4, 3}, Case{10, 1, 0}, Case{0, 256, 0}, Case{256, 1000, 255}}) {
    const std::string name(c.length, 'x');
    std::vector<char> buffer(c.bufferSize + 16, '#');
    const uint32_t used = copyInstrumentName(name, buffer.data(), c.bufferSize);
    EXPECT_EQ(used, std::min<uint32_t>(c.bufferSize, 256)) << c.length << " into " << c.bufferSize;
    EXPECT_EQ(std::strlen(buffer.data()), c.expectedLength) << c.length << " into " << c.bufferSize;
    // The rest of the bytes used are zero; nothing past them (the buffer's
    // end, or 256 bytes) is touched.
    EXPECT_TRUE(
        std::all_of(buffer.begin() + c.expectedLength, buffer.begin() + used, [](char b) { return b == 0; }))
        << c.length << " into " << c.bufferSize;
    EXPECT_TRUE(std::all_of(buffer.begin() + used, buffer.end(), [](char b) { return b == '#'; }))
        << c.length << " into " << c.bufferSize;
  }
}

TEST(InstrumentNames, IdsFollowTheXgBankSelectStyle) {
  struct Case {
    int bank, program;
    std::optional<uint32_t> id;
  };
  for (const Case& c : {Case{0, 0, 0x000000u}, Case{0, 127, 0x00007Fu}, Case{8, 4, 0x000804u},
                        Case{127, 1, 0x007F01u}, Case{128, 32, 0x780020u}, Case{129, 0, std::nullopt},
                        Case{0, 128, std::nullopt}, Case{-1, 0, std::nullopt}}) {
    EXPECT_EQ(instrumentIdOf(c.bank, c.program), c.id) << c.bank << ":" << c.program;
  }
}

}  // namespace
}  // namespace chimewick::audio::testing
