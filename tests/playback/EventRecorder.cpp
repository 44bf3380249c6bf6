#include "EventRecorder.h"

#include <stdexcept>

std::ostream& operator<<(std::ostream& out, const MidiEvent& e) {
  return out << "{" << e.status << ", " << e.data1 << ", " << e.data2 << ", " << e.offset << "}";
}

EventRecorder::EventRecorder(const AudioSeams& seams) : seams_(seams) {
  if (seams_.setEventTap == nullptr) throw std::runtime_error("the bundle has no event tap");
  seams_.setEventTap(&EventRecorder::tap, this);
}

EventRecorder::~EventRecorder() { seams_.setEventTap(nullptr, nullptr); }

std::vector<MidiEvent> EventRecorder::events() {
  std::lock_guard lock(mutex_);
  return events_;
}

void EventRecorder::clear() {
  std::lock_guard lock(mutex_);
  events_.clear();
}

void EventRecorder::tap(void* context, AudioUnit, uint32_t status, uint32_t data1, uint32_t data2,
                        uint32_t offset) {
  auto* self = static_cast<EventRecorder*>(context);
  std::lock_guard lock(self->mutex_);
  self->events_.push_back(MidiEvent{status, data1, data2, offset});
}
