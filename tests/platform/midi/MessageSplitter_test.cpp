#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "MidiMessageSplitter.h"
#include "TestCaseName.h"

using chimewick::midi::PacketData;
using chimewick::midi::splitMessages;

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> split(const Bytes& bytes) {
  PacketData out;
  splitMessages(bytes, out);
  std::vector<Bytes> packets;
  for (size_t i = 0; i < out.count(); ++i) packets.emplace_back(out.packet(i).begin(), out.packet(i).end());
  return packets;
}

struct SplitCase {
  const char* behaviour;
  Bytes bytes;
  std::vector<Bytes> packets;
};

class MessageSplitterCases : public ::testing::TestWithParam<SplitCase> {};

TEST_P(MessageSplitterCases, OnePacketPerMessage) {
  EXPECT_EQ(split(GetParam().bytes), GetParam().packets) << GetParam().behaviour;
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, MessageSplitterCases,
    ::testing::Values(
        SplitCase{"empty", {}, {}},
        SplitCase{"two controllers", {0xB0, 99, 1, 0xB0, 98, 2}, {{0xB0, 99, 1}, {0xB0, 98, 2}}},
        SplitCase{"running status is written out",
                  {0x90, 0x3C, 0x64, 0x3C, 0x00},
                  {{0x90, 0x3C, 0x64}, {0x90, 0x3C, 0x00}}},
        SplitCase{"a running status chord",
                  {0x92, 60, 90, 64, 90, 67, 90},
                  {{0x92, 60, 90}, {0x92, 64, 90}, {0x92, 67, 90}}},
        SplitCase{
            "program change has one data byte", {0xC0, 5, 6, 0xD0, 7}, {{0xC0, 5}, {0xC0, 6}, {0xD0, 7}}},
        SplitCase{"system exclusive to its end", {0xF0, 1, 2, 0xF7, 0xF8}, {{0xF0, 1, 2, 0xF7}, {0xF8}}},
        SplitCase{"real time inside a message comes first", {0x90, 60, 0xF8, 100}, {{0xF8}, {0x90, 60, 100}}},
        SplitCase{
            "real time inside system exclusive", {0xF0, 1, 0xFE, 2, 0xF7}, {{0xFE}, {0xF0, 1, 2, 0xF7}}},
        SplitCase{"song position and select", {0xF2, 1, 2, 0xF3, 4}, {{0xF2, 1, 2}, {0xF3, 4}}},
        SplitCase{"system common ends running status", {0x90, 60, 1, 0xF6, 61, 1}, {{0x90, 60, 1}, {0xF6}}},
        SplitCase{"cut message keeps what it has", {0x90, 60}, {{0x90, 60}}},
        SplitCase{"a status cuts a message short", {0x90, 60, 0xB0, 7, 100}, {{0x90, 60}, {0xB0, 7, 100}}},
        SplitCase{"the rest of a system exclusive message is kept",
                  {1, 2, 0xF7, 0x90, 60, 100},
                  {{1, 2, 0xF7}, {0x90, 60, 100}}},
        SplitCase{
            "a stray end of exclusive stands alone", {0x90, 60, 100, 0xF7, 5}, {{0x90, 60, 100}, {0xF7}}}),
    [](const auto& info) { return midiTestCaseName(info.param.behaviour); });

TEST(MessageSplitter, RandomBytesGiveOneWellFormedMessagePerPacket) {
  std::mt19937 random(99);
  for (int round = 0; round < 2000; ++round) {
    Bytes bytes(size_t(random() % 64));
    for (auto& b : bytes) b = uint8_t(random());
    PacketData out;
    splitMessages(bytes, out);
    int pieces = 0;
    for (size_t i = 0; i < out.count(); ++i) {
      const auto p = out.packet(i);
      ASSERT_FALSE(p.empty());
      if (!(p[0] & 0x80)) {
        // Only the start of the bytes can be a piece of system exclusive.
        EXPECT_EQ(++pieces, 1);
        continue;
      }
      if (p[0] == 0xF0) continue;
      EXPECT_LE(p.size(), 3u);
      for (size_t k = 1; k < p.size(); ++k) EXPECT_LT(p[k], 0x80);
    }
  }
}

}  // namespace
