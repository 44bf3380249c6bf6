// The MIDI input thread reads packet lists and sends events into an object
// while the UI thread selects instruments and reads the channel table and the
// load: neither waits on the other and both end with a consistent table.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "BundleTest.h"

namespace {

class Concurrency : public BundleTest {};

TEST_P(Concurrency, MidiInputThreadAndUiThreadShareAnObjectWithoutLocks) {
  PlaybackObject object;
  ASSERT_TRUE(object.init());

  // The real synthesizer starts voices for every note: fewer rounds there.
  const int kRounds = GetParam() == AudioKind::Fake ? 3000 : 300;
  std::atomic<bool> midiDone{false};
  std::thread midiInput([&] {
    for (int i = 0; i < kRounds; ++i) {
      const auto v = static_cast<uint8_t>(i & 0x7F);
      object.readPackets(PacketList(
          {{0xB5, 0x00, v, 0xB5, 0x20, 0x01}, {0xC5, 0x02, 0x95, 0x3C, 0x40}, {0xF8, 0x85, 0x3C, 0x00}}));
      object.sendMidiEvent(0x97, 0x40, 0x30, 0);
      object.sendMidiEvent(0x87, 0x40, 0x00, 0);
    }
    midiDone = true;
  });
  int32_t lastSelected = 0;
  while (!midiDone) {
    for (int i = 0; i < 50; ++i) {
      lastSelected = (i << 8) | 3;
      object.setInstrumentIDOnChannel(6, lastSelected);
      const int32_t seen = object.instrumentIDOnChannel(5);
      EXPECT_EQ(seen & ~0x7F7F7F, 0);
      object.cpuLoad();
    }
  }
  midiInput.join();
  EXPECT_EQ(object.instrumentIDOnChannel(5), (((kRounds - 1) & 0x7F) << 16) | (1 << 8) | 2);
  EXPECT_EQ(object.instrumentIDOnChannel(6), lastSelected);
  object.sendMidiEvent(0xB0, 123, 0, 0);  // all notes off
}

INSTANTIATE_TEST_SUITE_P(Audio, Concurrency, testing::Values(AudioKind::Fake, AudioKind::Real),
                         AudioKindName);

}  // namespace
