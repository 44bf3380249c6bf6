// The ALSA backend against a real sequencer (the test machine of
// vm/alsa-vm-test.sh, or a desktop): programs as sources, a patchbay, a
// program writing straight to our port, a burst, the kernel's Midi Through.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "AlsaLiveSupport.h"
#include "MidiTestSupport.h"

namespace {

using namespace std::chrono_literals;
using alsa_live::SeqClient;

// A client and its port opened on the ALSA sequencer, as the program opens
// them, with the sources connected by a scan.
class AlsaLive : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!alsa_live::haveSequencer()) GTEST_SKIP() << "skipped: no ALSA sequencer (/dev/snd/seq)";
    setenv("CHIMEWICK_MIDI", "alsa", 1);
    client = rb::New<RecordingClient>();
    client->Init(NewCFStringZel(kName));
    ASSERT_EQ(client->Lasterror(), 0) << "the ALSA sequencer does not open";
    port = rb::New<RecordingPort>();
    client->CreateInputPort(NewCFStringZel("ChimewickPort"), port);
    ASSERT_NE(port->Handle(), 0);
  }
  void TearDown() override {
    port.reset();
    client.reset();
    rb::ProcessEvents(10);
    setenv("CHIMEWICK_MIDI", "virtual", 1);
  }

  // The endpoint of the source named name, once the client lists it.
  rb::Ref<MidiEndpointZel> waitForSource(const std::string& name) {
    rb::Ref<MidiEndpointZel> found;
    pumpUntil([&] {
      for (int32_t i = 0; !found && i < client->NumberOfSources(); ++i)
        if (auto s = client->GetSource(i); s && rb::StrCompareExact(nameOf(s), name) == 0) found = s;
      return bool(found);
    });
    return found;
  }

  // Every packet read from source so far, in order.
  std::vector<Bytes> packetsFrom(int32_t source) {
    std::vector<Bytes> packets;
    for (const ReadRecord& r : port->log->snapshot())
      if (r.source == source) packets.insert(packets.end(), r.packets.begin(), r.packets.end());
    return packets;
  }

  // Waits until source has sent at least n packets.
  bool waitForPackets(int32_t source, size_t n, std::chrono::milliseconds limit = 10s) {
    return pumpUntil([&] { return packetsFrom(source).size() >= n; }, limit);
  }

  // Waits until nothing more arrives for a while.
  void waitForQuiet() {
    size_t last = port->log->count();
    for (int still = 0; still < 5;) {
      rb::ProcessEvents(10);
      std::this_thread::sleep_for(100ms);
      const size_t now = port->log->count();
      still = now == last ? still + 1 : 0;
      last = now;
    }
  }

  static constexpr const char* kName = "Chimewick live";
  rb::Ref<RecordingClient> client;
  rb::Ref<RecordingPort> port;
};

TEST_F(AlsaLive, SequencerSourceIsListedConnectedReadAndReleasedOnExit) {
  // Another sequencer client with a readable port plays the keyboard.
  SeqClient keyboard("Test keyboard");
  ASSERT_TRUE(keyboard.ok());
  // The client's start and then its port's each raise ObjectAdded; the
  // source is there once the port's has come.
  ASSERT_TRUE(pumpUntil([&] {
    return std::any_of(client->events->begin(), client->events->end(),
                       [](const ClientEvent& e) { return e.name == "ObjectAdded"; });
  }));
  rb::Ref<MidiEndpointZel> source = waitForSource("Test keyboard out");
  ASSERT_TRUE(source);
  port->ConnectSource(source);
  ASSERT_EQ(port->Lasterror(), 0);
  port->ConnectSource(source);
  EXPECT_EQ(port->Lasterror(), 0) << "a second connect is harmless";

  keyboard.send({0x90, 60, 100});
  ASSERT_TRUE(waitForPackets(keyboard.handle(), 1));
  EXPECT_EQ(packetsFrom(keyboard.handle()), (std::vector<Bytes>{{0x90, 60, 100}}));

  const int32_t handle = keyboard.handle();
  keyboard.close();  // the keyboard leaves with the note down
  ASSERT_TRUE(waitForPackets(handle, 2));
  EXPECT_EQ(packetsFrom(handle)[1], (Bytes{0x80, 60, 0}));
  ASSERT_TRUE(pumpUntil([&] {
    return std::any_of(client->events->begin(), client->events->end(),
                       [&](const ClientEvent& e) { return e.name == "ObjectRemoved" && e.child == handle; });
  }));
}

TEST_F(AlsaLive, ThePatchbayShowsOneClientOfOursWithOneInputPort) {
  SeqClient patchbay("Patchbay", false);
  int ours = 0;
  for (const SeqClient::Client& c : patchbay.clients()) {
    if (c.name != kName) continue;
    ++ours;
    std::vector<std::string> visible;
    for (const SeqClient::Port& p : c.ports)
      if (!(p.capability & SND_SEQ_PORT_CAP_NO_EXPORT)) visible.push_back(p.name);
    EXPECT_EQ(visible, std::vector<std::string>{"ChimewickPort"});
  }
  EXPECT_EQ(ours, 1);
}

