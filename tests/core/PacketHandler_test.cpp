// The MIDI input port's Read handler: which messages reach the synthesizer,
// the volume controller, the traces, and packets that are short, empty or
// garbage.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "CoreTestFixture.h"
#include "DebugMessage.h"
#include "MidiEndpointZel.h"
#include "MidiPacketListZel.h"
#include "MyMidiPort.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Events = std::vector<std::vector<int32_t>>;

rb::Ref<MidiPacketListZel> ListOf(const std::vector<Bytes>& packets) {
  chimewick::midi::PacketData data;
  for (const Bytes& p : packets) data.add(p);
  return rb::New<MidiPacketListZel>(std::move(data));
}

rb::Ref<MidiEndpointZel> Source() { return rb::New<MidiEndpointZel>(0x2A, rb::String("Test keyboard")); }

// The trace lines written while fn runs, without the service's prefix.
template <class Fn>
std::vector<std::string> TracesOf(Fn fn) {
  DebugMessageEnableZel(true);
  ::testing::internal::CaptureStderr();
  fn();
  const std::string text = ::testing::internal::GetCapturedStderr();
  DebugMessageEnableZel(false);
  std::vector<std::string> lines;
  std::istringstream in(text);
  const std::string prefix = "Chimewick MIDI: ";
  for (std::string line; std::getline(in, line);)
    if (line.rfind(prefix, 0) == 0) lines.push_back(line.substr(prefix.size()));
  return lines;
}

class PacketHandlerTest : public coretest::CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    DebugMessageEnableZel(false);
    window_ = MakeWindowWithSampleInstruments();
    port_ = rb::New<MyMidiPort>();
  }
  void TearDown() override {
    port_.reset();
    window_.reset();
    CoreTest::TearDown();
  }
  Events Sent() const { return coretest::TheRecording().MidiEvents(); }

  rb::Ref<Window1> window_;
  rb::Ref<MyMidiPort> port_;
};

struct PacketCase {
  const char* what;
  Bytes packet;
  Events sent;
  int32_t volumeAfter;
  bool tracedAsOther;
};

TEST_F(PacketHandlerTest, EachPacketIsClassifiedAndForwardedOnce) {
  const std::vector<PacketCase> cases = {
      {"note on", {0x90, 0x3C, 0x64}, {{0x90, 0x3C, 0x64, 0}}, 64, false},
      {"note off", {0x81, 0x3C, 0x00}, {{0x81, 0x3C, 0x00, 0}}, 64, false},
      {"controller 7 on channel 4 sets Volume", {0xB3, 0x07, 0x50}, {{0xB3, 0x07, 0x50, 0}}, 80, false},
      {"controller 10 leaves Volume", {0xB0, 0x0A, 0x40}, {{0xB0, 0x0A, 0x40, 0}}, 64, false},
      {"pitch bend", {0xEF, 0x00, 0x40}, {{0xEF, 0x00, 0x40, 0}}, 64, false},
      {"active sensing is dropped", {0xFE}, {}, 64, false},
      {"program change, short", {0xC5, 0x10}, {{0xC5, 0x10, 0, 0}}, 64, true},
      {"clock", {0xF8}, {{0xF8, 0, 0, 0}}, 64, true},
      {"channel pressure", {0xD0, 0x22}, {{0xD0, 0x22, 0, 0}}, 64, true},
      {"a data byte without status", {0x3C, 0x64}, {{0x3C, 0x64, 0, 0}}, 64, true},
      {"two messages: only the first",
       {0x90, 0x3C, 0x64, 0x90, 0x3E, 0x64},
       {{0x90, 0x3C, 0x64, 0}},
       64,
       false},
      {"an empty packet: not forwarded", {}, {}, 64, true},
      {"controller 7 with a missing value counts 0", {0xB0, 0x07}, {{0xB0, 0x07, 0, 0}}, 0, false},
  };
  for (const PacketCase& c : cases) {
    SCOPED_TRACE(c.what);
    coretest::TheRecording().clear();
    window_->Volume = 64;
    const int32_t countBefore = port_->count;
    const std::vector<std::string> traces =
        TracesOf([&] { port_->Event_Read(Source(), ListOf({c.packet})); });
    EXPECT_EQ(Sent(), c.sent);
    EXPECT_EQ(window_->Volume.load(), c.volumeAfter);
    EXPECT_EQ(port_->count.load(), countBefore + 1);
    const std::string n = std::to_string(countBefore + 1);
    const bool other = std::find(traces.begin(), traces.end(), n + " something else") != traces.end();
    const bool forwarded = std::find(traces.begin(), traces.end(), n + " insertrow") != traces.end();
    EXPECT_EQ(other, c.tracedAsOther);
    EXPECT_EQ(forwarded, !c.sent.empty());
  }
}

