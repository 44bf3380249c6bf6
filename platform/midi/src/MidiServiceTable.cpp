// The backends in order of preference, and the choice by CHIMEWICK_MIDI.
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "MidiService.h"
#include "chimewick/Log.h"

namespace chimewick::midi {

const std::vector<ServiceEntry>& serviceTable() {
  static const std::vector<ServiceEntry> table = {
      {"alsa", &openAlsaClient},
      {"jack", &openJackClient},
      {"virtual", &openVirtualClient},
  };
  return table;
}

std::shared_ptr<ServiceClient> openServiceClient(const std::string& name, ClientListener& listener,
                                                 int32_t& status) {
  const char* setting = std::getenv("CHIMEWICK_MIDI");
  const std::string wanted = (setting == nullptr || *setting == '\0') ? "auto" : setting;
  status = kStatusNoService;
  if (wanted == "auto") {
    // The real services only: the virtual one has no devices.
    for (const ServiceEntry& entry : serviceTable()) {
      if (std::strcmp(entry.name, "virtual") == 0) continue;
      if (auto client = entry.open(name, listener, status)) return client;
    }
    status = kStatusNoService;
    return nullptr;
  }
  for (const ServiceEntry& entry : serviceTable())
    if (wanted == entry.name) return entry.open(name, listener, status);
  chimewick::midiLog.line(
      "unknown CHIMEWICK_MIDI value \"%s\" (auto, alsa, jack or virtual); no MIDI service", wanted.c_str());
  return nullptr;
}

}  // namespace chimewick::midi
