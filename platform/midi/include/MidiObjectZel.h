// The base of the MIDI service's objects: a system handle, the status of the
// last call, and string properties (the name).
#pragma once

#include <atomic>
#include <cstdint>

#include "CFStringZel.h"
#include "rb/Object.h"
#include "rb/String.h"

class MidiObjectZel : public rb::Object {
 public:
  MidiObjectZel() = default;
  // An object with a given handle and name (what the service reports).
  MidiObjectZel(int32_t handle, rb::String name) : handle_(handle), name_(std::move(name)) {}

  // The system handle; 0 when there is none. Any thread.
  int32_t Handle() const noexcept { return handle_.load(std::memory_order_acquire); }

  // 0 after the last call succeeded, else the service's status (a negative
  // errno value). Any thread.
  int32_t Lasterror() const noexcept { return lasterror_.load(std::memory_order_acquire); }

  // The key of the object's name property. Any thread.
  rb::Ref<CFStringZel> kMIDIPropertyName() const;

  // The text of the property under key; nil for an unknown key or a nil
  // key. Any thread.
  rb::Ref<CFStringZel> StringProperty(rb::Ref<CFStringZel> key) const;

  std::string ClassName() const override { return "MidiObjectZel"; }

 protected:
  void setHandle(int32_t handle) noexcept { handle_.store(handle, std::memory_order_release); }
  void setLasterror(int32_t status) noexcept { lasterror_.store(status, std::memory_order_release); }
  // Called before the object is shared with another thread.
  void setName(rb::String name) { name_ = std::move(name); }
  const rb::String& name() const noexcept { return name_; }

 private:
  std::atomic<int32_t> handle_{0};
  std::atomic<int32_t> lasterror_{0};
  rb::String name_;
};
