// The ALSA backend's pure parts against constructed sequencer events: no
// sequencer device is needed.
#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <string>
#include <vector>

#include "AlsaEventDecoder.h"
#include "TestCaseName.h"

using namespace chimewick::midi;

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> packetsOf(const PacketData& data) {
  std::vector<Bytes> packets;
  for (size_t i = 0; i < data.count(); ++i)
    packets.emplace_back(data.packet(i).begin(), data.packet(i).end());
  return packets;
}

snd_seq_event_t eventOf(snd_seq_event_type_t type) {
  snd_seq_event_t ev;
  snd_seq_ev_clear(&ev);
  ev.type = type;
  return ev;
}

struct DecodeCase {
  const char* behaviour;
  snd_seq_event_t event;
  std::vector<Bytes> packets;
};

std::vector<DecodeCase> decodeCases() {
  std::vector<DecodeCase> cases;
  auto add = [&](const char* behaviour, snd_seq_event_t ev, std::vector<Bytes> packets) {
    cases.push_back({behaviour, ev, std::move(packets)});
  };
  snd_seq_event_t ev = eventOf(SND_SEQ_EVENT_NOTEON);
  snd_seq_ev_set_noteon(&ev, 3, 60, 100);
  add("note on", ev, {{0x93, 60, 100}});
  snd_seq_ev_set_noteon(&ev, 0, 61, 0);
  add("note on with velocity 0 stays as it came", ev, {{0x90, 61, 0}});
  ev = eventOf(SND_SEQ_EVENT_NOTEOFF);
  snd_seq_ev_set_noteoff(&ev, 15, 62, 64);
  add("note off", ev, {{0x8F, 62, 64}});
  ev = eventOf(SND_SEQ_EVENT_KEYPRESS);
  snd_seq_ev_set_keypress(&ev, 1, 63, 20);
  add("polyphonic pressure", ev, {{0xA1, 63, 20}});
  ev = eventOf(SND_SEQ_EVENT_CONTROLLER);
  snd_seq_ev_set_controller(&ev, 2, 7, 80);
  add("controller", ev, {{0xB2, 7, 80}});
  ev = eventOf(SND_SEQ_EVENT_PGMCHANGE);
  snd_seq_ev_set_pgmchange(&ev, 4, 19);
  add("program change", ev, {{0xC4, 19}});
  ev = eventOf(SND_SEQ_EVENT_CHANPRESS);
  snd_seq_ev_set_chanpress(&ev, 5, 33);
  add("channel pressure", ev, {{0xD5, 33}});
  ev = eventOf(SND_SEQ_EVENT_PITCHBEND);
  snd_seq_ev_set_pitchbend(&ev, 6, 0);
  add("pitch bend centre", ev, {{0xE6, 0x00, 0x40}});
  snd_seq_ev_set_pitchbend(&ev, 6, -8192);
  add("pitch bend bottom", ev, {{0xE6, 0x00, 0x00}});
  snd_seq_ev_set_pitchbend(&ev, 6, 8191);
  add("pitch bend top", ev, {{0xE6, 0x7F, 0x7F}});
  ev = eventOf(SND_SEQ_EVENT_CONTROL14);
  ev.data.control.channel = 0;
  ev.data.control.param = 1;
  ev.data.control.value = (5 << 7) | 9;
  add("14-bit controller becomes two packets", ev, {{0xB0, 1, 5}, {0xB0, 33, 9}});
  ev = eventOf(SND_SEQ_EVENT_SONGPOS);
  ev.data.control.value = (3 << 7) | 2;
  add("song position", ev, {{0xF2, 2, 3}});
  ev = eventOf(SND_SEQ_EVENT_SONGSEL);
  ev.data.control.value = 7;
  add("song select", ev, {{0xF3, 7}});
  ev = eventOf(SND_SEQ_EVENT_TUNE_REQUEST);
  add("tune request", ev, {{0xF6}});
  const std::pair<snd_seq_event_type_t, uint8_t> realTime[] = {
      {SND_SEQ_EVENT_CLOCK, 0xF8}, {SND_SEQ_EVENT_START, 0xFA},   {SND_SEQ_EVENT_CONTINUE, 0xFB},
      {SND_SEQ_EVENT_STOP, 0xFC},  {SND_SEQ_EVENT_SENSING, 0xFE}, {SND_SEQ_EVENT_RESET, 0xFF}};
  for (const auto& [type, byte] : realTime) add("real time", eventOf(type), {{byte}});
  return cases;
}

TEST(AlsaEventDecoder, EveryMessageKindDecodesToItsBytes) {
  auto decoder = AlsaEventDecoder::make();
  ASSERT_TRUE(decoder);
  for (const DecodeCase& c : decodeCases()) {
    PacketData out;
    EXPECT_TRUE(decoder->decode(c.event, out)) << c.behaviour;
    EXPECT_EQ(packetsOf(out), c.packets) << c.behaviour;
  }
}

