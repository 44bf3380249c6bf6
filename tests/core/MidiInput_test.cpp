// MIDI input: the client, the port and the scan of sources over the virtual
// MIDI service, the status label, failures, and MIDI from outside that is too
// much, garbage or cut off.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <random>
#include <set>
#include <thread>

#include "CoreTestFixture.h"
#include "DebugMessage.h"
#include "MyMidiClientZel.h"
#include "MyMidiPort.h"
#include "NoMidiServiceCases.h"
#include "VirtualMidi.h"

namespace {

using Events = std::vector<std::vector<int32_t>>;
using Clock = std::chrono::steady_clock;

// A thread that sends from a source as fast as it can, the i-th message
// made by message(i), until stopped, until the source refuses, or until it
// goes: joined on every way out of a test, a failed assertion included.
class BusySender {
 public:
  template <class MessageFn>
  BusySender(int32_t source, MessageFn message)
      : thread_([this, source, message] {
          for (uint32_t i = 0; !stop_.load(); ++i)
            if (!VirtualMidi::Send(source, message(i))) break;
        }) {}
  ~BusySender() { Stop(); }
  BusySender(const BusySender&) = delete;
  BusySender& operator=(const BusySender&) = delete;

  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class MidiInputTest : public coretest::MidiCoreTest {
 protected:
  // A built window with a started player whose MIDI input is opened as its
  // Open handler would: a new client, then openMidiClient.
  rb::Ref<Window1> OpenInput() {
    rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
    w->Client = MyMidiClientZel::New();
    w->openMidiClient();
    return w;
  }

  // Runs the event loop until done() or a few seconds have passed.
  template <class Done>
  static bool WaitFor(Done done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = Clock::now() + limit;
    while (!done()) {
      if (Clock::now() > deadline) return false;
      rb::ProcessEvents(5);
    }
    return true;
  }

  static std::string Label(const rb::Ref<Window1>& w) { return w->Warnings()->Text().Bytes(); }
  static Events Sent() { return coretest::TheRecording().MidiEvents(); }
  static size_t SentCount() { return size_t(coretest::TheRecording().callCount()); }
};

TEST_F(MidiInputTest, WithoutSourcesTheLabelSaysSoAndAKeyboardPluggedInLaterIsConnected) {
  rb::Ref<Window1> w = OpenInput();
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(Label(w), " No keyboard found");
  EXPECT_EQ(w->sources.Count(), 0);

  const int32_t source = VirtualMidi::AddSource("Late keyboard");
  ASSERT_TRUE(WaitFor([&] { return Label(w) == " Late keyboard"; })) << Label(w);
  EXPECT_EQ(w->sources.Count(), 1);
  VirtualMidi::Send(source, {0x90, 0x3C, 0x64});
  ASSERT_TRUE(WaitFor([] { return !Sent().empty(); }));
  EXPECT_EQ(Sent(), (Events{{0x90, 0x3C, 0x64, 0}}));
}

TEST_F(MidiInputTest, TwoSourcesAreBothConnectedAndTheSecondOneIsNamed) {
  const int32_t first = VirtualMidi::AddSource("First keyboard");
  const int32_t second = VirtualMidi::AddSource("Second keyboard");
  rb::Ref<Window1> w = OpenInput();
  EXPECT_EQ(Label(w), " Second keyboard");
  EXPECT_EQ(w->sources.Count(), 2);
  VirtualMidi::Send(first, {0x90, 0x30, 0x40});
  ASSERT_TRUE(WaitFor([] { return Sent().size() == 1; }));
  VirtualMidi::Send(second, {0x91, 0x31, 0x41});
  ASSERT_TRUE(WaitFor([] { return Sent().size() == 2; }));
  EXPECT_EQ(Sent(), (Events{{0x90, 0x30, 0x40, 0}, {0x91, 0x31, 0x41, 0}}));

  // Plugging in a third: the scan connects all three again and appends them.
  VirtualMidi::AddSource("Third keyboard");
  ASSERT_TRUE(WaitFor([&] { return Label(w) == " Third keyboard"; }));
  EXPECT_EQ(w->sources.Count(), 5);
}

TEST_F(MidiInputTest, UnpluggingTheOnlyKeyboardShowsNoKeyboardAndKeepsItsEntry) {
  const int32_t source = VirtualMidi::AddSource("Only keyboard");
  rb::Ref<Window1> w = OpenInput();
  ASSERT_EQ(Label(w), " Only keyboard");
  rb::Ref<MidiEndpointZel> entry = w->sources(0);
  VirtualMidi::RemoveSource(source);
  ASSERT_TRUE(WaitFor([&] { return Label(w) == " No keyboard found"; })) << Label(w);
  ASSERT_EQ(w->sources.Count(), 1);
  EXPECT_EQ(w->sources(0), entry);
}

// The two messages show the client's one status; the first also says in
// words what is missing on this system.
TEST_F(MidiInputTest, AClientThatCannotStartShowsBothMessagesAndTheWindowWorksWithoutMidi) {
  const bool hasSequencer = access("/dev/snd/seq", F_OK) == 0;
  // A JACK server name nobody uses: no JACK server answers.
  const chimewick_test::ScopedEnvironment noJack("JACK_DEFAULT_SERVER",
                                                 "chimewick-none-" + std::to_string(getpid()));
  for (const chimewick_test::NoMidiServiceCase& c : chimewick_test::kNoMidiServiceCases) {
    SCOPED_TRACE(c.setting);
    if (c.needsNoSequencer && hasSequencer) continue;  // this machine has the service
    setenv("CHIMEWICK_MIDI", c.setting, 1);
    messages_.clear();
    rb::Ref<Window1> w = OpenInput();
    const int32_t status = w->Client->Lasterror();
    ASSERT_NE(status, 0);
    ASSERT_EQ(messages_.size(), 2u);
    EXPECT_EQ(messages_[0],
              "Chimewick initialization failed: " + std::to_string(status) + " (" + c.words + ")");
    EXPECT_EQ(messages_[1], "There was an error: " + std::to_string(status));
    EXPECT_EQ(Label(w), "Initializing...");
    EXPECT_EQ(w->sources.Count(), 0);

    // The instrument list still drives the synthesizer.
    coretest::TheRecording().clear();
    w->InstrumentsList()->SetListIndex(2);
    EXPECT_FALSE(coretest::TheRecording().CallsOf("InstrumentIDOnChannel.Set").empty());
  }
  if (hasSequencer) GTEST_SKIP() << "skipped in part: this machine has an ALSA sequencer";
}

TEST_F(MidiInputTest, NoPortObjectShowsCannotOpenPortAndConnectsNothing) {
  VirtualMidi::AddSource("Unused keyboard");
  MyMidiPort::SetRefuseNewForTesting(true);
  rb::Ref<Window1> w = OpenInput();
  EXPECT_EQ(messages_, (std::vector<std::string>{"Cannot open port"}));
  EXPECT_FALSE(w->port);
  EXPECT_EQ(Label(w), "Initializing...");
  EXPECT_EQ(w->sources.Count(), 0);

  // A later rescan has no port to connect to and fails in no way.
  const int32_t later = VirtualMidi::AddSource("Later keyboard");
  ASSERT_TRUE(WaitFor([&] { return Label(w) == " Later keyboard"; })) << Label(w);
  VirtualMidi::Send(later, {0x90, 0x3C, 0x64});
  rb::ProcessEvents(50);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(MidiInputTest, NoteOnAndOffFromTheInputThreadReachTheSynthesizerOnceEach) {
  const int32_t source = VirtualMidi::AddSource("Keyboard");
  rb::Ref<Window1> w = OpenInput();
  VirtualMidi::Send(source, {0xB3, 0x07, 0x50});
  VirtualMidi::Send(source, {0x90, 0x3C, 0x64});
  VirtualMidi::Send(source, {0xFE});
  VirtualMidi::Send(source, {0x80, 0x3C, 0x00});
  ASSERT_TRUE(WaitFor([] { return Sent().size() >= 3; }));
  rb::ProcessEvents(20);
  EXPECT_EQ(Sent(), (Events{{0xB3, 0x07, 0x50, 0}, {0x90, 0x3C, 0x64, 0}, {0x80, 0x3C, 0x00, 0}}));
  EXPECT_EQ(w->Volume.load(), 80);
}

TEST_F(MidiInputTest, AFloodOfAHundredThousandMessagesIsAllPlayedAndTheWindowStaysUsable) {
  const int32_t source = VirtualMidi::AddSource("Flooding keyboard");
  rb::Ref<Window1> w = OpenInput();
  constexpr int kMessages = 100000;
  const auto start = Clock::now();
  for (int i = 0; i < kMessages; ++i) {
    const uint8_t note = uint8_t(0x30 + i % 24);
    VirtualMidi::Send(source, {uint8_t(i % 2 ? 0x80 : 0x90), note, uint8_t(i % 2 ? 0 : 0x50)});
  }
  const auto sendTime = Clock::now() - start;
  ASSERT_TRUE(WaitFor([] { return SentCount() >= size_t(kMessages); }, std::chrono::seconds(60)))
      << SentCount() << " of " << kMessages;
  EXPECT_EQ(SentCount(), size_t(kMessages));
  EXPECT_LT(std::chrono::duration<double>(sendTime).count(), 60.0);
  // The window still answers.
  w->InstrumentsList()->SetListIndex(1);
  EXPECT_EQ(w->InstrumentsList()->ListIndex(), 1);
}

TEST_F(MidiInputTest, RandomBytesFromASourceNeverStopTheProgram) {
  const int32_t source = VirtualMidi::AddSource("Noisy keyboard");
  rb::Ref<Window1> w = OpenInput();
  std::mt19937 random(8122026);
  for (int round = 0; round < 2000; ++round) {
    std::vector<uint8_t> bytes(random() % 12);
    for (uint8_t& b : bytes) b = uint8_t(random());
    VirtualMidi::Send(source, bytes);
  }
  // Whatever the garbage made of it, a clean note still comes through after it.
  VirtualMidi::Send(source, {0x90, 0x7F, 0x7F});
  ASSERT_TRUE(WaitFor([] {
    const Events sent = Sent();
    return std::find(sent.begin(), sent.end(), std::vector<int32_t>{0x90, 0x7F, 0x7F, 0}) != sent.end();
  }));
  for (const std::vector<int32_t>& e : Sent()) {
    EXPECT_NE(e[0], 0xFE);
    for (int32_t b : e) EXPECT_TRUE(b >= 0 && b <= 0xFF);
  }
}

// The notes that a run of events leaves sounding, by (channel, note).
std::set<std::pair<int32_t, int32_t>> NotesLeftDown(const Events& events) {
  std::set<std::pair<int32_t, int32_t>> down;
  for (const std::vector<int32_t>& e : events) {
    const int32_t kind = e[0] & 0xF0, channel = e[0] & 0x0F;
    if (kind == 0x90 && e[2] > 0) down.insert({channel, e[1]});
    if (kind == 0x80 || (kind == 0x90 && e[2] == 0)) down.erase({channel, e[1]});
  }
  return down;
}

TEST_F(MidiInputTest, ASourceRemovedWhileItSendsLeavesNoNoteHangingAndPlayGoesOn) {
  const int32_t source = VirtualMidi::AddSource("Unplugged keyboard");
  rb::Ref<Window1> w = OpenInput();
  BusySender sender(source, [](uint32_t i) {
    return std::vector<uint8_t>{0x90, uint8_t(0x10 + i % 100), 0x40};
  });
  ASSERT_TRUE(WaitFor([] { return SentCount() > 100; }));
  VirtualMidi::RemoveSource(source);
  sender.Stop();
  ASSERT_TRUE(WaitFor([&] { return Label(w) == " No keyboard found"; }));
  // The input thread may still be working through the flood; the note-offs
  // come after the last note it delivers.
  EXPECT_TRUE(WaitFor([] { return NotesLeftDown(Sent()).empty(); }))
      << NotesLeftDown(Sent()).size() << " notes left sounding";

  // The next keyboard is connected and heard as before.
  const int32_t next = VirtualMidi::AddSource("Next keyboard");
  ASSERT_TRUE(WaitFor([&] { return Label(w) == " Next keyboard"; }));
  VirtualMidi::Send(next, {0x92, 0x40, 0x41});
  EXPECT_TRUE(WaitFor([] {
    const Events sent = Sent();
    return std::find(sent.begin(), sent.end(), std::vector<int32_t>{0x92, 0x40, 0x41, 0}) != sent.end();
  }));
}

TEST_F(MidiInputTest, AnUnpluggedKeyboardLeavesNoNoteSounding) {
  const int32_t source = VirtualMidi::AddSource("Unplugged keyboard");
  rb::Ref<Window1> w = OpenInput();
  for (uint8_t note = 0x30; note < 0x40; ++note) VirtualMidi::Send(source, {0x90, note, 0x40});
  VirtualMidi::Send(source, {0x83, 0x31, 0x00});
  VirtualMidi::Send(source, {0xB0, 0x40, 0x7F});  // sustain pedal down
  ASSERT_TRUE(WaitFor([] { return Sent().size() == 18; }));
  VirtualMidi::RemoveSource(source);
  ASSERT_TRUE(WaitFor([&] { return Label(w) == " No keyboard found"; }));
  rb::ProcessEvents(50);
  const Events sent = Sent();
  EXPECT_TRUE(NotesLeftDown(sent).empty()) << NotesLeftDown(sent).size() << " notes left sounding";
  EXPECT_NE(std::find(sent.begin() + 18, sent.end(), std::vector<int32_t>{0xB0, 0x40, 0x00, 0}), sent.end())
      << "the sustain pedal is let go";
}

TEST_F(MidiInputTest, NoReadArrivesAfterThePortIsReleased) {
  const int32_t source = VirtualMidi::AddSource("Busy keyboard");
  rb::Ref<Window1> w = OpenInput();
  BusySender sender(source, [](uint32_t) { return std::vector<uint8_t>{0x90, 0x3C, 0x40}; });
  ASSERT_TRUE(WaitFor([] { return SentCount() > 100; }));
  w->port = nullptr;  // the window's only reference: stops and joins the input thread
  const size_t atRelease = SentCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  rb::ProcessEvents(10);
  EXPECT_EQ(SentCount(), atRelease);
}

TEST_F(MidiInputTest, ReleasingTheWindowWhileMidiArrivesStopsInputBeforeThePlayerGoes) {
  const int32_t source = VirtualMidi::AddSource("Busy keyboard");
  rb::Ref<Window1> w = OpenInput();
  BusySender sender(source, [](uint32_t) { return std::vector<uint8_t>{0x90, 0x3C, 0x40}; });
  ASSERT_TRUE(WaitFor([] { return SentCount() > 100; }));
  Forget(w);
  CloseQuietly(w);  // drops the last reference: the window is released here
  sender.Stop();
  // The player's destructor is the last call: nothing was sent to it after.
  const std::vector<RecordedCall> calls = coretest::TheRecording().Calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_STREQ(calls.back().member, "__exit");
  EXPECT_EQ(coretest::TheRecording().liveObjects(), 0);
}

// What the synthesizer sounds after events, as FluidSynth takes them: notes
// held by (channel, note) and channels whose pedal is down. A message with a
// data byte beyond 127 is refused and changes nothing (a note-off's velocity
// is not looked at).
struct Sounding {
  std::set<std::pair<int32_t, int32_t>> notes;
  std::set<int32_t> pedals;
};

Sounding SoundingAfter(const Events& events) {
  Sounding s;
  for (const std::vector<int32_t>& e : events) {
    const int32_t kind = e[0] & 0xF0, channel = e[0] & 0x0F;
    if (e[0] < 0x80 || e[0] > 0xEF || e[1] > 127) continue;
    if (kind == 0x80 || (kind == 0x90 && e[2] == 0)) s.notes.erase({channel, e[1]});
    if (kind == 0x90 && e[2] > 0 && e[2] <= 127) s.notes.insert({channel, e[1]});
    if (kind == 0xB0 && e[2] <= 127) {
      if (e[1] == 64 && e[2] >= 64) s.pedals.insert(channel);
      if (e[1] == 64 && e[2] < 64) s.pedals.erase(channel);
      if (e[1] == 120 || e[1] == 123)
        std::erase_if(s.notes, [&](const auto& n) { return n.first == channel; });
    }
  }
  return s;
}

TEST_F(MidiInputTest, APacketWithANoteOnAndARunningStatusNoteOffIsReleasedWhenItsKeyboardGoes) {
  const int32_t source = VirtualMidi::AddSource("Packing keyboard");
  rb::Ref<Window1> w = OpenInput();
  // One packet, two messages: only the first one is played.
  VirtualMidi::SendPackets(source, {{0x90, 0x3C, 0x64, 0x3C, 0x00}});
  ASSERT_TRUE(WaitFor([] { return !Sent().empty(); }));
  EXPECT_EQ(Sent(), (Events{{0x90, 0x3C, 0x64, 0}}));
  VirtualMidi::RemoveSource(source);
  ASSERT_TRUE(WaitFor([&] { return Label(w) == " No keyboard found"; }));
  EXPECT_TRUE(WaitFor([] { return SoundingAfter(Sent()).notes.empty(); })) << "note 60 is left sounding";
}

TEST_F(MidiInputTest, SentAsOneStreamEveryMessageOfAPacketIsPlayed) {
  const int32_t source = VirtualMidi::AddSource("Streaming keyboard");
  rb::Ref<Window1> w = OpenInput();
  VirtualMidi::Send(source, {0x90, 0x3C, 0x64, 0x3C, 0x00});
  ASSERT_TRUE(WaitFor([] { return Sent().size() >= 2; }));
  EXPECT_EQ(Sent(), (Events{{0x90, 0x3C, 0x64, 0}, {0x90, 0x3C, 0x00, 0}}));
}

TEST_F(MidiInputTest, RandomPacketsLeaveNoNoteAndNoPedalDownWhenTheirKeyboardsAreUnplugged) {
  rb::Ref<Window1> w = OpenInput();
  std::mt19937 random(15042026);
  for (int keyboard = 0; keyboard < 6; ++keyboard) {
    const std::string name = "Noisy keyboard " + std::to_string(keyboard);
    const int32_t source = VirtualMidi::AddSource(name);
    ASSERT_TRUE(WaitFor([&] { return Label(w) == " " + name; }));
    coretest::TheRecording().clear();
    for (int round = 0; round < 400; ++round) {
      std::vector<uint8_t> packet(random() % 10);
      for (uint8_t& b : packet) b = uint8_t(random() % 4 == 0 ? random() % 0x80 : random());
      // Many note and controller messages, so that notes are held and pedals pressed.
      if (random() % 2 == 0 && !packet.empty()) packet[0] = uint8_t(0x90 + random() % 0x30);
      if (keyboard % 2 == 0)
        VirtualMidi::SendPackets(source, {packet});
      else
        VirtualMidi::Send(source, packet);
    }
    VirtualMidi::RemoveSource(source);
    ASSERT_TRUE(WaitFor([&] { return Label(w) == " No keyboard found"; }));
    rb::ProcessEvents(20);
    const Sounding left = SoundingAfter(Sent());
    EXPECT_TRUE(left.notes.empty()) << left.notes.size() << " notes left sounding by " << name;
    EXPECT_TRUE(left.pedals.empty()) << left.pedals.size() << " pedals left down by " << name;
  }
}

}  // namespace
