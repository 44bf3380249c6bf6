#include "ReadListPool.h"

#include "PacketMemory.h"

namespace chimewick::midi {

std::unique_ptr<ReadListPool::Entry> ReadListPool::make(size_t packets, size_t bytes) {
  auto entry = std::make_unique<Entry>();
  entry->data = std::make_shared<PacketData>();
  entry->data->packets.reserve(packets);
  entry->data->bytes.reserve(bytes);
  std::vector<rb::Ref<MidiPacketZel>> objects;
  objects.reserve(packets);
  for (size_t i = 0; i < packets; ++i) {
    rb::Ref<MidiPacketZel> packet = rb::New<MidiPacketZel>(entry->data, i);
    packet->memory_ = rb::New<PacketMemory>(entry->data);
    objects.push_back(std::move(packet));
  }
  entry->list = rb::Ref<MidiPacketListZel>(new MidiPacketListZel(entry->data, std::move(objects)));
  return entry;
}

ReadListPool::ReadListPool(size_t lists) {
  for (size_t i = 0; i < lists; ++i) entries_.push_back(make(kPackets, kBytes));
  current_ = entries_.front().get();
}

bool ReadListPool::free(const Entry& entry) const noexcept {
  const MidiPacketListZel& list = *entry.list;
  if (list.RefCount() != 1) return false;
  const size_t used = list.handedOut_.load(std::memory_order_relaxed);
  for (size_t i = 0; i < used && i < list.pooled_.size(); ++i) {
    const MidiPacketZel& packet = *list.pooled_[i];
    if (packet.RefCount() != 1 || packet.memory_->RefCount() != 1) return false;
  }
  // What a handler on another thread wrote before letting go is seen here.
  std::atomic_thread_fence(std::memory_order_acquire);
  return true;
}

void ReadListPool::begin() {
  current_ = nullptr;
  for (auto& entry : entries_) {
    if (!free(*entry)) continue;
    current_ = entry.get();
    break;
  }
  if (current_ == nullptr) {
    // Every list is still held by a handler: only then does a Read allocate.
    entries_.push_back(make(kPackets, kBytes));
    current_ = entries_.back().get();
  }
  current_->data->clear();
  current_->list->handedOut_.store(0, std::memory_order_relaxed);
}

bool ReadListPool::add(std::span<const uint8_t> packet) {
  PacketData& data = *current_->data;
  if (packet.size() > kBytes) {
    // More than any list holds: a list of its own, which allocates; no
    // backend delivers such a packet from a real-time thread.
    if (!data.empty()) return false;
    large_ = make(1, packet.size());
    large_->oneOff = true;
    current_ = large_.get();
    current_->data->add(packet);
    return true;
  }
  if (data.count() >= kPackets || data.bytes.size() + packet.size() > kBytes || current_->oneOff)
    return false;
  data.add(packet);
  return true;
}

}  // namespace chimewick::midi