TEST_F(PacketHandlerTest, TracesFollowTheReadInOrder) {
  const std::vector<std::string> traces = TracesOf([&] {
    port_->Event_Read(Source(), ListOf({{0x90, 0x3C, 0x64}, {0xFE}, {0xF8}}));
  });
  const std::vector<std::string> expected = {
      "endpoint.Handle: 2A", "1 3 packets.", "1 0",          "1 insertrow", "1 1", "1 2",
      "1 something else",    "1 insertrow",  "1 finished. ",
  };
  EXPECT_EQ(traces, expected);
}

TEST_F(PacketHandlerTest, AnEmptyListTracesOnlyItsFrame) {
  const std::vector<std::string> traces = TracesOf([&] { port_->Event_Read(Source(), ListOf({})); });
  EXPECT_EQ(traces, (std::vector<std::string>{"endpoint.Handle: 2A", "1 0 packets.", "1 finished. "}));
  EXPECT_TRUE(Sent().empty());
}

TEST_F(PacketHandlerTest, NoTraceIsWrittenWhileTracesAreOff) {
  ::testing::internal::CaptureStderr();
  port_->Event_Read(Source(), ListOf({{0x90, 0x3C, 0x64}, {0xF8}}));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(Sent().size(), 2u);
}

TEST_F(PacketHandlerTest, FifteenPacketsAreEachHandledOnceInOrder) {
  std::vector<Bytes> packets;
  Events expected;
  for (uint8_t i = 0; i < 15; ++i) {
    packets.push_back({0x90, uint8_t(0x30 + i), 0x64});
    expected.push_back({0x90, 0x30 + i, 0x64, 0});
  }
  const std::vector<std::string> traces = TracesOf([&] { port_->Event_Read(Source(), ListOf(packets)); });
  EXPECT_EQ(Sent(), expected);
  std::vector<std::string> perPacket;
  for (int i = 0; i < 15; ++i) perPacket.push_back("1 " + std::to_string(i));
  std::vector<std::string> seen;
  for (const std::string& t : traces)
    if (std::find(perPacket.begin(), perPacket.end(), t) != perPacket.end()) seen.push_back(t);
  EXPECT_EQ(seen, perPacket);
  EXPECT_EQ(port_->count.load(), 1);
}

TEST_F(PacketHandlerTest, TheCountGrowsByOnePerRead) {
  for (int i = 0; i < 3; ++i) port_->Event_Read(Source(), ListOf({{0x90, 0x3C, 0x64}}));
  EXPECT_EQ(port_->count.load(), 3);
  EXPECT_EQ(Sent().size(), 3u);
}

TEST_F(PacketHandlerTest, NilArgumentsReturnAtOnce) {
  port_->Event_Read(nullptr, ListOf({{0x90, 0x3C, 0x64}}));
  port_->Event_Read(Source(), nullptr);
  EXPECT_EQ(port_->count.load(), 0);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(PacketHandlerTest, WithoutAPlayerNothingIsSentAndTheVolumeStillCounts) {
  window_->SetPlayer(nullptr);
  port_->Event_Read(Source(), ListOf({{0xB0, 0x07, 0x21}, {0x90, 0x3C, 0x64}}));
  EXPECT_EQ(window_->Volume.load(), 0x21);
  EXPECT_EQ(port_->count.load(), 1);
  EXPECT_TRUE(Sent().empty());
}

// Seeded garbage: packets of any length and content never read past their
// end and always forward exactly their first three bytes (0 for missing).
TEST_F(PacketHandlerTest, RandomPacketsForwardTheirFirstBytesOnly) {
  std::mt19937 random(20261208);
  for (int round = 0; round < 200; ++round) {
    coretest::TheRecording().clear();
    std::vector<Bytes> packets(random() % 20);
    Events expected;
    for (Bytes& p : packets) {
      p.resize(random() % 6);
      for (uint8_t& b : p) b = uint8_t(random());
      const int32_t b0 = p.size() > 0 ? p[0] : 0, b1 = p.size() > 1 ? p[1] : 0, b2 = p.size() > 2 ? p[2] : 0;
      if (b0 != 0xFE && !p.empty()) expected.push_back({b0, b1, b2, 0});
    }
    port_->Event_Read(Source(), ListOf(packets));
    ASSERT_EQ(Sent(), expected) << "round " << round;
  }
}

}  // namespace
