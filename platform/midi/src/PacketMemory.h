// The block a Read's packet hands out: it shows the packet's bytes where
// they lie, so handing it out allocates nothing.
#pragma once

#include <memory>
#include <span>

#include "MidiPacketData.h"
#include "rb/MemoryBlock.h"

namespace chimewick::midi {

class PacketMemory final : public rb::MemoryBlock {
 public:
  // data: the list's bytes, kept alive by the block as long as it lives.
  explicit PacketMemory(std::shared_ptr<const PacketData> data)
      : MemoryBlock(Borrowed{}), data_(std::move(data)) {}

  // Shows bytes (which lie in data). The thread that reads the packet.
  void show(std::span<const uint8_t> bytes) noexcept {
    Rebind(const_cast<uint8_t*>(bytes.data()), bytes.size());
  }

 private:
  std::shared_ptr<const PacketData> data_;
};

}  // namespace chimewick::midi
