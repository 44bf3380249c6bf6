// The pure parts of the ALSA backend, kept apart from the sequencer I/O so
// that tests can drive them with constructed events: the event-to-bytes
// decoder, the source filter and the input port's event handling.
#pragma once

#include <alsa/asoundlib.h>

#include <memory>
#include <mutex>
#include <set>
#include <span>
#include <vector>

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

// What the source filter looks at of one port.
struct AlsaPortFacts {
  int client;
  int port;
  unsigned capability;  // SND_SEQ_PORT_CAP_*
  unsigned type;        // SND_SEQ_PORT_TYPE_*
};

// True for a readable, subscribable MIDI port of another client: not the
// system client, not one of ours, not hidden.
bool isAlsaSource(const AlsaPortFacts& port, std::span<const int> ourClients) noexcept;

// The input port's handling of everything its sequencer client receives:
// MIDI from connected sources goes to the receiver as packets; the exit of a
// connected source (port or client exit, or its subscription ending) tells
// the receiver that source is gone.
class AlsaInputHandler {
 public:
  // ownClient: the port's own sequencer client.
  AlsaInputHandler(std::unique_ptr<AlsaEventDecoder> decoder, InputReceiver& receiver, int ownClient)
      : decoder_(std::move(decoder)), receiver_(receiver), ownClient_(ownClient) {}

  // Records a source as connected. UI thread.
  void connected(int32_t source);

  // Handles one event. Input thread.
  void handle(const snd_seq_event_t& ev);

 private:
  void gone(int32_t source);
  void clientGone(int client);

  std::unique_ptr<AlsaEventDecoder> decoder_;
  InputReceiver& receiver_;
  int ownClient_;
  std::mutex connectedMutex_;
  std::set<int32_t> connected_;
};

}  // namespace chimewick::midi