TEST_F(AlsaLive, TheKernelsMidiThroughIsNoSource) {
  SeqClient patchbay("Patchbay", false);
  int through = -1;
  for (const SeqClient::Client& c : patchbay.clients())
    if (c.kernel && c.name == "Midi Through") through = c.client;
  if (through < 0) GTEST_SKIP() << "skipped: no Midi Through client (snd-seq-dummy is not loaded)";
  for (int32_t i = 0; i < client->NumberOfSources(); ++i)
    EXPECT_NE(client->GetSource(i)->Handle() >> 16, through) << nameOf(client->GetSource(i)).Bytes();
}

TEST_F(AlsaLive, ASourceAPatchbayDisconnectsAndConnectsAgainPlaysAgain) {
  SeqClient player("Player");
  SeqClient patchbay("Patchbay", false);
  rb::Ref<MidiEndpointZel> source = waitForSource("Player out");
  ASSERT_TRUE(source);
  port->ConnectSource(source);
  player.send({0x90, 60, 100});
  ASSERT_TRUE(waitForPackets(player.handle(), 1));

  ASSERT_EQ(patchbay.patch(false, player.handle(), port->Handle()), 0);
  ASSERT_TRUE(waitForPackets(player.handle(), 2)) << "the held note is let go when the connection is cut";
  EXPECT_EQ(packetsFrom(player.handle())[1], (Bytes{0x80, 60, 0}));
  player.send({0x90, 61, 100});  // to nobody: not connected

  ASSERT_EQ(patchbay.patch(true, player.handle(), port->Handle()), 0);
  player.send({0x90, 62, 100});
  ASSERT_TRUE(waitForPackets(player.handle(), 3));
  EXPECT_EQ(packetsFrom(player.handle())[2], (Bytes{0x90, 62, 100}));
}

TEST_F(AlsaLive, AProgramWritingStraightToOurPortIsHeardAndReleasedWhenItQuits) {
  // Not a source (its port cannot be subscribed to), never connected: it
  // addresses our port itself, as aplaymidi -p does.
  SeqClient writer("Writer", true, false);
  ASSERT_TRUE(writer.ok());
  const int32_t handle = writer.handle();
  writer.send({0x91, 64, 90}, port->Handle());
  ASSERT_TRUE(waitForPackets(handle, 1));
  EXPECT_EQ(packetsFrom(handle), (std::vector<Bytes>{{0x91, 64, 90}}));
  writer.close();
  ASSERT_TRUE(waitForPackets(handle, 2));
  EXPECT_EQ(packetsFrom(handle)[1], (Bytes{0x81, 64, 0}));
}

TEST_F(AlsaLive, ABurstOfTwoThousandEventsLeavesNoNoteHeld) {
  SeqClient player("Burst");
  rb::Ref<MidiEndpointZel> source = waitForSource("Burst out");
  ASSERT_TRUE(source);
  port->ConnectSource(source);
  // 1000 notes struck and let go as fast as the sender can: more than the
  // kernel keeps for a client by default.
  for (int i = 0; i < 1000; ++i) {
    player.send({0x92, uint8_t(36 + i % 48), 90});
    player.send({0x82, uint8_t(36 + i % 48), 0});
  }
  waitForQuiet();
  const std::vector<Bytes> packets = packetsFrom(player.handle());
  std::printf("burst: 2000 events sent, %zu packets read (an overrun releases what was held)\n",
              packets.size());
  EXPECT_TRUE(alsa_live::notesLeftDown(packets).empty())
      << alsa_live::notesLeftDown(packets).size() << " notes left held";
  // Input goes on.
  const size_t before = packets.size();
  player.send({0x90, 1, 1});
  ASSERT_TRUE(waitForPackets(player.handle(), before + 1));
  EXPECT_EQ(packetsFrom(player.handle()).back(), (Bytes{0x90, 1, 1}));
}

TEST_F(AlsaLive, ASourceThatLeavesBetweenListingAndConnectingIsRefusedQuietly) {
  SeqClient brief("Brief");
  SeqClient steady("Steady");
  rb::Ref<MidiEndpointZel> gone = waitForSource("Brief out");
  rb::Ref<MidiEndpointZel> there = waitForSource("Steady out");
  ASSERT_TRUE(gone && there);
  brief.close();
  port->ConnectSource(gone);
  EXPECT_NE(port->Lasterror(), 0);
  port->ConnectSource(there);
  EXPECT_EQ(port->Lasterror(), 0);
  steady.send({0x90, 70, 70});
  ASSERT_TRUE(waitForPackets(steady.handle(), 1));
}

}  // namespace
