// The one table of graph and unit handles. Handles are 32-bit numbers from
// one counter, never reused, so a stale or mistaken handle finds nothing.
#pragma once

#include <array>
#include <atomic>
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

  // While a Reader lives, what findGraph and findUnit give (and a graph's
  // node table) stays alive: taking a graph or unit away waits for every
  // Reader that began before. Any thread, the real-time one included: no
  // lock, no allocation, never waits.
  class Reader {
   public:
    Reader() noexcept;
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

   private:
    unsigned side_;
  };

  // Lookups for a Reader's holder; nullptr for an unknown handle. Any thread;
  // no lock, no allocation.
  Graph* findGraph(AUGraph handle) const noexcept;
  Unit* findUnit(AudioUnit handle) const noexcept;

  // Waits until every Reader that began before the call has ended (a MIDI
  // event at most). UI thread.
  void quiesce() noexcept;

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

  // The lock-free view of the handles: a handle lives near its home slot.
  struct Slot {
    std::atomic<uint32_t> handle{0};  // 0 free, kRetired while readers drain
    std::atomic<bool> isGraph{false};
    std::atomic<void*> object{nullptr};
    uint64_t retiredAt = 0;  // the generation when hidden; under mutex_
  };
  static constexpr size_t kSlots = 1024;
  static constexpr size_t kProbe = 64;
  static constexpr uint32_t kRetired = UINT32_MAX;
  void show(uint32_t handle, bool isGraph, void* object);
  void hide(uint32_t handle);
  void* find(uint32_t handle, bool isGraph) const noexcept;
  void freeRetired();

  std::mutex mutex_;
  uint32_t lastHandle_ = 0;
  std::unordered_map<uint32_t, std::shared_ptr<Graph>> graphs_;
  std::unordered_map<uint32_t, std::shared_ptr<Unit>> units_;
  std::array<Slot, kSlots> slots_;
  // Readers in two generations; quiesce() moves new readers to the other
  // side and waits for the old side to empty.
  std::mutex quiesceMutex_;
  std::atomic<uint64_t> generation_{0};
  std::array<std::atomic<int64_t>, 2> readers_{};
};

}  // namespace chimewick::audio
