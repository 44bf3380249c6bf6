#include "AlsaEventDecoder.h"

#include <algorithm>
#include <array>

#include "MidiMessageSplitter.h"

namespace chimewick::midi {

namespace {

// Data bytes only, but for an 0xF0 first and an 0xF7 last.
bool isSystemExclusiveChunk(std::span<const uint8_t> chunk) noexcept {
  for (size_t i = 0; i < chunk.size(); ++i) {
    const uint8_t b = chunk[i];
    if (b < 0x80 || (i == 0 && b == 0xF0) || (i + 1 == chunk.size() && b == 0xF7)) continue;
    return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<AlsaEventDecoder> AlsaEventDecoder::make() {
  snd_midi_event_t* parser = nullptr;
  if (snd_midi_event_new(256, &parser) < 0 || parser == nullptr) return nullptr;
  // Every message keeps its status byte: a packet must stand on its own.
  snd_midi_event_no_status(parser, 1);
  return std::unique_ptr<AlsaEventDecoder>(new AlsaEventDecoder(parser));
}

bool AlsaEventDecoder::decode(const snd_seq_event_t& ev, PacketData& out) {
  if (ev.type == SND_SEQ_EVENT_SYSEX) {
    if ((ev.flags & SND_SEQ_EVENT_LENGTH_MASK) != SND_SEQ_EVENT_LENGTH_VARIABLE) return false;
    if (ev.data.ext.ptr == nullptr || ev.data.ext.len == 0) return false;
    // A long message comes in several events; each chunk is a packet as it
    // came, the first one starting with 0xF0. A chunk holding other status
    // bytes (no driver sends one) is cut into its messages instead, so that
    // every packet still stands on its own.
    const std::span<const uint8_t> chunk{static_cast<const uint8_t*>(ev.data.ext.ptr), ev.data.ext.len};
    const size_t before = out.count();
    if (isSystemExclusiveChunk(chunk))
      out.add(chunk);
    else
      splitMessages(chunk, out);
    return out.count() > before;
  }
  // Channel, system common and real-time events are at most a few messages
  // (14-bit controllers and (N)RPNs decode to two to four).
  std::array<unsigned char, 16> bytes{};
  snd_midi_event_reset_decode(parser_.get());
  const long n = snd_midi_event_decode(parser_.get(), bytes.data(), long(bytes.size()), &ev);
  if (n <= 0) return false;
  const size_t before = out.count();
  splitMessages({bytes.data(), size_t(n)}, out);
  return out.count() > before;
}

bool isAlsaSource(const AlsaPortListing& port, int ourClient) noexcept {
  if (port.client == SND_SEQ_CLIENT_SYSTEM || port.client == ourClient) return false;
  if (port.kernelClient && port.clientName == "Midi Through") return false;
  const unsigned readable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
  if ((port.capability & readable) != readable) return false;
  if (port.capability & SND_SEQ_PORT_CAP_NO_EXPORT) return false;
  return (port.type & (SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION)) != 0;
}

void AlsaInputHandler::gone(int32_t sender) {
  if (senders_.erase(sender) == 0) return;
  receiver_.sourceGone(sender);
}

void AlsaInputHandler::clientGone(int client) {
  std::vector<int32_t> leaving;
  for (int32_t s : senders_)
    if (alsaClientOf(s) == client) leaving.push_back(s);
  for (int32_t s : leaving) gone(s);
}

void AlsaInputHandler::inputLost() {
  for (int32_t s : senders_) receiver_.sourceGone(s);
}

void AlsaInputHandler::handle(const snd_seq_event_t& ev) {
  // Notices count only from the system client; nobody else can send them.
  const bool fromSystem = ev.source.client == SND_SEQ_CLIENT_SYSTEM;
  if (fromSystem) handleNotice(ev);
  if (fromSystem || !toThisPort(ev.dest)) return;
  PacketData packets;
  if (!decoder_->decode(ev, packets)) return;
  const int32_t sender = alsaHandle(ev.source.client, ev.source.port);
  senders_.insert(sender);
  receiver_.received(sender, std::move(packets));
}

void AlsaInputHandler::handleNotice(const snd_seq_event_t& ev) {
  switch (ev.type) {
    case SND_SEQ_EVENT_PORT_EXIT:
      gone(alsaHandle(ev.data.addr.client, ev.data.addr.port));
      return;
    case SND_SEQ_EVENT_CLIENT_EXIT:
      clientGone(ev.data.addr.client);
      return;
    case SND_SEQ_EVENT_PORT_SUBSCRIBED:
      // Connected (by us, or by a patchbay, maybe again after a disconnect):
      // followed from now on, so that its leaving is passed on.
      if (toThisPort(ev.data.connect.dest))
        senders_.insert(alsaHandle(ev.data.connect.sender.client, ev.data.connect.sender.port));
      return;
    case SND_SEQ_EVENT_PORT_UNSUBSCRIBED:
      // Its note-offs will no longer come this way.
      if (toThisPort(ev.data.connect.dest))
        gone(alsaHandle(ev.data.connect.sender.client, ev.data.connect.sender.port));
      return;
    default:
      return;
  }
}

}  // namespace chimewick::midi
