#include "ChannelTuning.h"

namespace chimewick::audio {

namespace {
enum : uint32_t {
  kDataEntryMsb = 6,
  kDataEntryLsb = 38,
  kNonRegisteredLsb = 98,
  kNonRegisteredMsb = 99,
  kRegisteredLsb = 100,
  kRegisteredMsb = 101,
  kResetAllControllers = 121,
};
}  // namespace

std::optional<double> ChannelTuning::controlChange(uint32_t controller, uint32_t value) {
  switch (controller) {
    case kRegisteredMsb:
      parameterMsb_ = uint8_t(value);
      nonRegistered_ = 0;
      return std::nullopt;
    case kRegisteredLsb:
      parameterLsb_ = uint8_t(value);
      nonRegistered_ = 0;
      return std::nullopt;
    case kNonRegisteredMsb:
    case kNonRegisteredLsb:
      nonRegistered_ = 1;
      return std::nullopt;
    case kResetAllControllers:
      // The selection goes to null; the values stay, so that a later data
      // entry LSB still refines the fine tuning that sounds.
      parameterMsb_ = kNull;
      parameterLsb_ = kNull;
      nonRegistered_ = false;
      return std::nullopt;
    case kDataEntryMsb:
    case kDataEntryLsb:
      if (nonRegistered_ || parameterMsb_ != 0 || parameterLsb_ != 1) return std::nullopt;
      if (controller == kDataEntryMsb) {
        dataMsb_ = uint8_t(value);
        dataLsb_ = 0;
      } else {
        dataLsb_ = uint8_t(value);
      }
      // 14 bits of data, 8192 steps per semitone (64 per MSB step).
      return double(dataMsb_ * 128 + dataLsb_) * 100.0 / 8192.0;
    default:
      return std::nullopt;
  }
}

}  // namespace chimewick::audio
