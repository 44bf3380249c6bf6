#include "PlaybackReadProc.h"

#include <cstring>

#include "PlaybackMembers.h"

namespace {

constexpr std::size_t kMessageBufferSize = 256;
constexpr std::size_t kPacketHeaderSize = 8 + 2;  // time stamp, length

// One channel-table update, keeping the other two seven-bit fields and
// clearing everything above bit 22.
void track(PlaybackInstanceData& data, uint8_t b0, uint8_t b1, uint8_t b2) noexcept {
  int32_t& entry = data.channelInstrument[b0 & 0x0F];
  const uint32_t old = static_cast<uint32_t>(loadField(entry));
  uint32_t updated;
  switch (b0 & 0xF0) {
    case 0xC0:
      updated = (old & 0x7F7F00u) | b1;
      break;
    case 0xB0:
      if (b1 == 0) {
        updated = (uint32_t{b2} << 16) | (old & 0x7F00u) | (old & 0x7Fu);
      } else if (b1 == 32) {
        updated = (old & 0x7F0000u) | (uint32_t{b2} << 8) | (old & 0x7Fu);
      } else {
        return;
      }
      break;
    default:
      return;
  }
  storeField(entry, static_cast<int32_t>(updated));
}

}  // namespace

intptr_t MidiPlaybackZel::Callback(void*) noexcept { return reinterpret_cast<intptr_t>(&PlaybackReadProc); }

void PlaybackReadProc(void* object, const void* packetList) noexcept {
  if (object == nullptr || packetList == nullptr) return;
  const auto* cursor = static_cast<const uint8_t*>(packetList);
  uint32_t packetCount = 0;
  std::memcpy(&packetCount, cursor, sizeof packetCount);
  if (packetCount == 0) return;
  cursor += sizeof packetCount;

  // The message so far, as far as the buffer holds it: bytes past its end
  // are dropped (only the first three are ever sent). The buffer stands
  // alone on the stack so that a write past it cannot go unnoticed by the
  // sanitizers.
  uint8_t message[kMessageBufferSize];
  std::size_t held = 0;
  auto flush = [&]() noexcept {
    if (held != 0) DispatchMidiMessage(object, message, held);
    held = 0;
  };

  for (uint32_t p = 0; p < packetCount; ++p) {
    uint16_t length = 0;
    std::memcpy(&length, cursor + 8, sizeof length);
    const uint8_t* bytes = cursor + kPacketHeaderSize;
    for (uint16_t i = 0; i < length; ++i) {
      const uint8_t byte = bytes[i];
      if (byte > 0xF7) continue;  // real time: neither ends nor joins a message
      if ((byte & 0x80) != 0) flush();
      if (held < kMessageBufferSize) message[held++] = byte;
    }
    cursor = bytes + length;
  }
  flush();
}

void DispatchMidiMessage(void* object, const uint8_t* message, std::size_t byteCount) noexcept {
  if (byteCount == 0) return;
  const uint8_t b0 = message[0];
  const uint8_t b1 = byteCount > 1 ? message[1] : 0;
  const uint8_t b2 = byteCount > 2 ? message[2] : 0;
  PlaybackInstanceData& data = InstanceDataOf(object);
  AudioUnit unit = 0;
  if (GetSynthUnit(data, &unit) == 0) {
    // The zeros in place of missing data bytes are fillers: the synthesizer
    // hears how many bytes were real and ignores a message cut short.
    MusicDeviceSetNextEventLength(static_cast<uint32_t>(byteCount < 3 ? byteCount : 3));
    MusicDeviceMIDIEvent(unit, b0, b1, b2, 0);
  }
  track(data, b0, b1, b2);
}
