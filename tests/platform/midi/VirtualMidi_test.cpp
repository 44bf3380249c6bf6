// The MIDI classes on the in-process virtual service, as the program uses
// them: a client, one input port, sources made and removed by the test.
#include "VirtualMidi.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <random>

#include "DebugMessage.h"
#include "MidiStatusText.h"
#include "MidiTestSupport.h"
#include "NoMidiServiceCases.h"

namespace {

using namespace std::chrono_literals;

class VirtualService : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    setenv("CHIMEWICK_MIDI", "virtual", 1);
    VirtualMidi::RemoveAllSources();
    VirtualMidi::SetSynchronousDelivery(GetParam());
  }
  void TearDown() override {
    port.reset();
    client.reset();
    VirtualMidi::RemoveAllSources();
    VirtualMidi::SetSynchronousDelivery(false);
    rb::ProcessEvents();
  }

  // Opens the client and its port the way the program does.
  void open() {
    client = rb::New<RecordingClient>();
    client->Init(NewCFStringZel("Chimewick"));
    ASSERT_EQ(client->Lasterror(), 0);
    ASSERT_NE(client->Handle(), 0);
    port = rb::New<RecordingPort>();
    client->CreateInputPort(NewCFStringZel("ChimewickPort"), port);
    ASSERT_EQ(client->Lasterror(), 0);
    ASSERT_NE(port->Handle(), 0);
  }

  rb::Ref<MidiEndpointZel> connect(int32_t index) {
    rb::Ref<MidiEndpointZel> source = client->GetSource(index);
    if (source) port->ConnectSource(source);
    return source;
  }

  bool synchronous() const { return GetParam(); }
  size_t waitReads(size_t n) {
    port->log->waitFor(n, 2s);
    return port->log->count();
  }

  rb::Ref<RecordingClient> client;
  rb::Ref<RecordingPort> port;
};

TEST_P(VirtualService, ListsSourcesInOrderWithTheirNames) {
  VirtualMidi::AddSource("Keys A");
  VirtualMidi::AddSource("Keys B");
  open();
  ASSERT_EQ(client->NumberOfSources(), 2);
  EXPECT_EQ(rb::StrCompareExact(nameOf(client->GetSource(0)), "Keys A"), 0);
  EXPECT_EQ(rb::StrCompareExact(nameOf(client->GetSource(1)), "Keys B"), 0);
  EXPECT_FALSE(client->GetSource(2));
  EXPECT_FALSE(client->GetSource(-1));
  EXPECT_NE(client->GetSource(0)->Handle(), client->GetSource(1)->Handle());
}

TEST_P(VirtualService, ReadGetsExactlyThePacketsSentInOrder) {
  const int32_t keys = VirtualMidi::AddSource("Keys");
  open();
  rb::Ref<MidiEndpointZel> source = connect(0);
  ASSERT_EQ(port->Lasterror(), 0);
  const std::vector<Bytes> sent = {
      {0x90, 60, 100}, {}, {0xB3, 7, 80}, {0xF8}, {0x90, 60, 100, 0x90, 62, 100}};
  ASSERT_TRUE(VirtualMidi::SendPackets(keys, sent));
  ASSERT_TRUE(VirtualMidi::Send(keys, {0xC5, 0x10}));
  ASSERT_EQ(waitReads(2), 2u);
  const auto reads = port->log->snapshot();
  EXPECT_EQ(reads[0].packets, sent);
  EXPECT_EQ(reads[1].packets, (std::vector<Bytes>{{0xC5, 0x10}}));
  EXPECT_EQ(reads[0].source, keys);
  EXPECT_EQ(reads[0].endpoint, source) << "Read names the endpoint that was connected";
  EXPECT_EQ(reads[0].thread == std::this_thread::get_id(), synchronous());
}

TEST_P(VirtualService, LongSystemExclusiveArrivesWhole) {
  const int32_t keys = VirtualMidi::AddSource("Keys");
  open();
  connect(0);
  Bytes sysex(64 * 1024, 0x55);
  sysex.front() = 0xF0;
  sysex.back() = 0xF7;
  ASSERT_TRUE(VirtualMidi::Send(keys, sysex));
  ASSERT_EQ(waitReads(1), 1u);
  EXPECT_EQ(port->log->snapshot()[0].packets, std::vector<Bytes>{sysex});
}

TEST_P(VirtualService, OnlyConnectedSourcesReachRead) {
  const int32_t a = VirtualMidi::AddSource("A");
  const int32_t b = VirtualMidi::AddSource("B");
  open();
  connect(1);
  connect(1);  // connecting again is harmless: still one Read per send
  EXPECT_EQ(port->Lasterror(), 0);
  VirtualMidi::Send(a, {0x90, 1, 1});
  VirtualMidi::Send(b, {0x90, 2, 2});
  ASSERT_EQ(waitReads(1), 1u);
  std::this_thread::sleep_for(20ms);
  ASSERT_EQ(port->log->count(), 1u);
  EXPECT_EQ(port->log->snapshot()[0].source, b);
}

