// The JACK backend against a private JACK server on the dummy driver: with
// jack_midiseq (from jackd2) as a real MIDI source of another program, and
// with keyboards of the test's own plugged and unplugged by the hundred.
// Every scan connects every source, as the program's GetSources does.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "ChildProcess.h"
#include "DebugMessage.h"
#include "JackTesting.h"
#include "MidiTestSupport.h"
#include "PrivateJackServer.h"

using chimewick_test::ChildProcess;
using chimewick_test::JackObserver;
using chimewick_test::PrivateJackServer;
using chimewick_test::TestKeyboard;

namespace {

using namespace std::chrono_literals;

class JackLive : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("CHIMEWICK_MIDI", "jack", 1);
    if (!server_.start()) CHIMEWICK_LIVE_SKIP(server_.reason());
    observer_ = std::make_unique<JackObserver>();
    ASSERT_TRUE(observer_->open());
    openClient();
  }
  void TearDown() override {
    chimewick::midi::setJackNoticeDelayForTesting(0ms);
    keyboards_.clear();
    port.reset();
    client.reset();
    observer_.reset();
    rb::ProcessEvents();
    setenv("CHIMEWICK_MIDI", "virtual", 1);
  }

  void openClient() {
    client = rb::New<RecordingClient>();
    client->Init(NewCFStringZel("Chimewick"));
    ASSERT_EQ(client->Lasterror(), 0);
    port = rb::New<RecordingPort>();
    client->CreateInputPort(NewCFStringZel("ChimewickPort"), port);
    ASSERT_NE(port->Handle(), 0);
    seenEvents_ = 0;
  }

  // Connects every source the client lists whenever the client has reported
  // a change since the last scan (ObjectAdded or ObjectRemoved).
  void rescanOnNews() {
    if (!rescanning_ || client->events->size() == seenEvents_) return;
    seenEvents_ = client->events->size();
    const int32_t n = client->NumberOfSources();
    for (int32_t i = 0; i < n; ++i)
      if (rb::Ref<MidiEndpointZel> source = client->GetSource(i)) port->ConnectSource(source);
  }

  // Runs the event loop, scanning on news, until done or the time-out (long:
  // the machine may be busy).
  bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
    return ::pumpUntil(
        [&] {
          rescanOnNews();
          return done();
        },
        timeout);
  }

  TestKeyboard& plug(const std::string& name) {
    std::unique_ptr<TestKeyboard> keyboard = TestKeyboard::Plug(name);
    EXPECT_TRUE(keyboard) << "cannot plug " << name;
    if (!keyboard) throw std::runtime_error("no keyboard");
    keyboards_.push_back(std::move(keyboard));
    return *keyboards_.back();
  }
  void unplug(TestKeyboard& keyboard) {
    keyboard.Unplug();
    std::erase_if(keyboards_, [&](const auto& k) { return k.get() == &keyboard; });
  }

  // Every packet read so far, in order, of one source (0: of any).
  std::vector<Bytes> packetsRead(int32_t source = 0) {
    std::vector<Bytes> all;
    for (const ReadRecord& r : port->log->snapshot())
      if (source == 0 || r.source == source)
        for (const Bytes& p : r.packets) all.push_back(p);
    return all;
  }
  bool wasRead(const Bytes& packet, int32_t source = 0) {
    for (const Bytes& p : packetsRead(source))
      if (p == packet) return true;
    return false;
  }
  // The handle of the listed source of that name, 0 when none is listed.
  int32_t sourceNamed(const std::string& name) {
    const int32_t n = client->NumberOfSources();
    for (int32_t i = 0; i < n; ++i) {
      rb::Ref<MidiEndpointZel> source = client->GetSource(i);
      if (source && rb::StrCompareExact(nameOf(source), name.c_str()) == 0) return source->Handle();
    }
    return 0;
  }
  // The ports of the program's JACK client, as another client sees them.
  size_t programPortCount() { return observer_->ports("^Chimewick:").size(); }

  // Waits until the port has the keyboard connected, then plays a note
  // until it is read. The keyboard's source handle, 0 on failure.
  int32_t plugAndPlay(TestKeyboard& keyboard, uint8_t note) {
    if (!pumpUntil([&] { return observer_->connected(keyboard.PortName()); })) {
      ADD_FAILURE() << keyboard.PortName() << " never connected; listed: " << sourceNamed(keyboard.PortName())
                    << "; the program's ports: " << programPortCount();
      return 0;
    }
    const int32_t source = sourceNamed(keyboard.PortName());
    if (!play(keyboard, {0x90, note, 100}, source)) {
      ADD_FAILURE() << keyboard.PortName() << " is connected but its note is not read";
      return 0;
    }
    return source;
  }

  // Sends a message until it is read from source. A message between two
  // programs is lost when the server misses a cycle (an xrun, frequent on a
  // busy machine without real-time scheduling), and right after a
  // connection, while JACK may still run its two ends in the old order.
  bool play(TestKeyboard& keyboard, std::initializer_list<uint8_t> message, int32_t source) {
    const Bytes bytes(message);
    auto resend = std::chrono::steady_clock::now();
    return pumpUntil([&] {
      if (std::chrono::steady_clock::now() >= resend) {
        keyboard.Send(message);
        resend = std::chrono::steady_clock::now() + 100ms;
      }
      return wasRead(bytes, source);
    });
  }

  PrivateJackServer server_;
  std::unique_ptr<JackObserver> observer_;
  rb::Ref<RecordingClient> client;
  rb::Ref<RecordingPort> port;
  std::vector<std::unique_ptr<TestKeyboard>> keyboards_;
  size_t seenEvents_ = 0;
  bool rescanning_ = true;  // a test that connects by itself turns it off
};

