// The low-pass filter unit: input 0, output 0, its defaults unchangeable.
#pragma once

#include "LowPassFilter.h"
#include "Unit.h"

namespace chimewick::audio {

class FilterUnit final : public Unit {
 public:
  using Unit::Unit;

  OSStatus initialize(double sampleRate) override {
    filter_.configure(sampleRate);
    return 0;
  }
  void uninitialize() override {}
  FilterUnit* asFilter() override { return this; }

  // The filter the render plan runs. Audio thread once published.
  LowPassFilter& filter() { return filter_; }

 private:
  LowPassFilter filter_;
};

}  // namespace chimewick::audio
