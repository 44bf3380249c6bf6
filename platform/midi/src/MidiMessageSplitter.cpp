#include "MidiMessageSplitter.h"

namespace chimewick::midi {
namespace {

// Length of the message that starts with status, counting the status; 0 for
// system exclusive, whose end is its 0xF7.
size_t messageLength(uint8_t status) noexcept {
  if (status < 0xF0) {
    const uint8_t kind = status & 0xF0;
    return (kind == 0xC0 || kind == 0xD0) ? 2 : 3;
  }
  switch (status) {
    case 0xF0:
      return 0;
    case 0xF1:
    case 0xF3:
      return 2;
    case 0xF2:
      return 3;
    default:
      return 1;
  }
}

}  // namespace

void splitMessages(std::span<const uint8_t> bytes, PacketData& out) {
  size_t i = 0;
  while (i < bytes.size()) {
    if (!(bytes[i] & 0x80)) {
      ++i;
      continue;
    }
    size_t end = i + 1;
    const size_t length = messageLength(bytes[i]);
    if (length == 0) {
      while (end < bytes.size() && bytes[end] != 0xF7 && !(bytes[end] & 0x80)) ++end;
      if (end < bytes.size() && bytes[end] == 0xF7) ++end;
    } else {
      while (end < bytes.size() && end - i < length && !(bytes[end] & 0x80)) ++end;
    }
    out.add(bytes.subspan(i, end - i));
    i = end;
  }
}

}  // namespace chimewick::midi
