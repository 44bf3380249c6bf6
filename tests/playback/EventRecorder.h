// Records every event that reaches a synthesizer unit of a bundle through
// the audio layer's event tap, while it lives.
#pragma once

#include <cstdint>
#include <mutex>
#include <ostream>
#include <vector>

#include "Bundles.h"

struct MidiEvent {
  uint32_t status, data1, data2, offset;
  bool operator==(const MidiEvent&) const = default;
};
std::ostream& operator<<(std::ostream& out, const MidiEvent& event);

class EventRecorder {
 public:
  // Throws std::runtime_error when the bundle has no event tap.
  explicit EventRecorder(const AudioSeams& seams);
  ~EventRecorder();
  EventRecorder(const EventRecorder&) = delete;
  EventRecorder& operator=(const EventRecorder&) = delete;
  std::vector<MidiEvent> events();
  void clear();

 private:
  static void tap(void* context, AudioUnit unit, uint32_t status, uint32_t data1, uint32_t data2,
                  uint32_t offset);
  AudioSeams seams_;
  std::mutex mutex_;
  std::vector<MidiEvent> events_;
};
