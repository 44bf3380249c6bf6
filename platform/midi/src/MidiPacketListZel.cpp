#include "MidiPacketListZel.h"

#include "PacketMemory.h"

MidiPacketListZel::MidiPacketListZel() : data_(std::make_shared<chimewick::midi::PacketData>()) {}

MidiPacketListZel::MidiPacketListZel(chimewick::midi::PacketData&& data)
    : data_(std::make_shared<const chimewick::midi::PacketData>(std::move(data))) {}

MidiPacketListZel::MidiPacketListZel(std::shared_ptr<const chimewick::midi::PacketData> data,
                                     std::vector<rb::Ref<MidiPacketZel>> packets)
    : data_(std::move(data)), pooled_(std::move(packets)) {}

MidiPacketListZel::~MidiPacketListZel() = default;

rb::Ref<MidiPacketZel> MidiPacketListZel::Item(int32_t index) const {
  if (index < 0 || size_t(index) >= data_->count()) return nullptr;
  if (size_t(index) < pooled_.size()) {
    size_t seen = handedOut_.load(std::memory_order_relaxed);
    while (seen <= size_t(index) &&
           !handedOut_.compare_exchange_weak(seen, size_t(index) + 1, std::memory_order_relaxed)) {
    }
    return pooled_[size_t(index)];
  }
  return rb::New<MidiPacketZel>(data_, size_t(index));
}

MidiPacketZel::MidiPacketZel(std::shared_ptr<const chimewick::midi::PacketData> data, size_t index)
    : data_(std::move(data)), index_(index) {}

MidiPacketZel::~MidiPacketZel() = default;

rb::Ref<rb::MemoryBlock> MidiPacketZel::DataMemory() const {
  const auto bytes = data_->packet(index_);
  if (memory_) {
    memory_->show(bytes);
    return memory_;
  }
  return rb::New<rb::MemoryBlock>(bytes.data(), bytes.size());
}
