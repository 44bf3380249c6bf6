// libFuzzer target for the ALSA backend's input handling: the input is cut
// into sequencer events (a type byte, a flags byte, a source byte, then 12
// bytes of event data; a system exclusive event takes its data from the bytes
// that follow, as long as a length byte says) and handed to the input port's
// handler, whose packets must each be one well-formed message, and whose
// note tracking must end with nothing held once every sender has gone.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "AlsaEventDecoder.h"
#include "NoteTracker.h"

namespace {

using namespace chimewick::midi;

constexpr int kOurClient = 130;
constexpr int kOurPort = 0;

struct CheckingReceiver : InputReceiver {
  void received(int32_t source, PacketData&& packets) override {
    for (size_t i = 0; i < packets.count(); ++i) {
      const auto p = packets.packet(i);
      if (p.empty()) std::abort();
      trackers[source].observe(p);
      if (p[0] == 0xF0 || !(p[0] & 0x80)) continue;  // a piece of system exclusive
      if (p.size() > 3) std::abort();
      for (size_t k = 1; k < p.size(); ++k)
        if (p[k] & 0x80) std::abort();
    }
  }
  void sourceGone(int32_t source) override {
    PacketData release;
    trackers[source].releaseAll(release);
    if (trackers[source].holdsAnything()) std::abort();
  }
  std::map<int32_t, NoteTracker> trackers;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  CheckingReceiver receiver;
  AlsaInputHandler handler(AlsaEventDecoder::make(), receiver, kOurClient, kOurPort);
  std::vector<uint8_t> sysex;
  std::size_t at = 0;
  while (at + 15 <= size) {
    snd_seq_event_t ev;
    std::memset(&ev, 0, sizeof ev);
    ev.type = data[at];
    ev.flags = data[at + 1] & ~SND_SEQ_EVENT_LENGTH_MASK;
    ev.source = {uint8_t(data[at + 2] % 4 == 0 ? 0 : 20 + data[at + 2] % 4), uint8_t(data[at + 2] >> 6)};
    ev.dest = {kOurClient, kOurPort};
    std::memcpy(&ev.data, data + at + 3, 12);
    at += 15;
    if (snd_seq_ev_is_variable_type(&ev)) {
      const std::size_t length = at < size ? std::min<std::size_t>(data[at], size - at - 1) : 0;
      sysex.assign(data + std::min(at + 1, size), data + std::min(at + 1 + length, size));
      at += 1 + length;
      snd_seq_ev_set_variable(&ev, unsigned(sysex.size()), sysex.data());
    }
    if (ev.type == 255) {
      handler.inputLost();
      continue;
    }
    handler.handle(ev);
  }
  // Every sender leaves: nothing may stay held.
  for (int client = 20; client < 24; ++client) {
    snd_seq_event_t exit;
    std::memset(&exit, 0, sizeof exit);
    exit.type = SND_SEQ_EVENT_CLIENT_EXIT;
    exit.source = {SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE};
    exit.data.addr.client = uint8_t(client);
    handler.handle(exit);
  }
  for (const auto& [source, tracker] : receiver.trackers)
    if (tracker.holdsAnything()) std::abort();
  return 0;
}
