// The ALSA backend's client, ports and input thread over the in-process fake
// sequencer: what it asks of the sequencer, what it lists, and what its read
// loop makes of notes, notices and overruns. No sequencer device is needed.
#include "AlsaMidiService.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <ostream>
#include <thread>

#include "AlsaEventDecoder.h"
#include "FakeAlsaSequencer.h"

using namespace chimewick::midi;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kOurClient = 129;
constexpr unsigned kReadable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;

// What the input thread passes on, in order, for the test thread to wait on.
struct Recorder : InputReceiver, ClientListener {
  struct Entry {
    std::string what;  // "read", "gone", "added", "removed", "changed"
    int32_t handle;
    std::vector<Bytes> packets;
    bool operator==(const Entry&) const = default;
    friend void PrintTo(const Entry& e, std::ostream* out) {
      *out << e.what << " " << (e.handle >> 16) << ":" << (e.handle & 0xFFFF);
      for (const Bytes& p : e.packets) {
        *out << " [";
        for (uint8_t b : p) *out << " " << int(b);
        *out << " ]";
      }
    }
  };

  void received(int32_t source, PacketData&& data) override {
    std::vector<Bytes> packets;
    for (size_t i = 0; i < data.count(); ++i)
      packets.emplace_back(data.packet(i).begin(), data.packet(i).end());
    add({"read", source, std::move(packets)});
  }
  void sourceGone(int32_t source) override { add({"gone", source, {}}); }
  void objectAdded(ObjectKind kind, int32_t handle) override {
    add({kind == ObjectKind::Source ? "added" : "client added", handle, {}});
  }
  void objectRemoved(ObjectKind kind, int32_t handle) override {
    add({kind == ObjectKind::Source ? "removed" : "client removed", handle, {}});
  }
  void setupChanged() override { add({"changed", 0, {}}); }

  void add(Entry e) {
    std::lock_guard lock(mutex);
    entries.push_back(std::move(e));
  }
  std::vector<Entry> take() {
    std::lock_guard lock(mutex);
    return std::exchange(entries, {});
  }

  std::mutex mutex;
  std::vector<Entry> entries;
};

snd_seq_event_t noteOn(int client, int port, uint8_t key, uint8_t velocity, int destPort) {
  snd_seq_event_t ev;
  snd_seq_ev_clear(&ev);
  snd_seq_ev_set_noteon(&ev, 0, key, velocity);
  ev.source = {uint8_t(client), uint8_t(port)};
  ev.dest = {uint8_t(kOurClient), uint8_t(destPort)};
  return ev;
}

snd_seq_event_t notice(snd_seq_event_type_t type, int client, int port, int destPort) {
  snd_seq_event_t ev;
  snd_seq_ev_clear(&ev);
  ev.type = type;
  ev.source = {SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE};
  ev.dest = {uint8_t(kOurClient), uint8_t(destPort)};
  ev.data.addr = {uint8_t(client), uint8_t(port)};
  return ev;
}

snd_seq_event_t subscriptionNotice(snd_seq_event_type_t type, int client, int port, int ourPort) {
  snd_seq_event_t ev = notice(type, 0, 0, ourPort);
  ev.data.connect.sender = {uint8_t(client), uint8_t(port)};
  ev.data.connect.dest = {uint8_t(kOurClient), uint8_t(ourPort)};
  return ev;
}

class AlsaBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.addPort({0, 0, kReadable, 0, true, "System", "Timer"});
    fake.addPort({0, 1, kReadable, 0, true, "System", "Announce"});
    fake.addPort({14, 0, kReadable | SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                  SND_SEQ_PORT_TYPE_MIDI_GENERIC, true, "Midi Through", "Midi Through Port-0"});
    fake.addPort({24, 0, kReadable | SND_SEQ_PORT_CAP_WRITE, SND_SEQ_PORT_TYPE_MIDI_GENERIC, true, "USB Keys",
                  "USB Keys MIDI 1"});
    int32_t status = -1;
    client = openAlsaClientOn(fake.open(kOurClient), recorder, status);
    ASSERT_TRUE(client);
    ASSERT_EQ(status, 0);
    port = client->createInputPort("ChimewickPort", recorder, status);
    ASSERT_TRUE(port);
    ASSERT_EQ(status, 0);
    ourPort = alsaPortOf(port->handle());
  }
  void TearDown() override {
    port.reset();
    client.reset();
  }

  // Queues events and waits until the input thread has handled them.
  std::vector<Recorder::Entry> deliver(std::initializer_list<snd_seq_event_t> events) {
    for (const auto& ev : events) fake.push(ev);
    EXPECT_TRUE(fake.waitUntilRead());
    return recorder.take();
  }

  FakeAlsaSequencer fake;
  Recorder recorder;
  std::shared_ptr<ServiceClient> client;
  std::unique_ptr<InputPort> port;
  int ourPort = -1;
  const int32_t keys = alsaHandle(24, 0);
};

