// The packet-list reader whose address Callback gives: how it cuts packets
// into messages, what reaches the synthesizer, and how it tracks bank select
// and program change per channel. Also a seeded fuzz loop against a small
// model of the reader.
#include <gtest/gtest.h>

#include "BundleTest.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct ReaderCase {
  const char* name;
  std::vector<Bytes> packets;
  std::vector<MidiEvent> sent;
};

const ReaderCase kReaderCases[] = {
    {"OneNoteOn", {{0x90, 0x3C, 0x64}}, {{0x90, 0x3C, 0x64, 0}}},
    {"ClockByteDropped",
     {{0x90, 0x3C, 0x64, 0xF8, 0x80, 0x3C, 0x00}},
     {{0x90, 0x3C, 0x64, 0}, {0x80, 0x3C, 0x00, 0}}},
    {"NoRunningStatus", {{0x90, 0x3C, 0x64, 0x3E, 0x64}}, {{0x90, 0x3C, 0x64, 0}}},
    {"MessageSplitAcrossTwoPackets", {{0x90, 0x3C}, {0x64}}, {{0x90, 0x3C, 0x64, 0}}},
    {"MessageSplitAcrossEmptyAndRealTimePackets",
     {{0x90}, {}, {0xF8, 0x3C}, {0xFE}, {0x64}},
     {{0x90, 0x3C, 0x64, 0}}},
    {"SystemExclusiveThenItsEndByteAlone",
     {{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}},
     {{0xF0, 0x7E, 0x7F, 0}, {0xF7, 0, 0, 0}}},
    {"RealTimeInsideSystemExclusiveNeitherEndsNorJoinsIt",
     {{0xF0, 0x01, 0xF8, 0x02, 0xF7}},
     {{0xF0, 0x01, 0x02, 0}, {0xF7, 0, 0, 0}}},
    {"EmptyList", {}, {}},
    {"OnlyRealTimeBytes", {{0xF8, 0xFA, 0xFB, 0xFC, 0xFE, 0xFF}, {0xF8}}, {}},
    {"OnlyEmptyPackets", {{}, {}}, {}},
    {"DataBytesAtListStartFormAMessageOfTheirOwn",
     {{0x3C, 0x64, 0x90, 0x3C, 0x64}},
     {{0x3C, 0x64, 0, 0}, {0x90, 0x3C, 0x64, 0}}},
    {"ShortMessagesGetZeroForMissingBytes",
     {{0xC5, 0x07, 0xD5, 0xF6}},
     {{0xC5, 0x07, 0, 0}, {0xD5, 0, 0, 0}, {0xF6, 0, 0, 0}}},
    {"EveryPacketInOrder",
     {{0x90, 0x3C, 0x64}, {0x80, 0x3C, 0x00}, {0xB0, 0x07, 0x64}},
     {{0x90, 0x3C, 0x64, 0}, {0x80, 0x3C, 0x00, 0}, {0xB0, 0x07, 0x64, 0}}},
    {"StatusBytesEndAMessageAtEveryPosition",
     {{0x90, 0x90, 0x3C, 0x64, 0x64, 0xE1, 0x00, 0x40}},
     {{0x90, 0, 0, 0}, {0x90, 0x3C, 0x64, 0}, {0xE1, 0x00, 0x40, 0}}},
};

class Reader : public BundleTest {
 protected:
  // Reads each case's packet list into a started object and expects what
  // reached the synthesizer.
  template <class Cases>
  void expectSent(const Cases& cases) {
    PlaybackObject object;
    ASSERT_TRUE(object.init());
    for (const ReaderCase& c : cases) {
      SCOPED_TRACE(c.name);
      EventRecorder recorder(seams());
      object.readPackets(PacketList(c.packets));
      EXPECT_EQ(recorder.events(), c.sent);
    }
  }
};

TEST_P(Reader, CutsPacketListsIntoMessagesAtStatusBytes) { expectSent(kReaderCases); }

TEST_P(Reader, LongSystemExclusiveNeverOverrunsAndOnlyItsFirstThreeBytesAreSent) {
  Bytes sysex{0xF0};
  for (int i = 0; i < 1000; ++i) sysex.push_back(static_cast<uint8_t>(i & 0x7F));
  sysex.push_back(0xF7);

  ReaderCase cases[] = {
      {"OnePacket", {sysex, {0x90, 0x3C, 0x64}}, {{0xF0, 0, 1, 0}, {0xF7, 0, 0, 0}, {0x90, 0x3C, 0x64, 0}}},
      {"ManyPackets", {}, {{0xF0, 0, 1, 0}, {0xF7, 0, 0, 0}, {0x90, 0x3C, 0x64, 0}}},
      {"DataOnlyLongerThanTheBuffer", {Bytes(700, 0x55)}, {{0x55, 0x55, 0x55, 0}}},
      {"UnterminatedAtTheEnd", {Bytes(sysex.begin(), sysex.end() - 1)}, {{0xF0, 0, 1, 0}}},
  };
  for (std::size_t at = 0; at < sysex.size(); at += 97)
    cases[1].packets.emplace_back(sysex.begin() + at, sysex.begin() + std::min(at + 97, sysex.size()));
  cases[1].packets.push_back({0x90, 0x3C, 0x64});
  expectSent(cases);
}