TEST(AlsaEventDecoder, EveryPacketStartsWithItsOwnStatus) {
  // The same status twice in a row must not be left out (running status).
  auto decoder = AlsaEventDecoder::make();
  snd_seq_event_t ev = eventOf(SND_SEQ_EVENT_NOTEON);
  snd_seq_ev_set_noteon(&ev, 0, 60, 1);
  PacketData out;
  decoder->decode(ev, out);
  decoder->decode(ev, out);
  EXPECT_EQ(packetsOf(out), (std::vector<Bytes>{{0x90, 60, 1}, {0x90, 60, 1}}));
}

TEST(AlsaEventDecoder, SystemExclusiveComesThroughWhole) {
  auto decoder = AlsaEventDecoder::make();
  Bytes sysex(64 * 1024);
  for (size_t i = 0; i < sysex.size(); ++i) sysex[i] = uint8_t(i % 128);
  sysex.front() = 0xF0;
  sysex.back() = 0xF7;
  snd_seq_event_t ev = eventOf(SND_SEQ_EVENT_SYSEX);
  snd_seq_ev_set_sysex(&ev, unsigned(sysex.size()), sysex.data());
  PacketData out;
  ASSERT_TRUE(decoder->decode(ev, out));
  EXPECT_EQ(packetsOf(out), std::vector<Bytes>{sysex});
}

TEST(AlsaEventDecoder, ASystemExclusiveEventHoldingOtherMessagesIsCutIntoThem) {
  // No driver sends this, but any program may: each message stands alone.
  auto decoder = AlsaEventDecoder::make();
  Bytes chunk{0xF0, 0x43, 0x90, 0x3C, 0x64, 0x3E, 0x64, 0xF7};
  snd_seq_event_t ev = eventOf(SND_SEQ_EVENT_SYSEX);
  snd_seq_ev_set_sysex(&ev, unsigned(chunk.size()), chunk.data());
  PacketData out;
  ASSERT_TRUE(decoder->decode(ev, out));
  EXPECT_EQ(packetsOf(out),
            (std::vector<Bytes>{{0xF0, 0x43}, {0x90, 0x3C, 0x64}, {0x90, 0x3E, 0x64}, {0xF7}}));
  // The middle of a long message comes as it is.
  Bytes middle{0x01, 0x02, 0x03};
  snd_seq_ev_set_sysex(&ev, unsigned(middle.size()), middle.data());
  out.clear();
  ASSERT_TRUE(decoder->decode(ev, out));
  EXPECT_EQ(packetsOf(out), std::vector<Bytes>{middle});
}

TEST(AlsaEventDecoder, EventsWithoutMidiGiveNothing) {
  auto decoder = AlsaEventDecoder::make();
  snd_seq_event_t sysexWithoutData = eventOf(SND_SEQ_EVENT_SYSEX);
  snd_seq_ev_set_sysex(&sysexWithoutData, 0, nullptr);
  for (const snd_seq_event_t& ev : {eventOf(SND_SEQ_EVENT_PORT_START), eventOf(SND_SEQ_EVENT_CLIENT_EXIT),
                                    eventOf(SND_SEQ_EVENT_ECHO), sysexWithoutData}) {
    PacketData out;
    EXPECT_FALSE(decoder->decode(ev, out));
    EXPECT_TRUE(out.empty());
  }
}

TEST(AlsaEventDecoder, RandomFixedLengthEventsNeverOverrun) {
  auto decoder = AlsaEventDecoder::make();
  std::mt19937 random(7);
  for (int round = 0; round < 5000; ++round) {
    snd_seq_event_t ev = eventOf(snd_seq_event_type_t(random() % 256));
    ev.data.raw32.d[0] = uint32_t(random());
    ev.data.raw32.d[1] = uint32_t(random());
    ev.data.raw32.d[2] = uint32_t(random());
    if (ev.type == SND_SEQ_EVENT_SYSEX || snd_seq_ev_is_variable_type(&ev)) continue;  // would point anywhere
    PacketData out;
    decoder->decode(ev, out);
    for (size_t i = 0; i < out.count(); ++i) EXPECT_LE(out.packet(i).size(), 3u);
  }
}

struct FilterCase {
  const char* behaviour;
  AlsaPortListing port;
  bool isSource;
};

class AlsaSourceFilter : public ::testing::TestWithParam<FilterCase> {};

constexpr unsigned kReadable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
constexpr unsigned kMidi = SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_HARDWARE;

AlsaPortListing listing(int client, unsigned capability, unsigned type, bool kernel = false,
                        const char* clientName = "Keys") {
  return {client, 0, capability, type, kernel, clientName, "Keys MIDI 1"};
}