TEST_F(AlsaBackendTest, OneClientShowsOneInputPortAndHearsAnnouncementsThroughAHiddenOne) {
  EXPECT_EQ(client->handle(), kOurClient);
  EXPECT_EQ(alsaClientOf(port->handle()), kOurClient) << "the input port is a port of the client itself";
  int visible = 0, hidden = 0;
  for (const AlsaPortListing& p : fake.ownPorts()) {
    if (p.capability & SND_SEQ_PORT_CAP_NO_EXPORT) {
      ++hidden;
      const auto subs = fake.subscriptions();
      EXPECT_NE(std::find(subs.begin(), subs.end(),
                          FakeAlsaSequencer::Subscription{p.port, SND_SEQ_CLIENT_SYSTEM,
                                                          SND_SEQ_PORT_SYSTEM_ANNOUNCE}),
                subs.end());
    } else {
      ++visible;
      EXPECT_EQ(p.portName, "ChimewickPort");
      EXPECT_EQ(p.capability, unsigned(SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE));
    }
  }
  EXPECT_EQ(visible, 1);
  EXPECT_EQ(hidden, 1);
}

TEST_F(AlsaBackendTest, TheInputPoolHoldsABurstOfTwoThousandEvents) {
  EXPECT_EQ(fake.inputPool(), kAlsaInputPoolEvents);
  EXPECT_GE(kAlsaInputPoolEvents, 2000);
  EXPECT_GE(fake.inputBufferSize(), size_t(kAlsaInputPoolEvents) * sizeof(snd_seq_event_t));
}

TEST_F(AlsaBackendTest, SourcesLeaveOutTheSystemMidiThroughAndOurselves) {
  fake.addPort({130, 0, kReadable, SND_SEQ_PORT_TYPE_APPLICATION, false, "Player", "Player out"});
  const std::vector<SourceInfo> sources = client->sources();
  ASSERT_EQ(sources.size(), 2u);
  EXPECT_EQ(sources[0].handle, keys);
  EXPECT_EQ(sources[0].name, "USB Keys MIDI 1");
  EXPECT_EQ(sources[1].handle, alsaHandle(130, 0));
}

TEST_F(AlsaBackendTest, ConnectingSubscribesOnceAndAVanishedSourceFailsQuietly) {
  EXPECT_EQ(port->connect(keys), 0);
  EXPECT_EQ(port->connect(keys), 0) << "a second connect is harmless";
  const auto subs = fake.subscriptions();
  EXPECT_EQ(std::count(subs.begin(), subs.end(), FakeAlsaSequencer::Subscription{ourPort, 24, 0}), 1);
  // Listed, then gone before the connect.
  fake.addPort({131, 0, kReadable, SND_SEQ_PORT_TYPE_APPLICATION, false, "Brief", "Brief out"});
  ASSERT_EQ(client->sources().size(), 2u);
  fake.removePort(131, 0);
  EXPECT_NE(port->connect(alsaHandle(131, 0)), 0);
  EXPECT_EQ(deliver({noteOn(24, 0, 60, 100, ourPort)}).size(), 1u) << "the port still works";
}

TEST_F(AlsaBackendTest, MidiFromAConnectedSourceIsReadAndReleasedWhenTheKeyboardIsUnplugged) {
  port->connect(keys);
  EXPECT_EQ(deliver({noteOn(24, 0, 60, 100, ourPort)}),
            (std::vector<Recorder::Entry>{{"read", keys, {{0x90, 60, 100}}}}));
  fake.removePort(24, 0);
  const auto entries =
      deliver({notice(SND_SEQ_EVENT_PORT_EXIT, 24, 0, 0), notice(SND_SEQ_EVENT_CLIENT_EXIT, 24, 0, 0)});
  EXPECT_EQ(entries, (std::vector<Recorder::Entry>{
                         {"removed", keys, {}}, {"gone", keys, {}}, {"client removed", 24, {}}}));
}

TEST_F(AlsaBackendTest, AProgramWritingStraightToThePortIsHeard) {
  // Never listed, never subscribed: it addresses the port directly.
  EXPECT_EQ(deliver({noteOn(77, 3, 64, 90, ourPort)}),
            (std::vector<Recorder::Entry>{{"read", alsaHandle(77, 3), {{0x90, 64, 90}}}}));
  EXPECT_EQ(deliver({notice(SND_SEQ_EVENT_CLIENT_EXIT, 77, 0, 0)}),
            (std::vector<Recorder::Entry>{{"client removed", 77, {}}, {"gone", alsaHandle(77, 3), {}}}))
      << "its notes are released when it quits";
}