TEST_F(JackLive, MidiseqIsAddedConnectedReadAndRemoved) {
  rescanning_ = false;
  EXPECT_EQ(client->NumberOfSources(), 0);
  // A quarter-second loop: middle C on at frame 0, held for 11000 of its
  // 12000 frames, so that the sequencer mostly ends with the note down.
  ChildProcess midiseq({"jack_midiseq", "Seq", "12000", "0", "60", "11000"});
  if (!midiseq.running()) CHIMEWICK_LIVE_SKIP("jack_midiseq (jackd2) did not start");
  ASSERT_TRUE(pumpUntil([&] { return client->NumberOfSources() == 1; })) << "jack_midiseq never appeared";
  rb::Ref<MidiEndpointZel> source = client->GetSource(0);
  ASSERT_TRUE(source);
  EXPECT_EQ(rb::StrCompareExact(nameOf(source), "Seq:out"), 0);
  port->ConnectSource(source);
  ASSERT_EQ(port->Lasterror(), 0);
  port->ConnectSource(source);
  EXPECT_EQ(port->Lasterror(), 0) << "a second connect is harmless";

  // Both of the loop's messages come (on a busy machine the sequencer may
  // miss cycles: wait for them, not for a count of reads).
  bool noteOn = false, noteOff = false;
  EXPECT_TRUE(pumpUntil([&] {
    for (const ReadRecord& r : port->log->snapshot()) {
      EXPECT_EQ(r.endpoint, source);
      for (const Bytes& p : r.packets) {
        EXPECT_EQ(p.size(), 3u);
        if (p.size() != 3) continue;
        EXPECT_EQ(p[1], 60);
        if (p[0] == 0x90 && p[2] > 0) noteOn = true;
        if (p[0] == 0x80 || (p[0] == 0x90 && p[2] == 0)) noteOff = true;
      }
    }
    return noteOn && noteOff;
  })) << "note-on read: "
      << noteOn << ", note-off read: " << noteOff;

  midiseq.stop();
  EXPECT_TRUE(pumpUntil([&] {
    for (const ClientEvent& e : *client->events)
      if (e.name == "ObjectRemoved") return true;
    return false;
  })) << "no ObjectRemoved";
  // Whenever it stopped, middle C is not left sounding: the last word on it
  // is a note-off, the sequencer's own or the port's on its removal (which
  // may come late on a busy machine).
  const auto lastWordIsOff = [&] {
    bool held = false;
    for (const Bytes& p : packetsRead())
      if (p.size() == 3 && p[1] == 60) held = (p[0] & 0xF0) == 0x90 && p[2] > 0;
    return !held;
  };
  EXPECT_TRUE(pumpUntil(lastWordIsOff)) << "middle C left hanging";
  EXPECT_TRUE(pumpUntil([&] { return client->NumberOfSources() == 0; }));
}