TEST_P(VirtualService, AddAndRemoveRaiseEventsOnTheEventLoop) {
  open();
  const int32_t keys = VirtualMidi::AddSource("Keys");
  ASSERT_TRUE(pumpUntil([&] { return client->events->size() >= 1; }));
  VirtualMidi::RemoveSource(keys);
  ASSERT_TRUE(pumpUntil([&] { return client->events->size() >= 2; }));
  const auto& events = *client->events;
  EXPECT_EQ(events[0].name, "ObjectAdded");
  EXPECT_EQ(events[0].child, keys);
  EXPECT_EQ(events[1].name, "ObjectRemoved");
  EXPECT_EQ(events[1].child, keys);
  for (const auto& e : events) EXPECT_EQ(e.thread, std::this_thread::get_id());
}

TEST_P(VirtualService, RemovedSourceReleasesItsNotesAndPedal) {
  const int32_t keys = VirtualMidi::AddSource("Keys");
  const int32_t other = VirtualMidi::AddSource("Other");
  open();
  connect(0);
  connect(1);
  VirtualMidi::SendPackets(keys, {{0x90, 60, 100}, {0x90, 64, 100}, {0xB0, 64, 127}, {0x80, 64, 0}});
  VirtualMidi::Send(keys, {0x92, 67, 90, 72, 90});  // running status on channel 3
  VirtualMidi::Send(other, {0x90, 40, 100});
  ASSERT_EQ(waitReads(3), 3u);
  VirtualMidi::RemoveSource(keys);
  ASSERT_EQ(waitReads(4), 4u);
  const ReadRecord last = port->log->snapshot()[3];
  EXPECT_EQ(last.source, keys);
  EXPECT_EQ(last.packets, (std::vector<Bytes>{{0x80, 60, 0}, {0x82, 67, 0}, {0x82, 72, 0}, {0xB0, 64, 0}}));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(port->log->count(), 4u) << "the other source's note is not touched";
}

TEST_P(VirtualService, SourceWithNothingHeldGoesQuietly) {
  const int32_t keys = VirtualMidi::AddSource("Keys");
  open();
  connect(0);
  VirtualMidi::SendPackets(keys, {{0x90, 60, 100}, {0x80, 60, 0}});
  ASSERT_EQ(waitReads(1), 1u);
  VirtualMidi::RemoveSource(keys);
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(port->log->count(), 1u);
}

TEST_P(VirtualService, IndexThatVanishedGivesNil) {
  VirtualMidi::AddSource("A");
  const int32_t b = VirtualMidi::AddSource("B");
  open();
  const int32_t n = client->NumberOfSources();
  ASSERT_EQ(n, 2);
  VirtualMidi::RemoveSource(b);
  EXPECT_TRUE(client->GetSource(0));
  EXPECT_FALSE(client->GetSource(1));
}

TEST_P(VirtualService, NoReadAfterThePortIsReleased) {
  const int32_t keys = VirtualMidi::AddSource("Keys");
  open();
  connect(0);
  std::atomic<bool> sending{true};
  std::thread sender([&] {
    while (sending) VirtualMidi::Send(keys, {0x90, 60, 1});
  });
  ASSERT_TRUE(port->log->waitFor(10, 2s));
  std::shared_ptr<ReadLog> log = port->log;
  port.reset();  // the last reference: the port is released here
  const size_t atRelease = log->count();
  std::this_thread::sleep_for(30ms);
  sending = false;
  sender.join();
  EXPECT_EQ(log->count(), atRelease);
}

// A port whose Read handler uses the subclass's own members, as a program's
// port may; what the test watches lives outside it.
struct ReleaseWatch {
  std::atomic<bool> readStarted{false};
  std::atomic<bool> subclassDestroyed{false};
  std::atomic<int> readsFinishedAfterDestruction{0};
};

class MemberUsingPort : public MidiPortZel {
 public:
  explicit MemberUsingPort(std::shared_ptr<ReleaseWatch> watch) : watch_(watch) {
    SetHandler<void(rb::Ref<MidiEndpointZel>, rb::Ref<MidiPacketListZel>)>(
        "Read", [this, watch](rb::Ref<MidiEndpointZel>, rb::Ref<MidiPacketListZel> packets) {
          watch->readStarted = true;
          std::this_thread::sleep_for(30ms);
          packetsSeen_ += packets->Count();
          if (watch->subclassDestroyed) watch->readsFinishedAfterDestruction.fetch_add(1);
        });
  }
  ~MemberUsingPort() override { watch_->subclassDestroyed = true; }

 private:
  std::shared_ptr<ReleaseWatch> watch_;
  int packetsSeen_ = 0;
};

