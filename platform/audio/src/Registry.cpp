#include "Registry.h"

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
  remaining.clear();
  uninstallFluidLogger();
}

uint32_t Registry::nextHandle() {
  ++lastHandle_;
  if (lastHandle_ == 0) ++lastHandle_;
  return lastHandle_;
}

AUGraph Registry::addGraph(std::shared_ptr<Graph> graph) {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint32_t handle = nextHandle();
  graphs_.emplace(handle, std::move(graph));
  return handle;
}

std::shared_ptr<Graph> Registry::graph(AUGraph handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = graphs_.find(handle);
  return found == graphs_.end() ? nullptr : found->second;
}

std::shared_ptr<Graph> Registry::takeGraph(AUGraph handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = graphs_.find(handle);
  if (found == graphs_.end()) return nullptr;
  std::shared_ptr<Graph> graph = std::move(found->second);
  graphs_.erase(found);
  return graph;
}

AudioUnit Registry::addUnit(std::shared_ptr<Unit> unit) {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint32_t handle = nextHandle();
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
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = units_.find(handle);
  if (found == units_.end()) return;
  leaving = std::move(found->second);
  units_.erase(found);
}

}  // namespace chimewick::audio
