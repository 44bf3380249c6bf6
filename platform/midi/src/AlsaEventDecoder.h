// The parts of the ALSA backend that need no sequencer, so that tests can
// drive them with constructed events: the event-to-bytes decoder, the source
// filter and the input port's event handling.
#pragma once

#include <alsa/asoundlib.h>

#include <memory>
#include <set>

#include "AlsaSequencer.h"
#include "MidiPacketData.h"
#include "MidiService.h"

namespace chimewick::midi {

// A source's handle from its ALSA address, and back.
constexpr int32_t alsaHandle(int client, int port) noexcept { return (client << 16) | (port & 0xFFFF); }
constexpr int alsaClientOf(int32_t handle) noexcept { return handle >> 16; }
constexpr int alsaPortOf(int32_t handle) noexcept { return handle & 0xFFFF; }

// Turns sequencer events back into MIDI bytes, one packet per message, each
// with its own status byte.
class AlsaEventDecoder {
 public:
  // Null when ALSA cannot make its MIDI event parser.
  static std::unique_ptr<AlsaEventDecoder> make();

  // Appends ev's MIDI to out; false when ev carries no MIDI (announcements,
  // timer events). Input thread.
  bool decode(const snd_seq_event_t& ev, PacketData& out);

 private:
  struct ParserDeleter {
    void operator()(snd_midi_event_t* p) const noexcept { snd_midi_event_free(p); }
  };
  explicit AlsaEventDecoder(snd_midi_event_t* parser) : parser_(parser) {}

  std::unique_ptr<snd_midi_event_t, ParserDeleter> parser_;
};

// True for a port that is a source: a readable, subscribable MIDI port of
// another client; not the system client, not ourClient, not hidden, and not
// the kernel's "Midi Through" client (whose output only echoes what other
// programs send it; they can play to our own port instead).
bool isAlsaSource(const AlsaPortListing& port, int ourClient) noexcept;

// One input port's handling of what its client receives: MIDI addressed to
// the port goes to the receiver as packets, whoever sent it (a source we
// connected, one a patchbay connected, a program writing straight to the
// port); when a sender leaves (its port or client exits, or its subscription
// to the port ends) the receiver hears that it is gone.
class AlsaInputHandler {
 public:
  // ownClient, ownPort: the port's address.
  AlsaInputHandler(std::unique_ptr<AlsaEventDecoder> decoder, InputReceiver& receiver, int ownClient,
                   int ownPort)
      : decoder_(std::move(decoder)), receiver_(receiver), ownClient_(ownClient), ownPort_(ownPort) {}

  int port() const noexcept { return ownPort_; }

  // Handles one event: MIDI for the port, or a system notice. Input thread.
  void handle(const snd_seq_event_t& ev);

  // The client's input overran and the kernel dropped what was queued,
  // note-offs included: every sender's notes are released. The senders stay
  // connected. Input thread.
  void inputLost();

 private:
  bool toThisPort(const snd_seq_addr_t& dest) const noexcept {
    return dest.client == ownClient_ && dest.port == ownPort_;
  }
  void handleNotice(const snd_seq_event_t& ev);
  void gone(int32_t sender);
  void clientGone(int client);

  std::unique_ptr<AlsaEventDecoder> decoder_;
  InputReceiver& receiver_;
  int ownClient_;
  int ownPort_;
  std::set<int32_t> senders_;  // that reach this port; input thread only
};

}  // namespace chimewick::midi
