// The packets of one Read, in the order they arrived.
#pragma once

#include <memory>

#include "MidiPacketData.h"
#include "MidiPacketZel.h"
#include "rb/Object.h"

class MidiPacketListZel : public rb::Object {
 public:
  MidiPacketListZel() : data_(std::make_shared<chimewick::midi::PacketData>()) {}
  explicit MidiPacketListZel(chimewick::midi::PacketData&& data)
      : data_(std::make_shared<const chimewick::midi::PacketData>(std::move(data))) {}

  // The number of packets. Any thread.
  int32_t Count() const noexcept { return int32_t(data_->count()); }

  // The packet at a 0-based index; nil out of range. Any thread.
  rb::Ref<MidiPacketZel> Item(int32_t index) const;

  std::string ClassName() const override { return "MidiPacketListZel"; }

 private:
  std::shared_ptr<const chimewick::midi::PacketData> data_;
};