// Each keyboard leaves with a note held: its release arrives, and nothing of
// it stays behind (no JACK port, thread or descriptor, no place in the
// port's tables): the 201st keyboard is connected and heard like the first.
TEST_F(JackLive, TwoHundredKeyboardsComeAndGoAndTheNextIsStillHeard) {
  const size_t idlePorts = programPortCount();
  {
    // One keyboard first, so that whatever JACK makes once is made.
    TestKeyboard& warmUp = plug("warm-up");
    ASSERT_NE(plugAndPlay(warmUp, 59), 0);
    unplug(warmUp);
    ASSERT_TRUE(pumpUntil([&] { return wasRead({0x80, 59, 0}); }));
  }
  ASSERT_TRUE(pumpUntil([&] { return programPortCount() == idlePorts; }));
  const size_t threads = chimewick_test::ThreadCount();
  const size_t descriptors = chimewick_test::FileDescriptorCount();

  // The next keyboard's program starts while one is being unplugged (a
  // program and its JACK client take a while to start on a busy machine).
  std::unique_ptr<TestKeyboard> next = TestKeyboard::Plug("keyboard-0");
  for (int k = 0; k < 200; ++k) {
    ASSERT_TRUE(next) << "cannot plug keyboard " << k;
    keyboards_.push_back(std::move(next));
    TestKeyboard& keyboard = *keyboards_.back();
    if (k % 10 != 9) {
      // Connected, then unplugged at once: its program ends, or (every other
      // one) its port goes first, as a bridge of several keyboards does it.
      ASSERT_TRUE(pumpUntil([&] { return observer_->connected(keyboard.PortName()); }))
          << "keyboard " << k << " was never connected";
      if (k + 1 < 200) next = TestKeyboard::Plug("keyboard-" + std::to_string(k + 1));
      if (k % 2 == 1) keyboard.DropPort();
      unplug(keyboard);
      continue;
    }
    // Every tenth plays a note and leaves with it held.
    const uint8_t note = uint8_t(36 + k % 48);
    const int32_t source = plugAndPlay(keyboard, note);
    ASSERT_NE(source, 0) << "keyboard " << k << " was not connected and heard";
    if (k + 1 < 200) next = TestKeyboard::Plug("keyboard-" + std::to_string(k + 1));
    unplug(keyboard);
    ASSERT_TRUE(pumpUntil([&] {
      return wasRead({uint8_t(0x80), note, 0}, source);
    })) << "keyboard "
        << k << " left its note sounding";
  }

  TestKeyboard& last = plug("keyboard-last");
  ASSERT_NE(plugAndPlay(last, 72), 0) << "a keyboard after two hundred others is not heard";
  EXPECT_TRUE(pumpUntil([&] { return programPortCount() == idlePorts + 1; }))
      << programPortCount() << " JACK ports for one source; idle: " << idlePorts;
  unplug(last);
  EXPECT_TRUE(pumpUntil([&] { return programPortCount() == idlePorts; }));
  EXPECT_TRUE(pumpUntil([&] { return chimewick_test::ThreadCount() == threads; }))
      << chimewick_test::ThreadCount() << " threads, " << threads << " before";
  EXPECT_TRUE(pumpUntil([&] { return chimewick_test::FileDescriptorCount() == descriptors; }))
      << chimewick_test::FileDescriptorCount() << " descriptors, " << descriptors << " before";
}

