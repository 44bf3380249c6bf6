#include "Registry.h"

#include <thread>

#include "AudioLog.h"

namespace chimewick::audio {

Registry& Registry::instance() {
  static Registry registry;
  return registry;
}

Registry::~Registry() {
  // Graphs still open at exit are stopped here; their units unregister
  // themselves, so the lock is not held while they go. The handles were made
  // where the graphs and units are defined, so their deleters need neither
  // definition here.
  std::unordered_map<uint32_t, std::shared_ptr<Graph>> remaining;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    remaining.swap(graphs_);
  }
  for (const auto& [handle, graph] : remaining) hide(handle);
  remaining.clear();
  uninstallFluidLogger();
}

Registry::Reader::Reader() noexcept {
  Registry& registry = instance();
  for (;;) {
    const uint64_t generation = registry.generation_.load(std::memory_order_seq_cst);
    side_ = unsigned(generation & 1);
    registry.readers_[side_].fetch_add(1, std::memory_order_seq_cst);
    if (registry.generation_.load(std::memory_order_seq_cst) == generation) return;
    registry.readers_[side_].fetch_sub(1, std::memory_order_seq_cst);
  }
}

Registry::Reader::~Reader() { instance().readers_[side_].fetch_sub(1, std::memory_order_seq_cst); }

void Registry::quiesce() noexcept {
  std::lock_guard<std::mutex> lock(quiesceMutex_);
  const uint64_t old = generation_.fetch_add(1, std::memory_order_seq_cst);
  while (readers_[old & 1].load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
}

uint32_t Registry::nextHandle() {
  ++lastHandle_;
  if (lastHandle_ == 0 || lastHandle_ == kRetired) lastHandle_ = 1;
  return lastHandle_;
}

// Under mutex_.
void Registry::show(uint32_t handle, bool isGraph, void* object) {
  for (size_t i = 0; i < kProbe; ++i) {
    Slot& slot = slots_[(handle + i) % kSlots];
    if (slot.handle.load(std::memory_order_relaxed) != 0) continue;
    slot.isGraph.store(isGraph, std::memory_order_relaxed);
    slot.object.store(object, std::memory_order_relaxed);
    slot.handle.store(handle, std::memory_order_release);
    return;
  }
  // More live handles near this one than a lookup looks at: only the
  // locked lookups find it.
  logLine("the handle table is crowded; handle %u is found more slowly", handle);
}

// Under mutex_; the caller quiesces before the object goes.
void Registry::hide(uint32_t handle) {
  for (size_t i = 0; i < kProbe; ++i) {
    Slot& slot = slots_[(handle + i) % kSlots];
    if (slot.handle.load(std::memory_order_relaxed) != handle) continue;
    slot.retiredAt = generation_.load(std::memory_order_seq_cst);
    slot.handle.store(kRetired, std::memory_order_seq_cst);
    return;
  }
}

void* Registry::find(uint32_t handle, bool isGraph) const noexcept {
  if (handle == 0 || handle == kRetired) return nullptr;
  for (size_t i = 0; i < kProbe; ++i) {
    const Slot& slot = slots_[(handle + i) % kSlots];
    if (slot.handle.load(std::memory_order_acquire) != handle) continue;
    if (slot.isGraph.load(std::memory_order_relaxed) != isGraph) return nullptr;
    return slot.object.load(std::memory_order_relaxed);
  }
  return nullptr;
}

Graph* Registry::findGraph(AUGraph handle) const noexcept { return static_cast<Graph*>(find(handle, true)); }

Unit* Registry::findUnit(AudioUnit handle) const noexcept { return static_cast<Unit*>(find(handle, false)); }

AUGraph Registry::addGraph(std::shared_ptr<Graph> graph) {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint32_t handle = nextHandle();
  show(handle, true, graph.get());
  graphs_.emplace(handle, std::move(graph));
  return handle;
}

std::shared_ptr<Graph> Registry::graph(AUGraph handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = graphs_.find(handle);
  return found == graphs_.end() ? nullptr : found->second;
}

std::shared_ptr<Graph> Registry::takeGraph(AUGraph handle) {
  std::shared_ptr<Graph> graph;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = graphs_.find(handle);
    if (found == graphs_.end()) return nullptr;
    graph = std::move(found->second);
    graphs_.erase(found);
    hide(handle);
  }
  freeRetired();
  return graph;
}

AudioUnit Registry::addUnit(std::shared_ptr<Unit> unit) {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint32_t handle = nextHandle();
  show(handle, false, unit.get());
  units_.emplace(handle, std::move(unit));
  return handle;
}

std::shared_ptr<Unit> Registry::unit(AudioUnit handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = units_.find(handle);
  return found == units_.end() ? nullptr : found->second;
}

void Registry::removeUnit(AudioUnit handle) {
  std::shared_ptr<Unit> leaving;  // released after the lock
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = units_.find(handle);
    if (found == units_.end()) return;
    leaving = std::move(found->second);
    units_.erase(found);
    hide(handle);
  }
  freeRetired();
}

void Registry::freeRetired() {
  // No lookup that could still see an object hidden before this is running
  // after the quiesce; then those slots can take new handles.
  const uint64_t before = generation_.load(std::memory_order_seq_cst);
  quiesce();
  std::lock_guard<std::mutex> lock(mutex_);
  for (Slot& slot : slots_) {
    if (slot.handle.load(std::memory_order_relaxed) != kRetired || slot.retiredAt > before) continue;
    slot.object.store(nullptr, std::memory_order_relaxed);
    slot.handle.store(0, std::memory_order_release);
  }
}

}  // namespace chimewick::audio
