// A unit of a graph: what AudioUnit handles name.
#pragma once

#include <cstdint>

#include "AudioToolbox.h"

namespace chimewick::audio {

class SynthUnit;
class FilterUnit;
class OutputUnit;

class Unit {
 public:
  explicit Unit(const ComponentDescription& description) : description_(description) {}
  virtual ~Unit() = default;
  Unit(const Unit&) = delete;
  Unit& operator=(const Unit&) = delete;

  const ComponentDescription& description() const { return description_; }

  // Readies the unit to render at a sample rate. Control thread; may wait (loads files).
  virtual OSStatus initialize(double sampleRate) = 0;
  // Gives up what initialize() took. Control thread, while nothing renders through it.
  virtual void uninitialize() = 0;

  // Property access as AudioUnitGetProperty / AudioUnitSetProperty. Control thread.
  virtual OSStatus getProperty(uint32_t propertyID, uint32_t scope, uint32_t element, void* outData,
                               uint32_t* ioDataSize);
  virtual OSStatus setProperty(uint32_t propertyID, uint32_t scope, uint32_t element, const void* data,
                               uint32_t dataSize);

  virtual SynthUnit* asSynth() { return nullptr; }
  virtual FilterUnit* asFilter() { return nullptr; }
  virtual OutputUnit* asOutput() { return nullptr; }

 private:
  ComponentDescription description_;
};

}  // namespace chimewick::audio