// Two keyboards at once, each with a note held, unplugged in both orders:
// each one's release comes under its own endpoint.
TEST_F(JackLive, TwoKeyboardsAtOnceAreReleasedInEitherOrder) {
  const size_t idlePorts = programPortCount();
  for (const bool firstGoesFirst : {true, false}) {
    SCOPED_TRACE(firstGoesFirst ? "first unplugged first" : "second unplugged first");
    const std::string suffix = firstGoesFirst ? "a" : "b";
    TestKeyboard& one = plug("one-" + suffix);
    TestKeyboard& two = plug("two-" + suffix);
    const int32_t first = plugAndPlay(one, 60);
    const int32_t second = plugAndPlay(two, 64);
    ASSERT_NE(first, 0);
    ASSERT_NE(second, 0);
    ASSERT_NE(first, second);
    EXPECT_TRUE(pumpUntil([&] { return programPortCount() == idlePorts + 2; }));
    TestKeyboard& leaving = firstGoesFirst ? one : two;
    TestKeyboard& staying = firstGoesFirst ? two : one;
    const int32_t leavingSource = firstGoesFirst ? first : second;
    const int32_t stayingSource = firstGoesFirst ? second : first;
    const uint8_t leavingNote = firstGoesFirst ? 60 : 64;
    const uint8_t stayingNote = firstGoesFirst ? 64 : 60;
    unplug(leaving);
    ASSERT_TRUE(pumpUntil([&] { return wasRead({0x80, leavingNote, 0}, leavingSource); }));
    EXPECT_FALSE(wasRead({0x80, stayingNote, 0})) << "the other keyboard's note was cut";
    ASSERT_TRUE(play(staying, {0x90, 67, 90}, stayingSource)) << "the keyboard that stayed is not heard";
    unplug(staying);
    ASSERT_TRUE(pumpUntil([&] { return wasRead({0x80, stayingNote, 0}, stayingSource); }));
    EXPECT_TRUE(wasRead({0x80, 67, 0}, stayingSource));
    EXPECT_TRUE(pumpUntil([&] { return programPortCount() == idlePorts; }));
    std::lock_guard lock(port->log->mutex);
    port->log->reads.clear();
  }
}

// A patchbay (QjackCtl, Patchage) cuts the keyboard's connection to us
// while a note is held, then connects it again; later the program's own
// scan connects what was cut.
TEST_F(JackLive, AConnectionCutInAPatchbayReleasesItsNotesAndCanBeMadeAgain) {
  TestKeyboard& keyboard = plug("patched");
  const int32_t source = plugAndPlay(keyboard, 60);
  ASSERT_NE(source, 0);
  jack_client_t* patchbay = observer_->client();
  std::string input;
  if (const char** inputs =
          jack_port_get_all_connections(patchbay, jack_port_by_name(patchbay, keyboard.PortName().c_str()))) {
    input = inputs[0];
    jack_free(inputs);
  }
  ASSERT_FALSE(input.empty());
  rescanning_ = false;  // nothing of ours connects it again behind the patchbay's back

  ASSERT_EQ(jack_disconnect(patchbay, keyboard.PortName().c_str(), input.c_str()), 0);
  EXPECT_TRUE(pumpUntil([&] { return wasRead({0x80, 60, 0}, source); })) << "the held note sounds on";

  ASSERT_EQ(jack_connect(patchbay, keyboard.PortName().c_str(), input.c_str()), 0);
  EXPECT_TRUE(play(keyboard, {0x90, 62, 100}, source)) << "the patchbay's connection is not heard";

  ASSERT_EQ(jack_disconnect(patchbay, keyboard.PortName().c_str(), input.c_str()), 0);
  EXPECT_TRUE(pumpUntil([&] { return wasRead({0x80, 62, 0}, source); }));
  rb::Ref<MidiEndpointZel> listed = client->GetSource(0);
  ASSERT_TRUE(listed && listed->Handle() == source);
  port->ConnectSource(listed);
  EXPECT_EQ(port->Lasterror(), 0);
  EXPECT_TRUE(play(keyboard, {0x90, 64, 100}, source)) << "connecting the source again is not heard";
}

