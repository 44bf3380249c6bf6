// The ALSA backend against the real sequencer, where this machine has one.
#include <alsa/asoundlib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "MidiTestSupport.h"

namespace {

using namespace std::chrono_literals;

struct SeqCloser {
  void operator()(snd_seq_t* s) const noexcept { snd_seq_close(s); }
};

TEST(AlsaLive, SequencerSourceIsListedConnectedReadAndReleasedOnExit) {
  if (access("/dev/snd/seq", R_OK | W_OK) != 0) GTEST_SKIP() << "skipped: no ALSA sequencer (/dev/snd/seq)";
  setenv("CHIMEWICK_MIDI", "alsa", 1);
  auto client = rb::New<RecordingClient>();
  client->Init(NewCFStringZel("Chimewick test"));
  if (client->Lasterror() != 0) {
    setenv("CHIMEWICK_MIDI", "virtual", 1);
    GTEST_SKIP() << "skipped: the ALSA sequencer does not open (" << client->Lasterror() << ")";
  }
  auto port = rb::New<RecordingPort>();
  client->CreateInputPort(NewCFStringZel("ChimewickPort"), port);
  ASSERT_NE(port->Handle(), 0);

  // Another sequencer client with a readable port plays the keyboard.
  snd_seq_t* raw = nullptr;
  ASSERT_GE(snd_seq_open(&raw, "default", SND_SEQ_OPEN_DUPLEX, 0), 0);
  std::unique_ptr<snd_seq_t, SeqCloser> keyboard(raw);
  snd_seq_set_client_name(raw, "Test keyboard");
  const int out =
      snd_seq_create_simple_port(raw, "Test keyboard out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                 SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
  ASSERT_GE(out, 0);
  // The client's start and then its port's each raise ObjectAdded; the
  // source is there once the port's has come.
  rb::Ref<MidiEndpointZel> source;
  ASSERT_TRUE(pumpUntil([&] {
    bool added = false;
    for (const auto& e : *client->events) added = added || e.name == "ObjectAdded";
    for (int32_t i = 0; added && !source && i < client->NumberOfSources(); ++i) {
      auto s = client->GetSource(i);
      if (s && rb::StrCompareExact(nameOf(s), "Test keyboard out") == 0) source = s;
    }
    return bool(source);
  }));
  ASSERT_TRUE(source);
  port->ConnectSource(source);
  ASSERT_EQ(port->Lasterror(), 0);
  port->ConnectSource(source);
  EXPECT_EQ(port->Lasterror(), 0) << "a second connect is harmless";

  snd_seq_event_t ev;
  snd_seq_ev_clear(&ev);
  snd_seq_ev_set_source(&ev, out);
  snd_seq_ev_set_subs(&ev);
  snd_seq_ev_set_direct(&ev);
  snd_seq_ev_set_noteon(&ev, 0, 60, 100);
  snd_seq_event_output_direct(raw, &ev);
  ASSERT_TRUE(port->log->waitFor(1));
  EXPECT_EQ(port->log->snapshot()[0].packets, (std::vector<Bytes>{{0x90, 60, 100}}));

  keyboard.reset();  // the keyboard leaves with the note down
  ASSERT_TRUE(port->log->waitFor(2));
  EXPECT_EQ(port->log->snapshot()[1].packets, (std::vector<Bytes>{{0x80, 60, 0}}));
  ASSERT_TRUE(pumpUntil([&] {
    for (const auto& e : *client->events)
      if (e.name == "ObjectRemoved") return true;
    return false;
  }));
  setenv("CHIMEWICK_MIDI", "virtual", 1);
}

}  // namespace