TEST_P(AlsaSourceFilter, TakesReadableSubscribableMidiPortsOfOthers) {
  EXPECT_EQ(isAlsaSource(GetParam().port, 129), GetParam().isSource) << GetParam().behaviour;
}

INSTANTIATE_TEST_SUITE_P(
    Ports, AlsaSourceFilter,
    ::testing::Values(
        FilterCase{"a USB keyboard", listing(24, kReadable | SND_SEQ_PORT_CAP_DUPLEX, kMidi, true), true},
        FilterCase{"a software source", listing(128, kReadable, SND_SEQ_PORT_TYPE_APPLICATION), true},
        FilterCase{"the system client", listing(0, kReadable, kMidi, true, "System"), false},
        FilterCase{"our own client", listing(129, kReadable, kMidi), false},
        FilterCase{"the kernel's Midi Through",
                   listing(14, kReadable | SND_SEQ_PORT_CAP_WRITE, kMidi, true, "Midi Through"), false},
        FilterCase{"a program that calls itself Midi Through",
                   listing(130, kReadable, SND_SEQ_PORT_TYPE_APPLICATION, false, "Midi Through"), true},
        FilterCase{"not subscribable", listing(24, SND_SEQ_PORT_CAP_READ, kMidi), false},
        FilterCase{"write only", listing(24, SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE, kMidi),
                   false},
        FilterCase{"hidden", listing(24, kReadable | SND_SEQ_PORT_CAP_NO_EXPORT, kMidi), false},
        FilterCase{"not MIDI", listing(24, kReadable, SND_SEQ_PORT_TYPE_SYNTH), false}),
    [](const auto& info) { return midiTestCaseName(info.param.behaviour); });

// Records what the input handler passes on.
struct RecordingReceiver : InputReceiver {
  void received(int32_t source, PacketData&& packets) override {
    for (auto& p : packetsOf(packets)) log.push_back({source, p});
  }
  void sourceGone(int32_t source) override { gone.push_back(source); }
  std::vector<std::pair<int32_t, Bytes>> log;
  std::vector<int32_t> gone;
};

constexpr int kOurClient = 130;
constexpr int kOurPort = 0;

snd_seq_event_t noteFrom(int client, int port, uint8_t key, int destPort = kOurPort) {
  snd_seq_event_t ev = eventOf(SND_SEQ_EVENT_NOTEON);
  snd_seq_ev_set_noteon(&ev, 0, key, 90);
  ev.source = {uint8_t(client), uint8_t(port)};
  ev.dest = {uint8_t(kOurClient), uint8_t(destPort)};
  return ev;
}

snd_seq_event_t notice(snd_seq_event_type_t type) {
  snd_seq_event_t ev = eventOf(type);
  ev.source = {SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE};
  return ev;
}

snd_seq_event_t addressEvent(snd_seq_event_type_t type, int client, int port) {
  snd_seq_event_t ev = notice(type);
  ev.data.addr = {uint8_t(client), uint8_t(port)};
  return ev;
}

snd_seq_event_t subscription(snd_seq_event_type_t type, int client, int port, int destClient = kOurClient) {
  snd_seq_event_t ev = notice(type);
  ev.data.connect.sender = {uint8_t(client), uint8_t(port)};
  ev.data.connect.dest = {uint8_t(destClient), uint8_t(kOurPort)};
  return ev;
}

class AlsaInputHandlerTest : public ::testing::Test {
 protected:
  RecordingReceiver receiver;
  AlsaInputHandler handler{AlsaEventDecoder::make(), receiver, kOurClient, kOurPort};
};

TEST_F(AlsaInputHandlerTest, PassesOnMidiFromAnySenderToThisPort) {
  handler.handle(noteFrom(24, 0, 60));                // a source we connected
  handler.handle(noteFrom(25, 0, 61));                // a program writing straight to the port
  handler.handle(noteFrom(26, 0, 62, kOurPort + 1));  // another port's
  ASSERT_EQ(receiver.log.size(), 2u);
  EXPECT_EQ(receiver.log[0], (std::pair<int32_t, Bytes>{alsaHandle(24, 0), {0x90, 60, 90}}));
  EXPECT_EQ(receiver.log[1], (std::pair<int32_t, Bytes>{alsaHandle(25, 0), {0x90, 61, 90}}));
}