// JACK sends two removal notices per port; when the first is read late (a
// busy machine), the departed port can no longer be asked its name.
TEST_F(JackLive, ALateRemovalNoticeStillReleasesTheHeldNotes) {
  TestKeyboard& keyboard = plug("late-notice");
  const int32_t source = plugAndPlay(keyboard, 60);
  ASSERT_NE(source, 0);
  for (uint8_t note : {62, 64, 65, 67}) ASSERT_TRUE(play(keyboard, {0x90, note, 100}, source));
  chimewick::midi::setJackNoticeDelayForTesting(30ms);
  keyboard.DropPort();
  for (uint8_t note : {60, 62, 64, 65, 67})
    EXPECT_TRUE(pumpUntil([&] {
      return wasRead({0x80, note, 0}, source);
    })) << "note "
        << int(note) << " held";
}

// A flood in one cycle (a thousand notes, on and off) and a long
// system-exclusive message: everything arrives, in order, whole.
TEST_F(JackLive, AFloodAndALongSystemExclusiveMessageArriveWhole) {
  TestKeyboard& keyboard = plug("flood");
  const int32_t source = plugAndPlay(keyboard, 60);
  ASSERT_NE(source, 0);
  const size_t before = packetsRead(source).size();
  keyboard.Burst(1000);
  // A resent first note may still come, before or after the flood: the
  // flood is the run that starts with note 0.
  auto floodStart = [&](const std::vector<Bytes>& all) {
    for (size_t i = before; i < all.size(); ++i)
      if (all[i] == Bytes{0x90, 0, 100}) return i;
    return all.size();
  };
  ASSERT_TRUE(pumpUntil([&] {
    const std::vector<Bytes> all = packetsRead(source);
    return all.size() - floodStart(all) >= 2000;
  })) << "of 2000 messages, "
      << packetsRead(source).size() - before << " arrived";
  const std::vector<Bytes> all = packetsRead(source);
  const size_t start = floodStart(all);
  for (size_t i = 0; i < 2000; i += 2) {
    const uint8_t note = uint8_t((i / 2) % 128);
    ASSERT_EQ(all[start + i], (Bytes{0x90, note, 100})) << "message " << i;
    ASSERT_EQ(all[start + i + 1], (Bytes{0x80, note, 0})) << "message " << i + 1;
  }
  const int size = 16 * 1024;
  keyboard.SysEx(size);
  ASSERT_TRUE(pumpUntil([&] { return packetsRead(source).back().size() == size_t(size); }))
      << "the system-exclusive message did not arrive whole";
  const Bytes sysex = packetsRead(source).back();
  EXPECT_EQ(sysex.front(), 0xF0);
  EXPECT_EQ(sysex.back(), 0xF7);
  EXPECT_EQ(sysex[size / 2], (size / 2) % 128);
  // The keyboard still plays, and leaves no note behind.
  EXPECT_TRUE(play(keyboard, {0x90, 61, 90}, source));
  unplug(keyboard);
  EXPECT_TRUE(pumpUntil([&] { return wasRead({0x80, 61, 0}, source); }));
}

// Connecting must not wait for a source's client to become active: the
// window would freeze. The connection follows once it is.
TEST_F(JackLive, ConnectingASourceThatIsNotActiveYetDoesNotWaitForIt) {
  std::unique_ptr<TestKeyboard> slow = TestKeyboard::Plug("slow-keyboard", false);
  ASSERT_TRUE(slow);
  int32_t source = 0;
  ASSERT_TRUE(pumpUntil([&] { return (source = sourceNamed(slow->PortName())) != 0; }))
      << "this JACK lists no ports of inactive clients";
  rb::Ref<MidiEndpointZel> endpoint;
  for (int32_t i = 0; i < client->NumberOfSources(); ++i)
    if (rb::Ref<MidiEndpointZel> e = client->GetSource(i); e && e->Handle() == source) endpoint = e;
  ASSERT_TRUE(endpoint);
  const auto before = std::chrono::steady_clock::now();
  port->ConnectSource(endpoint);
  const auto took = std::chrono::steady_clock::now() - before;
  EXPECT_EQ(port->Lasterror(), 0);
  EXPECT_LT(took, 50ms) << "the UI thread waited for JACK";
  slow->Activate();
  EXPECT_TRUE(pumpUntil([&] { return observer_->connected(slow->PortName()); }))
      << "never connected once active";
  EXPECT_TRUE(play(*slow, {0x90, 61, 70}, source));
}

