// The per-object data of a MidiPlaybackZel object, as the host allocates it
// (zero-filled, 92 bytes) inside its own object, and the lock-free accessors
// through which both the UI thread and the MIDI input thread touch it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "AudioToolbox.h"

struct PlaybackInstanceData {
  int32_t Handle;                 // read-only property; nothing here writes it
  int32_t Lasterror;              // read-only property: status of the last member call
  int32_t channelInstrument[16];  // Instrument ID last selected on MIDI channel 0..15
  AUGraph graph;                  // 0: no graph (not initialised)
  AUNode synthNode;
  AUNode filterNode;
  AUNode outputNode;
  int32_t spare;
};

static_assert(sizeof(PlaybackInstanceData) == 92, "the host allocates exactly 92 bytes");
static_assert(offsetof(PlaybackInstanceData, Handle) == 0, "property Handle is read at offset 0");
static_assert(offsetof(PlaybackInstanceData, Lasterror) == 4, "property Lasterror is read at offset 4");
static_assert(sizeof(AUGraph) == 4 && sizeof(AUNode) == 4, "32-bit handles keep the record at 92 bytes");

// Relaxed atomic access to one field: the host's memory is plain, so the
// fields are reached through std::atomic_ref. Any thread, never waits.
template <typename T>
inline T loadField(T& field) noexcept {
  return std::atomic_ref<T>(field).load(std::memory_order_relaxed);
}
template <typename T>
inline void storeField(T& field, T value) noexcept {
  std::atomic_ref<T>(field).store(value, std::memory_order_relaxed);
}

// The graph field publishes the node fields written before it: a reader that
// sees a graph also sees its nodes.
inline AUGraph loadGraph(PlaybackInstanceData& data) noexcept {
  return std::atomic_ref<AUGraph>(data.graph).load(std::memory_order_acquire);
}
inline void storeGraph(PlaybackInstanceData& data, AUGraph graph) noexcept {
  std::atomic_ref<AUGraph>(data.graph).store(graph, std::memory_order_release);
}

inline void setLasterror(PlaybackInstanceData& data, int32_t status) noexcept {
  storeField(data.Lasterror, status);
}

// The instance data of the host's object: the object pointer plus the offset
// the host wrote into word 4 of the class record, read afresh at every call.
PlaybackInstanceData& InstanceDataOf(void* object) noexcept;