TEST_P(VirtualService, APortReleasedDuringARead) {
  const int32_t keys = VirtualMidi::AddSource("Keys");
  open();
  auto watch = std::make_shared<ReleaseWatch>();
  rb::Ref<MemberUsingPort> busy = rb::New<MemberUsingPort>(watch);
  client->CreateInputPort(NewCFStringZel("BusyPort"), busy);
  ASSERT_EQ(client->Lasterror(), 0);
  busy->ConnectSource(client->GetSource(0));
  std::thread sender([&] { VirtualMidi::Send(keys, {0x90, 60, 1}); });
  const auto giveUp = std::chrono::steady_clock::now() + 2s;
  while (!watch->readStarted && std::chrono::steady_clock::now() < giveUp) std::this_thread::yield();
  ASSERT_TRUE(watch->readStarted);
  busy = nullptr;  // the last reference, while the Read runs
  sender.join();
  EXPECT_TRUE(watch->subclassDestroyed);
  EXPECT_EQ(watch->readsFinishedAfterDestruction, 0) << "the Read ran on in a destroyed subclass";
}

TEST_P(VirtualService, ClientReleasedWhileReadInFlight) {
  const int32_t keys = VirtualMidi::AddSource("Keys");
  open();
  connect(0);
  port->log->duringRead = [] { std::this_thread::sleep_for(30ms); };
  std::thread sender([&] { VirtualMidi::Send(keys, {0x90, 60, 1}); });
  std::this_thread::sleep_for(5ms);
  client.reset();
  sender.join();
  ASSERT_EQ(waitReads(1), 1u);
  EXPECT_EQ(port->log->snapshot()[0].packets, (std::vector<Bytes>{{0x90, 60, 1}}));
  VirtualMidi::Send(keys, {0x80, 60, 0});
  EXPECT_EQ(waitReads(2), 2u) << "the port outlives its client";
}

TEST_P(VirtualService, EventsQueuedForAReleasedClientAreDropped) {
  open();
  VirtualMidi::AddSource("Keys");
  auto events = client->events;
  port.reset();
  client.reset();
  rb::ProcessEvents(20);
  EXPECT_TRUE(events->empty());
}

