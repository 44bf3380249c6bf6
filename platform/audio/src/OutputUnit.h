// The default output unit: input 0; owns the open device while the graph runs.
#pragma once

#include <memory>

#include "OutputDevice.h"
#include "Unit.h"

namespace chimewick::audio {

class OutputUnit final : public Unit {
 public:
  using Unit::Unit;

  OSStatus initialize(double) override { return 0; }
  void uninitialize() override { device_.reset(); }
  OutputUnit* asOutput() override { return this; }

  // Control thread. Closing waits for the device's thread.
  void attach(std::unique_ptr<OutputDevice> device) { device_ = std::move(device); }
  void close() { device_.reset(); }
  const OutputDevice* device() const { return device_.get(); }

 private:
  std::unique_ptr<OutputDevice> device_;
};

}  // namespace chimewick::audio
