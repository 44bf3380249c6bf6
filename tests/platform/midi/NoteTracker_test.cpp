#include "NoteTracker.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "TestCaseName.h"

using chimewick::midi::NoteTracker;
using chimewick::midi::PacketData;

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> releaseOf(NoteTracker& tracker) {
  PacketData out;
  tracker.releaseAll(out);
  std::vector<Bytes> packets;
  for (size_t i = 0; i < out.count(); ++i) packets.emplace_back(out.packet(i).begin(), out.packet(i).end());
  return packets;
}

struct TrackerCase {
  const char* behaviour;
  std::vector<Bytes> packets;
  std::vector<Bytes> release;
};

class NoteTrackerCases : public ::testing::TestWithParam<TrackerCase> {};

TEST_P(NoteTrackerCases, ReleasesExactlyWhatThePacketsLeftSounding) {
  NoteTracker tracker;
  for (const Bytes& packet : GetParam().packets) tracker.observe(packet);
  EXPECT_EQ(releaseOf(tracker), GetParam().release) << GetParam().behaviour;
  EXPECT_FALSE(tracker.holdsAnything());
  EXPECT_TRUE(releaseOf(tracker).empty()) << "a second release sends nothing";
}

// Each packet as the Read handler plays it: its first three bytes.
INSTANTIATE_TEST_SUITE_P(
    Packets, NoteTrackerCases,
    ::testing::Values(
        TrackerCase{"nothing played", {}, {}}, TrackerCase{"a held note", {{0x90, 60, 100}}, {{0x80, 60, 0}}},
        TrackerCase{"a released note", {{0x90, 60, 100}, {0x80, 60, 0}}, {}},
        TrackerCase{"note-on velocity 0 releases", {{0x91, 60, 100}, {0x91, 60, 0}}, {}},
        TrackerCase{"channels kept apart",
                    {{0x90, 60, 1}, {0x8F, 60, 0}, {0x9F, 61, 1}},
                    {{0x80, 60, 0}, {0x8F, 61, 0}}},
        TrackerCase{"a chord", {{0x92, 60, 90}, {0x92, 64, 90}}, {{0x82, 60, 0}, {0x82, 64, 0}}},
        TrackerCase{
            "sustain down with a note", {{0x90, 60, 100}, {0xB0, 64, 127}, {0x80, 60, 0}}, {{0xB0, 64, 0}}},
        TrackerCase{"sustain down then up", {{0xB3, 64, 100}, {0xB3, 64, 10}}, {}},
        TrackerCase{"all notes off", {{0x90, 60, 1}, {0x90, 62, 1}, {0xB0, 123, 0}}, {}},
        TrackerCase{"all sound off", {{0x95, 60, 1}, {0xB5, 120, 0}}, {}},
        // Only the first message of a packet is played, so only it counts.
        TrackerCase{
            "a note-off behind a note-on in one packet", {{0x90, 0x3C, 0x64, 0x3C, 0x00}}, {{0x80, 0x3C, 0}}},
        TrackerCase{"a note-on behind a note-off in one packet", {{0x80, 60, 0, 0x90, 62, 100}}, {}},
        TrackerCase{
            "a chord in one packet holds its first note", {{0x92, 60, 90, 64, 90, 67, 90}}, {{0x82, 60, 0}}},
        TrackerCase{"a packet cut short plays velocity 0", {{0x90, 60, 100}, {0x90, 60}}, {}},
        TrackerCase{"running status from an earlier packet does not count",
                    {{0x90, 60, 100}, {62, 100}},
                    {{0x80, 60, 0}}},
        TrackerCase{"real time first hides the note", {{0xF8, 0x90, 60, 100}}, {}},
        TrackerCase{"a velocity the synthesizer refuses holds nothing", {{0x90, 60, 0xF8}}, {}},
        TrackerCase{"a note number beyond 127 holds nothing", {{0x90, 0xC8, 100}}, {}},
        TrackerCase{
            "a note-off with a stray velocity still releases", {{0x90, 60, 100}, {0x80, 60, 0xF0}}, {}},
        TrackerCase{"a pedal value the synthesizer refuses changes nothing", {{0xB0, 64, 0xFF}}, {}},
        TrackerCase{"system exclusive changes nothing", {{0xF0, 0x90, 60, 100, 0xF7}}, {}},
        TrackerCase{"an empty packet changes nothing", {{}}, {}}),
    [](const auto& info) { return midiTestCaseName(info.param.behaviour); });

TEST(NoteTracker, RandomPacketsReleaseOnlyWellFormedMessages) {
  std::mt19937 random(1234);
  for (int round = 0; round < 500; ++round) {
    NoteTracker tracker;
    for (int p = 0; p < 50; ++p) {
      Bytes packet(size_t(random() % 8));
      for (auto& b : packet) b = uint8_t(random());
      tracker.observe(packet);
    }
    for (const Bytes& packet : releaseOf(tracker)) {
      ASSERT_EQ(packet.size(), 3u);
      const bool noteOff = (packet[0] & 0xF0) == 0x80 && packet[1] < 128 && packet[2] == 0;
      const bool pedalUp = (packet[0] & 0xF0) == 0xB0 && packet[1] == 64 && packet[2] == 0;
      EXPECT_TRUE(noteOff || pedalUp);
    }
  }
}

}  // namespace
