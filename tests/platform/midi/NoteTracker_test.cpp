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
  Bytes stream;
  std::vector<Bytes> release;
};

class NoteTrackerCases : public ::testing::TestWithParam<TrackerCase> {};

TEST_P(NoteTrackerCases, ReleasesExactlyWhatIsHeld) {
  NoteTracker tracker;
  tracker.observe(GetParam().stream);
  EXPECT_EQ(releaseOf(tracker), GetParam().release) << GetParam().behaviour;
  EXPECT_FALSE(tracker.holdsAnything());
  EXPECT_TRUE(releaseOf(tracker).empty()) << "a second release sends nothing";
}

INSTANTIATE_TEST_SUITE_P(
    Stream, NoteTrackerCases,
    ::testing::Values(
        TrackerCase{"nothing played", {}, {}}, TrackerCase{"a held note", {0x90, 60, 100}, {{0x80, 60, 0}}},
        TrackerCase{"a released note", {0x90, 60, 100, 0x80, 60, 0}, {}},
        TrackerCase{"note-on velocity 0 releases", {0x91, 60, 100, 0x91, 60, 0}, {}},
        TrackerCase{"running status chord",
                    {0x92, 60, 90, 64, 90, 67, 90},
                    {{0x82, 60, 0}, {0x82, 64, 0}, {0x82, 67, 0}}},
        TrackerCase{
            "channels kept apart", {0x90, 60, 1, 0x8F, 60, 0, 0x9F, 61, 1}, {{0x80, 60, 0}, {0x8F, 61, 0}}},
        TrackerCase{"sustain down with a note", {0x90, 60, 100, 0xB0, 64, 127, 0x80, 60, 0}, {{0xB0, 64, 0}}},
        TrackerCase{"sustain down then up", {0xB3, 64, 100, 0xB3, 64, 10}, {}},
        TrackerCase{"real time inside a message", {0x90, 60, 0xF8, 100, 0xFE}, {{0x80, 60, 0}}},
        TrackerCase{"system exclusive hides its data", {0x90, 60, 0, 0xF0, 61, 100, 0xF7}, {}},
        TrackerCase{"status after cut system exclusive", {0xF0, 1, 2, 0x90, 62, 5}, {{0x80, 62, 0}}},
        TrackerCase{"system common cancels running status", {0x90, 60, 0, 0xF3, 1, 64, 100}, {}},
        TrackerCase{"all notes off", {0x90, 60, 1, 0x90, 62, 1, 0xB0, 123, 0}, {}},
        TrackerCase{"data without status", {60, 100, 61}, {}}, TrackerCase{"cut message", {0x90, 60}, {}}),
    [](const auto& info) { return midiTestCaseName(info.param.behaviour); });

TEST(NoteTracker, StreamSplitAcrossPacketsIsFollowed) {
  NoteTracker tracker;
  tracker.observe(Bytes{0x90});
  tracker.observe(Bytes{60});
  tracker.observe(Bytes{100, 64});
  tracker.observe(Bytes{100});
  EXPECT_EQ(releaseOf(tracker), (std::vector<Bytes>{{0x80, 60, 0}, {0x80, 64, 0}}));
}

TEST(NoteTracker, RandomBytesReleaseOnlyWellFormedMessages) {
  std::mt19937 random(1234);
  for (int round = 0; round < 500; ++round) {
    NoteTracker tracker;
    Bytes stream(size_t(random() % 200));
    for (auto& b : stream) b = uint8_t(random());
    tracker.observe(stream);
    for (const Bytes& packet : releaseOf(tracker)) {
      ASSERT_EQ(packet.size(), 3u);
      const bool noteOff = (packet[0] & 0xF0) == 0x80 && packet[1] < 128 && packet[2] == 0;
      const bool pedalUp = (packet[0] & 0xF0) == 0xB0 && packet[1] == 64 && packet[2] == 0;
      EXPECT_TRUE(noteOff || pedalUp);
    }
  }
}

}  // namespace