TEST_F(AlsaInputHandlerTest, ASenderLeavingIsReportedOnce) {
  for (int client : {24, 28, 32}) handler.handle(noteFrom(client, 0, 60));
  handler.handle(noteFrom(24, 1, 60));
  handler.handle(addressEvent(SND_SEQ_EVENT_PORT_EXIT, 28, 0));
  handler.handle(addressEvent(SND_SEQ_EVENT_PORT_EXIT, 28, 0));
  handler.handle(addressEvent(SND_SEQ_EVENT_PORT_EXIT, 40, 0));  // never sent anything
  handler.handle(addressEvent(SND_SEQ_EVENT_CLIENT_EXIT, 24, 0));
  handler.handle(subscription(SND_SEQ_EVENT_PORT_UNSUBSCRIBED, 32, 0, 99));  // someone else's connection
  handler.handle(subscription(SND_SEQ_EVENT_PORT_UNSUBSCRIBED, 32, 0));
  handler.handle(subscription(SND_SEQ_EVENT_PORT_UNSUBSCRIBED, 32, 0));  // the broadcast copy
  EXPECT_EQ(receiver.gone, (std::vector<int32_t>{alsaHandle(28, 0), alsaHandle(24, 0), alsaHandle(24, 1),
                                                 alsaHandle(32, 0)}));
}

TEST_F(AlsaInputHandlerTest, ASourceDisconnectedAndConnectedAgainByAPatchbayPlaysAgain) {
  handler.handle(noteFrom(24, 0, 60));
  handler.handle(subscription(SND_SEQ_EVENT_PORT_UNSUBSCRIBED, 24, 0));
  EXPECT_EQ(receiver.gone, std::vector<int32_t>{alsaHandle(24, 0)}) << "its held note is released";
  handler.handle(subscription(SND_SEQ_EVENT_PORT_SUBSCRIBED, 24, 0));
  handler.handle(noteFrom(24, 0, 62));
  ASSERT_EQ(receiver.log.size(), 2u);
  EXPECT_EQ(receiver.log[1].second, (Bytes{0x90, 62, 90}));
  // Subscribed again, it is followed again: its leaving is reported.
  handler.handle(addressEvent(SND_SEQ_EVENT_CLIENT_EXIT, 24, 0));
  EXPECT_EQ(receiver.gone, (std::vector<int32_t>{alsaHandle(24, 0), alsaHandle(24, 0)}));
}

TEST_F(AlsaInputHandlerTest, NoticesCountOnlyFromTheSystem) {
  handler.handle(noteFrom(24, 0, 60));
  snd_seq_event_t forged = addressEvent(SND_SEQ_EVENT_PORT_EXIT, 24, 0);
  forged.source = {25, 0};
  forged.dest = {kOurClient, kOurPort};
  handler.handle(forged);
  EXPECT_TRUE(receiver.gone.empty());
}

TEST_F(AlsaInputHandlerTest, AnOverrunReleasesEverySenderAndKeepsThemFollowed) {
  handler.handle(noteFrom(24, 0, 60));
  handler.handle(noteFrom(25, 0, 61));
  handler.inputLost();
  EXPECT_EQ(receiver.gone, (std::vector<int32_t>{alsaHandle(24, 0), alsaHandle(25, 0)}));
  handler.handle(addressEvent(SND_SEQ_EVENT_PORT_EXIT, 25, 0));
  EXPECT_EQ(receiver.gone.back(), alsaHandle(25, 0));
}

// Random events of every kind, random notices and random overruns: whatever
// comes, every packet passed on is one well-formed message (or a piece of a
// system exclusive message), and nothing is passed on for a sender that has
// gone until it sends again.
TEST_F(AlsaInputHandlerTest, RandomEventsGiveWellFormedPacketsOnly) {
  std::mt19937 random(20260808);
  std::vector<uint8_t> sysex(300);
  for (int round = 0; round < 20000; ++round) {
    snd_seq_event_t ev = eventOf(snd_seq_event_type_t(random() % 256));
    for (auto& word : ev.data.raw32.d) word = uint32_t(random());
    ev.flags = uint8_t(random()) & ~SND_SEQ_EVENT_LENGTH_MASK;
    ev.source = {uint8_t(random() % 4 == 0 ? 0 : 20 + random() % 8), uint8_t(random() % 2)};
    ev.dest = {kOurClient, uint8_t(random() % 2)};
    if (snd_seq_ev_is_variable_type(&ev)) {
      for (auto& b : sysex) b = uint8_t(random());
      snd_seq_ev_set_variable(&ev, unsigned(random() % sysex.size()), sysex.data());
    }
    if (random() % 500 == 0) handler.inputLost();
    const size_t before = receiver.log.size();
    handler.handle(ev);
    for (size_t i = before; i < receiver.log.size(); ++i) {
      const Bytes& p = receiver.log[i].second;
      ASSERT_FALSE(p.empty());
      if (p[0] == 0xF0 || !(p[0] & 0x80)) continue;  // a piece of system exclusive
      ASSERT_LE(p.size(), 3u);
      for (size_t k = 1; k < p.size(); ++k) ASSERT_LT(p[k], 0x80);
    }
  }
}

}  // namespace
