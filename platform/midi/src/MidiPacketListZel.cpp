#include "MidiPacketListZel.h"

rb::Ref<MidiPacketZel> MidiPacketListZel::Item(int32_t index) const {
  if (index < 0 || size_t(index) >= data_->count()) return nullptr;
  return rb::New<MidiPacketZel>(data_, size_t(index));
}

rb::Ref<rb::MemoryBlock> MidiPacketZel::DataMemory() const {
  const auto bytes = data_->packet(index_);
  return rb::New<rb::MemoryBlock>(bytes.data(), bytes.size());
}