TEST_P(VirtualService, RandomPacketListsArriveUnchanged) {
  const int32_t keys = VirtualMidi::AddSource("Keys");
  open();
  connect(0);
  std::mt19937 random(42);
  std::vector<std::vector<Bytes>> sent;
  for (int round = 0; round < 200; ++round) {
    std::vector<Bytes> list(size_t(random() % 5));
    for (Bytes& packet : list) {
      packet.resize(size_t(random() % 8));
      for (auto& b : packet) b = uint8_t(random());
    }
    VirtualMidi::SendPackets(keys, list);
    sent.push_back(list);
  }
  ASSERT_EQ(waitReads(sent.size()), sent.size());
  const auto reads = port->log->snapshot();
  for (size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(reads[i].packets, sent[i]) << "list " << i;
  // Whatever garbage came before, removal sends only note-offs and pedal-ups.
  VirtualMidi::RemoveSource(keys);
  std::this_thread::sleep_for(20ms);
  const auto all = port->log->snapshot();
  for (size_t i = sent.size(); i < all.size(); ++i)
    for (const Bytes& p : all[i].packets) {
      ASSERT_EQ(p.size(), 3u);
      EXPECT_TRUE((p[0] & 0xF0) == 0x80 || ((p[0] & 0xF0) == 0xB0 && p[1] == 64 && p[2] == 0));
    }
}

INSTANTIATE_TEST_SUITE_P(Delivery, VirtualService, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Synchronous" : "ReaderThread"; });

TEST(MidiClient, WithoutServiceInitFailsAndThePortGetsNoHandle) {
  setenv("CHIMEWICK_MIDI", "no-such-service", 1);
  auto client = rb::New<RecordingClient>();
  client->Init(NewCFStringZel("Chimewick"));
  EXPECT_NE(client->Lasterror(), 0);
  auto port = rb::New<RecordingPort>();
  client->CreateInputPort(NewCFStringZel("ChimewickPort"), port);
  EXPECT_EQ(port->Handle(), 0);
  EXPECT_NE(client->Lasterror(), 0);
  EXPECT_EQ(client->NumberOfSources(), 0);
  EXPECT_FALSE(client->GetSource(0));
  port->ConnectSource(nullptr);
  EXPECT_NE(port->Lasterror(), 0);
  setenv("CHIMEWICK_MIDI", "virtual", 1);
}

TEST(MidiClient, AutoWithoutSequencerOrJackServerFailsInit) {
  if (access("/dev/snd/seq", F_OK) == 0) GTEST_SKIP() << "skipped: this machine has an ALSA sequencer";
  setenv("CHIMEWICK_MIDI", "auto", 1);
  setenv("JACK_DEFAULT_SERVER", ("chimewick-none-" + std::to_string(getpid())).c_str(), 1);
  auto client = rb::New<RecordingClient>();
  client->Init(NewCFStringZel("Chimewick"));
  EXPECT_NE(client->Lasterror(), 0);
  EXPECT_EQ(client->Handle(), 0);
  unsetenv("JACK_DEFAULT_SERVER");
  setenv("CHIMEWICK_MIDI", "virtual", 1);
}

// With no service of the kind the setting asks for, Init fails; making the
// port then keeps Init's status as the client's (the program shows it twice),
// and that status reads in words after the setting.
TEST(MidiClient, AFailedInitKeepsItsStatusThroughCreateInputPortAndSaysWhyInWords) {
  const bool hasSequencer = access("/dev/snd/seq", F_OK) == 0;
  // A JACK server name nobody uses: no JACK server answers.
  setenv("JACK_DEFAULT_SERVER", ("chimewick-none-" + std::to_string(getpid())).c_str(), 1);
  for (const chimewick_test::NoMidiServiceCase& c : chimewick_test::kNoMidiServiceCases) {
    SCOPED_TRACE(c.setting);
    if (c.needsNoSequencer && hasSequencer) continue;  // this machine has the service
    setenv("CHIMEWICK_MIDI", c.setting, 1);
    auto client = rb::New<RecordingClient>();
    client->Init(NewCFStringZel("Chimewick"));
    const int32_t status = client->Lasterror();
    EXPECT_NE(status, 0);
    auto port = rb::New<RecordingPort>();
    client->CreateInputPort(NewCFStringZel("ChimewickPort"), port);
    EXPECT_EQ(port->Handle(), 0);
    EXPECT_EQ(client->Lasterror(), status) << "the client's status stays Init's";
    EXPECT_EQ(MidiStatusText(status).Bytes(), c.words);
  }
  EXPECT_EQ(MidiStatusText(0).Bytes(), "");
  unsetenv("JACK_DEFAULT_SERVER");
  setenv("CHIMEWICK_MIDI", "virtual", 1);
  if (hasSequencer) GTEST_SKIP() << "skipped in part: this machine has an ALSA sequencer";
}

TEST(MidiClient, BadArgumentsSetAStatusAndNothingElse) {
  setenv("CHIMEWICK_MIDI", "virtual", 1);
  auto client = rb::New<RecordingClient>();
  client->Init(nullptr);
  EXPECT_EQ(client->Lasterror(), 0);
  client->CreateInputPort(NewCFStringZel("p"), nullptr);
  EXPECT_NE(client->Lasterror(), 0);
  auto port = rb::New<RecordingPort>();
  client->CreateInputPort(NewCFStringZel("p"), port);
  port->ConnectSource(rb::New<MidiEndpointZel>(987654, "gone"));
  EXPECT_NE(port->Lasterror(), 0);
}

TEST(MidiObjects, NameKeyAndProperties) {
  auto endpoint = rb::New<MidiEndpointZel>(5, "Piano");
  EXPECT_EQ(rb::StrCompareExact(nameOf(endpoint), "Piano"), 0);
  EXPECT_FALSE(endpoint->StringProperty(NewCFStringZel("manufacturer")));
  EXPECT_FALSE(endpoint->StringProperty(nullptr));
  EXPECT_EQ(rb::StrCompareExact(NewCFStringZel("abc")->Str(), "abc"), 0);
}

TEST(MidiObjects, PacketListItemsAndMemory) {
  chimewick::midi::PacketData data;
  data.add(Bytes{0x90, 1, 2});
  data.add(Bytes{});
  auto list = rb::New<MidiPacketListZel>(std::move(data));
  ASSERT_EQ(list->Count(), 2);
  EXPECT_EQ(list->Item(0)->DataMemory()->Size(), 3);
  EXPECT_EQ(list->Item(0)->DataMemory()->Byte(2), 2);
  EXPECT_EQ(list->Item(1)->DataMemory()->Size(), 0);
  EXPECT_FALSE(list->Item(2));
  EXPECT_FALSE(list->Item(-1));
  EXPECT_EQ(rb::New<MidiPacketListZel>()->Count(), 0);
}

TEST(MidiObjects, DebugTracesCanBeSwitchedOff) {
  EXPECT_TRUE(DebugMessagesEnabled());
  DebugMessageEnableZel(false);
  EXPECT_FALSE(DebugMessagesEnabled());
  testing::internal::CaptureStderr();
  DebugMessageZel("hidden");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  DebugMessageEnableZel(true);
  testing::internal::CaptureStderr();
  DebugMessageZel("shown");
  EXPECT_NE(testing::internal::GetCapturedStderr().find("shown"), std::string::npos);
}

}  // namespace
