// One packet of a packet list: the MIDI bytes of one message (or a piece of
// a system-exclusive message).
#pragma once

#include <memory>

#include "MidiPacketData.h"
#include "rb/MemoryBlock.h"
#include "rb/Object.h"

namespace chimewick::midi {
class ReadListPool;
class PacketMemory;
}  // namespace chimewick::midi

class MidiPacketZel : public rb::Object {
 public:
  // The packet at index of data (index must be in range).
  MidiPacketZel(std::shared_ptr<const chimewick::midi::PacketData> data, size_t index);
  ~MidiPacketZel() override;

  // A block holding exactly the packet's bytes (Size 0 for an empty packet).
  // A packet of a port's Read gives a block of its own that is reused once
  // the Read and everyone holding the list, packet or block is done with
  // it; writing to that block writes the packet. Any thread, one at a time.
  rb::Ref<rb::MemoryBlock> DataMemory() const;

  std::string ClassName() const override { return "MidiPacketZel"; }

 private:
  friend class chimewick::midi::ReadListPool;

  std::shared_ptr<const chimewick::midi::PacketData> data_;
  size_t index_;
  rb::Ref<chimewick::midi::PacketMemory> memory_;  // a Read's packets only
};
