// The bytes of one packet list: every packet's bytes back to back and where
// each packet starts and ends. One allocation pair per list, none per byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace chimewick::midi {

struct PacketData {
  struct Range {
    uint32_t offset;
    uint32_t size;
  };
  std::vector<uint8_t> bytes;
  std::vector<Range> packets;

  // Appends one packet (which may be empty).
  void add(std::span<const uint8_t> packet) {
    packets.push_back({uint32_t(bytes.size()), uint32_t(packet.size())});
    bytes.insert(bytes.end(), packet.begin(), packet.end());
  }
  size_t count() const noexcept { return packets.size(); }
  std::span<const uint8_t> packet(size_t i) const noexcept {
    return {bytes.data() + packets[i].offset, packets[i].size};
  }
  bool empty() const noexcept { return packets.empty(); }
  void clear() noexcept {
    bytes.clear();
    packets.clear();
  }
};

}  // namespace chimewick::midi
