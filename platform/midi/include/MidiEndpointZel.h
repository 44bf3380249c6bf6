// A MIDI source as the service lists it: its handle and its name.
#pragma once

#include "MidiObjectZel.h"

class MidiEndpointZel : public MidiObjectZel {
 public:
  MidiEndpointZel() = default;
  MidiEndpointZel(int32_t handle, rb::String name) : MidiObjectZel(handle, std::move(name)) {}

  std::string ClassName() const override { return "MidiEndpointZel"; }
};