TEST_P(Reader, TracksBankSelectAndProgramChangePerChannel) {
  PlaybackObject object;
  ASSERT_TRUE(object.init());
  EventRecorder recorder(seams());
  object.readPackets(PacketList({{0xB2, 0x00, 0x05}, {0xB2, 0x20, 0x01}, {0xC2, 0x07}}));
  EXPECT_EQ(recorder.events(),
            (std::vector<MidiEvent>{{0xB2, 0x00, 0x05, 0}, {0xB2, 0x20, 0x01, 0}, {0xC2, 0x07, 0, 0}}));
  EXPECT_EQ(object.instrumentIDOnChannel(2), (5 << 16) | (1 << 8) | 7);
  EXPECT_EQ(object.lasterror(), 0);
  for (int channel = 0; channel < 16; ++channel)
    if (channel != 2) {
      EXPECT_EQ(object.channelEntry(channel), 0) << channel;
    }
}

TEST_P(Reader, EachUpdateKeepsTheOtherTwoFieldsAndClearsBitsAboveTwentyTwo) {
  struct Case {
    const char* name;
    int32_t before;
    Bytes message;
    int32_t after;
  } cases[] = {
      {"ProgramKeepsBank", 0x050107, {0xC4, 0x09}, 0x050109},
      {"MsbKeepsLsbAndProgram", 0x050107, {0xB4, 0x00, 0x7F}, 0x7F0107},
      {"LsbKeepsMsbAndProgram", 0x050107, {0xB4, 0x20, 0x03}, 0x050307},
      {"HighBitsCleared", static_cast<int32_t>(0xFF818283u), {0xC4, 0x05}, 0x010205},
      {"HighBitsClearedByMsb", static_cast<int32_t>(0xFF818283u), {0xB4, 0x00, 0x02}, 0x020203},
      {"OtherControllersLeaveItAlone", 0x050107, {0xB4, 0x07, 0x64}, 0x050107},
      {"NotesLeaveItAlone", 0x050107, {0x94, 0x00, 0x64}, 0x050107},
      {"LoneControlStatusIsBankMsbZero", 0x050107, {0xB4}, 0x000107},
  };
  PlaybackObject object;
  ASSERT_TRUE(object.init());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    object.setInstrumentIDOnChannel(4, c.before);
    object.readPackets(PacketList({c.message}));
    EXPECT_EQ(object.channelEntry(4), c.after);
  }
}

TEST_P(Reader, WithoutAGraphNothingIsSentButTheTableIsStillTracked) {
  PlaybackObject object;
  EventRecorder recorder(seams());
  object.readPackets(PacketList({{0xB9, 0x00, 0x01, 0xB9, 0x20, 0x02, 0xC9, 0x03, 0x99, 0x24, 0x64}}));
  EXPECT_TRUE(recorder.events().empty());
  EXPECT_EQ(object.instrumentIDOnChannel(9), 0x010203);
}

TEST_P(Reader, CallbackGivesTheFullAddressAndChangesNothing) {
  PlaybackObject object;
  object.sendMidiEvent(0x90, 1, 1, 0);  // no graph: Lasterror -1
  const intptr_t address = object.callback();
  EXPECT_NE(address, 0);
  EXPECT_EQ(object.lasterror(), -1);
  EXPECT_EQ(object.callback(), address);
  // A bundle loaded above 4 GiB would lose its address in 32 bits.
  if (sizeof(void*) == 8) {
    EXPECT_GT(static_cast<uintptr_t>(address), uintptr_t{0xFFFFFFFFu});
  }
}

INSTANTIATE_TEST_SUITE_P(Audio, Reader, testing::Values(AudioKind::Fake, AudioKind::Real), AudioKindName);

// Over the fake, which records what the synthesizer is told.
class FakeReader : public Reader {};

