// libFuzzer target for the playback plug-in's packet-list reader. The input
// is cut into packets (a length byte, then up to that many bytes) and handed
// to PlaybackReadProc as one well-formed packet list, over the scripted fake
// audio layer so that every dispatched message is cheap.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "PlaybackInstanceData.h"
#include "PlaybackMembers.h"
#include "PlaybackReadProc.h"

namespace {

// The host's object: without a registered class the instance data lies at
// offset 0 of it.
alignas(8) uint8_t gObject[sizeof(PlaybackInstanceData)];

bool initialise() { return MidiPlaybackZel::Init(gObject) != 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const bool ready = initialise();
  if (!ready) std::abort();

  std::vector<uint8_t> list(4);
  uint32_t count = 0;
  std::size_t at = 0;
  while (at < size) {
    const std::size_t wanted = data[at];
    ++at;
    const std::size_t length = std::min(wanted, size - at);
    const auto length16 = static_cast<uint16_t>(length);
    const std::size_t start = list.size();
    list.resize(start + 10 + length);
    std::memset(list.data() + start, 0, 8);
    std::memcpy(list.data() + start + 8, &length16, 2);
    if (length != 0) std::memcpy(list.data() + start + 10, data + at, length);
    at += length;
    ++count;
  }
  std::memcpy(list.data(), &count, 4);
  // An exactly sized copy, so a read past the list's end is caught.
  std::vector<uint8_t> exact(list.begin(), list.end());
  PlaybackReadProc(gObject, exact.data());

  // The reader keeps every channel entry an Instrument ID.
  auto& instance = *reinterpret_cast<PlaybackInstanceData*>(gObject);
  for (int32_t entry : instance.channelInstrument)
    if ((static_cast<uint32_t>(entry) & ~0x7F7F7Fu) != 0) std::abort();
  return 0;
}
