#include "SourceTable.h"

namespace chimewick::midi {

SourceTable::SourceTable() {
  for (Other& other : others_) other.endpoint = rb::New<OtherEndpoint>();
}

void SourceTable::connect(const rb::Ref<MidiEndpointZel>& endpoint) {
  const int32_t source = endpoint->Handle();
  Connected* free = nullptr;
  Connected* reclaimable = nullptr;
  for (Connected& slot : connected_) {
    uint64_t w = slot.word.load(std::memory_order_acquire);
    if (stateOf(w) == kFree) {
      if (free == nullptr) free = &slot;
      continue;
    }
    if (sourceOf(w) != source) {
      if (stateOf(w) == kGone && reclaimable == nullptr) reclaimable = &slot;
      continue;
    }
    if (stateOf(w) == kLive) return;
    // Connected again after it went: its entry (and endpoint) come back,
    // unless the input thread has just brought it back itself.
    if (stateOf(w) == kGone) {
      slot.word.compare_exchange_strong(w, word(source, kLive), std::memory_order_acq_rel);
      return;
    }
  }
  Connected* slot = free;
  if (slot == nullptr && reclaimable != nullptr) {
    // A source that went long ago gives its place up, unless it is back.
    uint64_t w = reclaimable->word.load(std::memory_order_acquire);
    if (stateOf(w) == kGone &&
        reclaimable->word.compare_exchange_strong(w, word(sourceOf(w), kClaiming), std::memory_order_acq_rel))
      slot = reclaimable;
  }
  // Every place taken by a live source: this one is heard as an unknown one.
  if (slot == nullptr) return;
  slot->endpoint = endpoint;
  slot->tracker = NoteTracker{};
  slot->word.store(word(source, kLive), std::memory_order_release);
}

SourceTable::Connected* SourceTable::findConnected(int32_t source) noexcept {
  for (Connected& slot : connected_) {
    uint64_t w = slot.word.load(std::memory_order_acquire);
    if (sourceOf(w) != source) continue;
    if (stateOf(w) == kLive) return &slot;
    // A source that went and sends again (plugged back in before the next
    // scan) is heard under its old endpoint.
    if (stateOf(w) == kGone &&
        slot.word.compare_exchange_strong(w, word(source, kLive), std::memory_order_acq_rel))
      return &slot;
  }
  return nullptr;
}

SourceTable::Entry SourceTable::find(int32_t source) noexcept {
  if (Connected* slot = findConnected(source)) return {slot->endpoint.get(), &slot->tracker};
  for (Other& other : others_)
    if (other.source == source && source != 0) return {other.endpoint.get(), &other.tracker};
  return {};
}

size_t SourceTable::spareIndex() noexcept {
  for (size_t i = 0; i < others_.size(); ++i)
    if (others_[i].source == 0) return i;
  for (size_t i = 0; i < others_.size(); ++i)
    if (!others_[i].tracker.holdsAnything()) return i;
  nextEviction_ = (nextEviction_ + 1) % others_.size();
  return nextEviction_;
}

SourceTable::Entry SourceTable::spare() noexcept {
  spare_ = spareIndex();
  Other& other = others_[spare_];
  if (other.source == 0) return {};
  return {other.endpoint.get(), &other.tracker};
}

SourceTable::Entry SourceTable::adopt(int32_t source) noexcept {
  Other& other = others_[spare_];
  other.source = source;
  other.endpoint->setHandle(source);
  other.tracker = NoteTracker{};
  return {other.endpoint.get(), &other.tracker};
}

void SourceTable::forget(int32_t source) noexcept {
  for (Connected& slot : connected_) {
    uint64_t w = slot.word.load(std::memory_order_acquire);
    if (sourceOf(w) == source && stateOf(w) == kLive) {
      slot.tracker = NoteTracker{};
      slot.word.compare_exchange_strong(w, word(source, kGone), std::memory_order_acq_rel);
    }
  }
  for (Other& other : others_) {
    if (other.source != source) continue;
    other.source = 0;
    other.tracker = NoteTracker{};
  }
}

}  // namespace chimewick::midi
