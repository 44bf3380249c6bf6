// One packet of a packet list: the MIDI bytes of one message (or a piece of
// a system-exclusive message).
#pragma once

#include <memory>

#include "MidiPacketData.h"
#include "rb/MemoryBlock.h"
#include "rb/Object.h"

class MidiPacketZel : public rb::Object {
 public:
  // The packet at index of data (index must be in range).
  MidiPacketZel(std::shared_ptr<const chimewick::midi::PacketData> data, size_t index)
      : data_(std::move(data)), index_(index) {}

  // A new block holding exactly the packet's bytes (Size 0 for an empty
  // packet). Any thread.
  rb::Ref<rb::MemoryBlock> DataMemory() const;

  std::string ClassName() const override { return "MidiPacketZel"; }

 private:
  std::shared_ptr<const chimewick::midi::PacketData> data_;
  size_t index_;
};
