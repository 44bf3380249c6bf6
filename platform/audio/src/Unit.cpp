#include "Unit.h"

#include "AudioLog.h"

namespace chimewick::audio {

OSStatus Unit::getProperty(uint32_t propertyID, uint32_t, uint32_t, void*, uint32_t*) {
  logLine("this unit has no property %u", propertyID);
  return kAudioErr_InvalidProperty;
}

OSStatus Unit::setProperty(uint32_t propertyID, uint32_t, uint32_t, const void*, uint32_t) {
  logLine("this unit has no property %u", propertyID);
  return kAudioErr_InvalidProperty;
}

}  // namespace chimewick::audio
