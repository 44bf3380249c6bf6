// The one table of graph and unit handles. Handles are 32-bit numbers from
// one counter, never reused, so a stale or mistaken handle finds nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "AudioToolbox.h"

namespace chimewick::audio {

class Graph;
class Unit;

class Registry {
 public:
  static Registry& instance();
  ~Registry();

  // Graphs: added and taken on the UI thread, found from any thread.
  // A graph found stays alive while the caller holds it, even if it is
  // taken meanwhile.
  AUGraph addGraph(std::shared_ptr<Graph> graph);
  std::shared_ptr<Graph> graph(AUGraph handle);
  std::shared_ptr<Graph> takeGraph(AUGraph handle);

  // Units: added and removed on the UI thread, found from any thread.
  // A unit found stays alive while the caller holds it, even if its graph
  // goes meanwhile.
  AudioUnit addUnit(std::shared_ptr<Unit> unit);
  std::shared_ptr<Unit> unit(AudioUnit handle);
  void removeUnit(AudioUnit handle);

 private:
  Registry() = default;
  uint32_t nextHandle();

  std::mutex mutex_;
  uint32_t lastHandle_ = 0;
  std::unordered_map<uint32_t, std::shared_ptr<Graph>> graphs_;
  std::unordered_map<uint32_t, std::shared_ptr<Unit>> units_;
};

}  // namespace chimewick::audio