TEST_F(AlsaBackendTest, ASourceAPatchbayDisconnectsAndConnectsAgainPlaysAgain) {
  port->connect(keys);
  deliver({noteOn(24, 0, 60, 100, ourPort)});
  // The kernel tells the port itself and the announce port.
  EXPECT_EQ(deliver({subscriptionNotice(SND_SEQ_EVENT_PORT_UNSUBSCRIBED, 24, 0, ourPort),
                     subscriptionNotice(SND_SEQ_EVENT_PORT_UNSUBSCRIBED, 24, 0, ourPort)}),
            (std::vector<Recorder::Entry>{{"gone", keys, {}}}));
  EXPECT_EQ(deliver({subscriptionNotice(SND_SEQ_EVENT_PORT_SUBSCRIBED, 24, 0, ourPort),
                     noteOn(24, 0, 62, 100, ourPort)}),
            (std::vector<Recorder::Entry>{{"read", keys, {{0x90, 62, 100}}}}));
}

TEST_F(AlsaBackendTest, AnOverrunReleasesEverySourceAndAnnouncesWhatCameOrWentMeanwhile) {
  port->connect(keys);
  deliver({noteOn(24, 0, 60, 100, ourPort), noteOn(77, 0, 61, 100, ourPort)});
  // During the burst a keyboard is unplugged and another plugged in; the
  // kernel drops the queued input, their announcements with it.
  fake.addPort({40, 0, kReadable, SND_SEQ_PORT_TYPE_MIDI_GENERIC, true, "New Keys", "New Keys MIDI 1"});
  fake.removePort(24, 0);
  fake.overrun();  // its note-off was among what the kernel dropped
  ASSERT_TRUE(fake.waitUntilRead());
  const auto entries = recorder.take();
  EXPECT_EQ(entries, (std::vector<Recorder::Entry>{{"removed", keys, {}},
                                                   {"gone", keys, {}},
                                                   {"gone", alsaHandle(77, 0), {}},
                                                   {"added", alsaHandle(40, 0), {}}}));
  // Reading goes on.
  EXPECT_EQ(deliver({noteOn(77, 0, 62, 100, ourPort)}),
            (std::vector<Recorder::Entry>{{"read", alsaHandle(77, 0), {{0x90, 62, 100}}}}));
}

TEST_F(AlsaBackendTest, AnnouncementsOfOthersBecomeNotificationsAndOursDoNot) {
  fake.addPort({50, 0, kReadable, SND_SEQ_PORT_TYPE_APPLICATION, false, "Player", "Player out"});
  const auto entries = deliver(
      {notice(SND_SEQ_EVENT_CLIENT_START, 50, 0, 0), notice(SND_SEQ_EVENT_PORT_START, 50, 0, 0),
       notice(SND_SEQ_EVENT_PORT_CHANGE, 50, 0, 0), notice(SND_SEQ_EVENT_PORT_START, kOurClient, 5, 0),
       notice(SND_SEQ_EVENT_PORT_EXIT, 50, 0, 0)});
  EXPECT_EQ(entries, (std::vector<Recorder::Entry>{{"client added", 50, {}},
                                                   {"added", alsaHandle(50, 0), {}},
                                                   {"changed", 0, {}},
                                                   {"removed", alsaHandle(50, 0), {}}}));
  client->detachListener();
  EXPECT_TRUE(deliver({notice(SND_SEQ_EVENT_PORT_START, 51, 0, 0)}).empty());
}

TEST_F(AlsaBackendTest, AReleasedPortIsDeletedAndNeverDeliversAgain) {
  const int released = ourPort;
  port.reset();
  for (const AlsaPortListing& p : fake.ownPorts()) EXPECT_NE(p.port, released);
  EXPECT_TRUE(deliver({noteOn(24, 0, 60, 100, released)}).empty());
}

TEST_F(AlsaBackendTest, ReleasingAPortWhileMidiPoursInEndsPromptly) {
  std::atomic<bool> sending{true};
  std::thread sender([&] {
    for (uint8_t i = 0; sending.load(); ++i) {
      fake.push(noteOn(24, 0, i & 0x7F, 100, ourPort));
      if (i % 64 == 0) std::this_thread::sleep_for(100us);
    }
  });
  std::this_thread::sleep_for(50ms);
  const auto start = std::chrono::steady_clock::now();
  port.reset();
  const auto took = std::chrono::steady_clock::now() - start;
  sending.store(false);
  sender.join();
  EXPECT_LT(took, 2s);
  recorder.take();
  EXPECT_TRUE(deliver({noteOn(24, 0, 60, 100, ourPort)}).empty());
}

TEST_F(AlsaBackendTest, TheInputThreadSleepsWhileNothingComes) {
  deliver({noteOn(24, 0, 60, 100, ourPort)});
  const long before = fake.readCalls();
  std::this_thread::sleep_for(1200ms);
  // A thread that polled every 50 ms would have asked two dozen times.
  EXPECT_LE(fake.readCalls() - before, 4);
}

}  // namespace