// With no MIDI arriving, the backend's own threads sleep.
TEST_F(JackLive, IdleBackendThreadsSleep) {
  TestKeyboard& keyboard = plug("idle");
  ASSERT_NE(plugAndPlay(keyboard, 60), 0);
  const auto switches = [] {
    std::map<std::string, long> byName;
    if (DIR* dir = opendir("/proc/self/task")) {
      while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        const std::string task = std::string("/proc/self/task/") + entry->d_name;
        std::string name;
        std::getline(std::ifstream(task + "/comm"), name);
        if (name.rfind("jack-", 0) != 0) continue;
        std::ifstream status(task + "/status");
        for (std::string line; std::getline(status, line);)
          if (line.rfind("voluntary_ctxt_switches:", 0) == 0) byName[name] += std::stol(line.substr(24));
      }
      closedir(dir);
    }
    return byName;
  };
  const auto before = switches();
  EXPECT_TRUE(before.count("jack-midi-work") == 1 && before.count("jack-session") == 1)
      << "the backend's threads are not found by name";
  std::this_thread::sleep_for(1s);
  const auto after = switches();
  for (const auto& [name, count] : after) {
    const long woken = count - (before.count(name) ? before.at(name) : 0);
    EXPECT_LT(woken, 10) << name << " woke " << woken << " times in a second with no MIDI arriving";
  }
}

// The program switches the MIDI layer's traces off at start; JACK's own
// errors still reach standard error, in the program's voice.
TEST_F(JackLive, JackErrorsAreWrittenWithTheTracesOff) {
  DebugMessageEnableZel(false);
  ::testing::internal::CaptureStderr();
  // An error of libjack's: unregistering another client's port.
  jack_port_t* notOurs = jack_port_by_name(observer_->client(), "Chimewick:ChimewickPort");
  ASSERT_NE(notOurs, nullptr);
  EXPECT_NE(jack_port_unregister(observer_->client(), notOurs), 0);
  const std::string said = ::testing::internal::GetCapturedStderr();
  DebugMessageEnableZel(true);
  EXPECT_NE(said.find("Chimewick JACK: "), std::string::npos) << said;
}

// A server that stops under the running client: the sources are reported
// gone, the held note is released, a line says so; when a server comes back
// the client is connected again and a keyboard is heard, without a restart.
TEST_F(JackLive, AServerThatStopsAndComesBackIsFollowed) {
  TestKeyboard& keyboard = plug("before-the-stop");
  const int32_t source = plugAndPlay(keyboard, 60);
  ASSERT_NE(source, 0);
  ::testing::internal::CaptureStderr();
  server_.stop(SIGKILL);
  const bool released = pumpUntil([&] { return wasRead({0x80, 60, 0}, source); });
  const bool removed = pumpUntil([&] {
    for (const ClientEvent& e : *client->events)
      if (e.name == "ObjectRemoved" && e.child == source) return true;
    return false;
  });
  const int32_t listed = client->NumberOfSources();
  // Another client of this process goes with its server, once its threads
  // have seen it go, and before the next server starts (libjack cannot close
  // it once a new one runs).
  observer_.reset();
  keyboards_.clear();  // their client died with the server
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(released) << "the note held when the server died is left sounding";
  EXPECT_TRUE(removed) << "the source was not reported removed";
  EXPECT_EQ(listed, 0);
  EXPECT_NE(said.find("JACK server went away"), std::string::npos) << said;

  ASSERT_TRUE(server_.start()) << server_.reason();
  observer_ = std::make_unique<JackObserver>();
  ASSERT_TRUE(observer_->open());
  TestKeyboard& after = plug("after-the-restart");
  EXPECT_NE(plugAndPlay(after, 67), 0) << "the client did not come back with the server";
  EXPECT_EQ(client->Lasterror(), 0);
}

}  // namespace