// The zeros in place of missing data bytes are fillers: the reader tells the
// synthesizer how many of the three bytes each message really had.
TEST_P(FakeReader, TellsTheSynthesizerHowManyOfTheThreeBytesWereReal) {
  PlaybackObject object;
  ASSERT_TRUE(object.init());
  object.readPackets(PacketList({{0xE0},
                                 {0xC5, 0x07},
                                 {0x90, 0x3C, 0x64},
                                 {0xB0, 0x07},
                                 {0xF0, 0x01, 0x02, 0x03, 0xF7},
                                 {0x90, 0x3C}}));
  EXPECT_EQ(seams().fake->eventLengths(), (std::vector<uint32_t>{1, 2, 3, 2, 3, 1, 2}));
  // SendMidiEvent's events are whole: nothing said before carries over.
  object.sendMidiEvent(0xE0, 0, 0x40, 0);
  EXPECT_EQ(seams().fake->eventLengths().back(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Audio, FakeReader, testing::Values(AudioKind::Fake), AudioKindName);

// ---- Seeded fuzz loop ----------------------------------------------------

// What the reader is expected to do, written plainly.
struct ReaderModel {
  std::vector<MidiEvent> sent;
  int32_t table[16] = {};

  void read(const std::vector<Bytes>& packets) {
    Bytes message;
    for (const Bytes& packet : packets)
      for (uint8_t byte : packet) {
        if (byte >= 0xF8) continue;
        if (byte >= 0x80 && !message.empty()) {
          dispatch(message);
          message.clear();
        }
        message.push_back(byte);
      }
    if (!message.empty()) dispatch(message);
  }
  void dispatch(const Bytes& m) {
    const uint32_t b0 = m[0], b1 = m.size() > 1 ? m[1] : 0, b2 = m.size() > 2 ? m[2] : 0;
    sent.push_back({b0, b1, b2, 0});
    const uint32_t old = static_cast<uint32_t>(table[b0 & 15]);
    uint32_t bank = (old >> 16) & 0x7F, lsb = (old >> 8) & 0x7F, program = old & 0x7F;
    if ((b0 & 0xF0) == 0xC0)
      program = b1;
    else if ((b0 & 0xF0) == 0xB0 && b1 == 0)
      bank = b2;
    else if ((b0 & 0xF0) == 0xB0 && b1 == 32)
      lsb = b2;
    else
      return;
    table[b0 & 15] = static_cast<int32_t>((bank << 16) | (lsb << 8) | program);
  }
};

// A small, fast generator: the loop runs under the sanitizers in Debug.
struct XorShift {
  uint64_t state;
  uint32_t next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<uint32_t>(state >> 16);
  }
  uint32_t below(uint32_t n) { return next() % n; }
};

std::vector<Bytes> randomPacketList(XorShift& random) {
  std::vector<Bytes> packets(random.below(7));
  for (Bytes& packet : packets) {
    // Mostly short packets, some far longer than the reader's buffer.
    const uint32_t roll = random.below(100);
    const uint32_t length = roll < 2 ? 200 + random.below(800) : random.below(13);
    packet.reserve(length + 3);
    if (roll == 0) {
      // A long system-exclusive body: data bytes only, past the buffer's end.
      while (packet.size() < length) packet.push_back(static_cast<uint8_t>(random.next() & 0x7F));
      continue;
    }
    while (packet.size() < length) {
      const uint32_t r = random.next();
      const uint32_t k = r % 100;
      const auto data = static_cast<uint8_t>((r >> 8) & 0x7F);
      // Bank select and program change often enough to exercise tracking.
      if (k < 8) {
        packet.insert(packet.end(), {static_cast<uint8_t>(0xB0 | (r >> 16) % 16),
                                     static_cast<uint8_t>(k < 4 ? 0 : 32), data});
      } else if (k < 12) {
        packet.insert(packet.end(), {static_cast<uint8_t>(0xC0 | (r >> 16) % 16), data});
      } else if (k < 35) {
        packet.push_back(static_cast<uint8_t>(0x80 | data));
      } else if (k < 80) {
        packet.push_back(data);
      } else {
        packet.push_back(static_cast<uint8_t>(r >> 16));
      }
    }
  }
  return packets;
}

TEST(ReaderFuzz, HundredThousandRandomPacketListsMatchTheModelWithoutOverruns) {
  const AudioSeams& seams = UseBundle(AudioKind::Fake);
  PlaybackObject object;
  ASSERT_TRUE(object.init());
  EventRecorder recorder(seams);
  ReaderModel model;
  XorShift random{20261208};
  constexpr int kLists = 100000;
  for (int i = 0; i < kLists; ++i) {
    const std::vector<Bytes> packets = randomPacketList(random);
    model.read(packets);
    object.readPackets(PacketList(packets));
    if (i % 1000 == 999 || i == kLists - 1) {
      ASSERT_EQ(recorder.events(), model.sent) << "by list " << i;
      recorder.clear();
      model.sent.clear();
      for (int channel = 0; channel < 16; ++channel)
        ASSERT_EQ(object.channelEntry(channel), model.table[channel])
            << "channel " << channel << " by list " << i;
    }
  }
}

}  // namespace
