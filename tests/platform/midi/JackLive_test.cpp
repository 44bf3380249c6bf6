// The JACK backend against a private JACK server on the dummy driver, with
// jack_midiseq (from jackd2) as a real MIDI source of another program.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>

#include "ChildProcess.h"
#include "MidiTestSupport.h"

using chimewick_test::ChildProcess;

namespace {

using namespace std::chrono_literals;

bool hasEvent(const RecordingClient& client, const std::string& name) {
  for (const auto& e : *client.events)
    if (e.name == name) return true;
  return false;
}

TEST(JackLive, MidiseqIsAddedConnectedReadAndRemoved) {
  std::random_device seed;
  const std::string server =
      "chimewick-midi-" + std::to_string(getpid()) + "-" + std::to_string(seed() % 100000);
  setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
  setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
  setenv("CHIMEWICK_MIDI", "jack", 1);
  struct RestoreEnvironment {
    ~RestoreEnvironment() {
      setenv("CHIMEWICK_MIDI", "virtual", 1);
      unsetenv("JACK_DEFAULT_SERVER");
    }
  } restore;

  ChildProcess jackd({"jackd", "-n", server, "-r", "-d", "dummy", "-r", "48000", "-p", "128"});
  auto client = rb::New<RecordingClient>();
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  for (;;) {
    if (!jackd.running()) GTEST_SKIP() << "skipped: jackd did not start (is jackd2 installed?)";
    client->Init(NewCFStringZel("Chimewick"));
    if (client->Lasterror() == 0) break;
    if (std::chrono::steady_clock::now() > deadline)
      GTEST_SKIP() << "skipped: jackd started but took no client";
    std::this_thread::sleep_for(50ms);
  }
  auto port = rb::New<RecordingPort>();
  client->CreateInputPort(NewCFStringZel("ChimewickPort"), port);
  ASSERT_NE(port->Handle(), 0);
  EXPECT_EQ(client->NumberOfSources(), 0);

  // A quarter-second loop: middle C on at frame 0, held for 11000 of its
  // 12000 frames, so that the sequencer mostly ends with the note down.
  ChildProcess midiseq({"jack_midiseq", "Seq", "12000", "0", "60", "11000"});
  if (!midiseq.running()) GTEST_SKIP() << "skipped: jack_midiseq (jackd2) did not start";
  ASSERT_TRUE(pumpUntil([&] { return hasEvent(*client, "ObjectAdded") && client->NumberOfSources() == 1; }))
      << "jack_midiseq never appeared";
  rb::Ref<MidiEndpointZel> source = client->GetSource(0);
  ASSERT_TRUE(source);
  EXPECT_EQ(rb::StrCompareExact(nameOf(source), "Seq:out"), 0);
  port->ConnectSource(source);
  ASSERT_EQ(port->Lasterror(), 0);
  port->ConnectSource(source);
  EXPECT_EQ(port->Lasterror(), 0) << "a second connect is harmless";

  ASSERT_TRUE(port->log->waitFor(2, 5s));
  bool noteOn = false, noteOff = false;
  for (const ReadRecord& r : port->log->snapshot()) {
    EXPECT_EQ(r.endpoint, source);
    for (const Bytes& p : r.packets) {
      ASSERT_EQ(p.size(), 3u);
      EXPECT_EQ(p[1], 60);
      if (p[0] == 0x90 && p[2] > 0) noteOn = true;
      if (p[0] == 0x80 || (p[0] == 0x90 && p[2] == 0)) noteOff = true;
    }
  }
  EXPECT_TRUE(noteOn);
  EXPECT_TRUE(noteOff);

  midiseq.stop();
  EXPECT_TRUE(pumpUntil([&] { return hasEvent(*client, "ObjectRemoved"); })) << "no ObjectRemoved";
  // Whenever it stopped, middle C is not left sounding: the last word on it
  // is a note-off, the sequencer's own or the port's on its removal.
  std::this_thread::sleep_for(50ms);
  bool held = false;
  for (const ReadRecord& r : port->log->snapshot())
    for (const Bytes& p : r.packets)
      if (p.size() == 3 && p[1] == 60) held = (p[0] & 0xF0) == 0x90 && p[2] > 0;
  EXPECT_FALSE(held) << "middle C left hanging";
  EXPECT_TRUE(pumpUntil([&] { return client->NumberOfSources() == 0; }));
  port.reset();
  client.reset();
}

}  // namespace
