#include "AlsaEventDecoder.h"

#include <algorithm>
#include <array>

#include "MidiMessageSplitter.h"

namespace chimewick::midi {

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
    // came, the first one starting with 0xF0.
    out.add({static_cast<const uint8_t*>(ev.data.ext.ptr), ev.data.ext.len});
    return true;
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

bool isAlsaSource(const AlsaPortFacts& port, std::span<const int> ourClients) noexcept {
  if (port.client == SND_SEQ_CLIENT_SYSTEM) return false;
  if (std::find(ourClients.begin(), ourClients.end(), port.client) != ourClients.end()) return false;
  const unsigned readable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
  if ((port.capability & readable) != readable) return false;
  if (port.capability & SND_SEQ_PORT_CAP_NO_EXPORT) return false;
  return (port.type & (SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION)) != 0;
}

void AlsaInputHandler::connected(int32_t source) {
  std::lock_guard lock(connectedMutex_);
  connected_.insert(source);
}

void AlsaInputHandler::gone(int32_t source) {
  {
    std::lock_guard lock(connectedMutex_);
    if (connected_.erase(source) == 0) return;
  }
  receiver_.sourceGone(source);
}

void AlsaInputHandler::clientGone(int client) {
  std::vector<int32_t> sources;
  {
    std::lock_guard lock(connectedMutex_);
    for (int32_t s : connected_)
      if (alsaClientOf(s) == client) sources.push_back(s);
  }
  for (int32_t s : sources) gone(s);
}

void AlsaInputHandler::handle(const snd_seq_event_t& ev) {
  switch (ev.type) {
    case SND_SEQ_EVENT_PORT_EXIT:
      gone(alsaHandle(ev.data.addr.client, ev.data.addr.port));
      return;
    case SND_SEQ_EVENT_CLIENT_EXIT:
      clientGone(ev.data.addr.client);
      return;
    case SND_SEQ_EVENT_PORT_UNSUBSCRIBED:
      if (ev.data.connect.dest.client != ownClient_) return;
      gone(alsaHandle(ev.data.connect.sender.client, ev.data.connect.sender.port));
      return;
    default:
      break;
  }
  const int32_t source = alsaHandle(ev.source.client, ev.source.port);
  {
    std::lock_guard lock(connectedMutex_);
    // Until a source is connected (or after it went) its events are not ours.
    if (!connected_.contains(source)) return;
  }
  PacketData packets;
  if (!decoder_->decode(ev, packets)) return;
  receiver_.received(source, std::move(packets));
}

}  // namespace chimewick::midi
