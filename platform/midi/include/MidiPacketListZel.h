// The packets of one Read, in the order they arrived.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "MidiPacketData.h"
#include "MidiPacketZel.h"
#include "rb/Object.h"

class MidiPacketListZel : public rb::Object {
 public:
  MidiPacketListZel();
  explicit MidiPacketListZel(chimewick::midi::PacketData&& data);
  ~MidiPacketListZel() override;

  // The number of packets. Any thread.
  int32_t Count() const noexcept { return int32_t(data_->count()); }

  // The packet at a 0-based index; nil out of range. A port's Read lists
  // its packets without allocating. Any thread.
  rb::Ref<MidiPacketZel> Item(int32_t index) const;

  std::string ClassName() const override { return "MidiPacketListZel"; }

 private:
  friend class chimewick::midi::ReadListPool;
  MidiPacketListZel(std::shared_ptr<const chimewick::midi::PacketData> data,
                    std::vector<rb::Ref<MidiPacketZel>> packets);

  std::shared_ptr<const chimewick::midi::PacketData> data_;
  // A Read's list: one packet object per place, made in advance.
  std::vector<rb::Ref<MidiPacketZel>> pooled_;
  // How many of the pooled packets Item has handed out since the last fill.
  mutable std::atomic<size_t> handedOut_{0};
};
