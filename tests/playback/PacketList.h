// A packet list in the MIDI service's layout (UInt32 count, then UInt64 time
// stamp, UInt16 length and the bytes of each packet, unpadded), in a buffer
// of exactly its size so a reader that overruns it trips AddressSanitizer.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

inline std::vector<uint8_t> PacketList(const std::vector<std::vector<uint8_t>>& packets) {
  std::size_t size = 4;
  for (const auto& p : packets) size += 10 + p.size();
  std::vector<uint8_t> list(size);
  const auto count = static_cast<uint32_t>(packets.size());
  std::memcpy(list.data(), &count, 4);
  std::size_t at = 4;
  for (const auto& p : packets) {
    const uint64_t timeStamp = 0x0102030405060708ull;  // never read
    const auto length = static_cast<uint16_t>(p.size());
    std::memcpy(list.data() + at, &timeStamp, 8);
    std::memcpy(list.data() + at + 8, &length, 2);
    if (!p.empty()) std::memcpy(list.data() + at + 10, p.data(), p.size());
    at += 10 + p.size();
  }
  return list;
}
