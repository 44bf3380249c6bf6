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
        SplitCase{"program change has one data byte", {0xC0, 5, 0xD0, 7}, {{0xC0, 5}, {0xD0, 7}}},
        SplitCase{"system exclusive to its end", {0xF0, 1, 2, 0xF7, 0xF8}, {{0xF0, 1, 2, 0xF7}, {0xF8}}},
        SplitCase{"song position and select", {0xF2, 1, 2, 0xF3, 4}, {{0xF2, 1, 2}, {0xF3, 4}}},
        SplitCase{"cut message keeps what it has", {0x90, 60}, {{0x90, 60}}},
        SplitCase{"status cuts a message short", {0x90, 60, 0xF8}, {{0x90, 60}, {0xF8}}},
        SplitCase{"leading data dropped", {1, 2, 0xFE}, {{0xFE}}}),
    [](const auto& info) { return midiTestCaseName(info.param.behaviour); });

TEST(MessageSplitter, RandomBytesStayInsideTheInput) {
  std::mt19937 random(99);
  for (int round = 0; round < 1000; ++round) {
    Bytes bytes(size_t(random() % 64));
    for (auto& b : bytes) b = uint8_t(random());
    PacketData out;
    splitMessages(bytes, out);
    size_t total = 0;
    for (size_t i = 0; i < out.count(); ++i) {
      ASSERT_FALSE(out.packet(i).empty());
      EXPECT_TRUE(out.packet(i)[0] & 0x80) << "every packet starts on a status";
      total += out.packet(i).size();
    }
    EXPECT_LE(total, bytes.size());
  }
}

}  // namespace
