#include "MidiStatusText.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "MidiService.h"

namespace {

// The service that CHIMEWICK_MIDI names, as the service table reads it.
std::string serviceSetting() {
  const char* setting = std::getenv("CHIMEWICK_MIDI");
  return setting == nullptr || *setting == '\0' ? "auto" : setting;
}

bool isKnownService(const std::string& name) {
  if (name == "auto") return true;
  for (const auto& entry : chimewick::midi::serviceTable())
    if (name == entry.name) return true;
  return false;
}

// The system's words for a negative errno value, in lower case as a clause.
std::string errnoText(int32_t status) {
  std::string text = std::strerror(-status);
  if (!text.empty()) text[0] = char(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

}  // namespace

rb::String MidiStatusText(int32_t status) {
  if (status == chimewick::midi::kStatusOk) return {};
  const std::string service = serviceSetting();
  if (!isKnownService(service))
    return rb::String("no MIDI service: CHIMEWICK_MIDI names none of auto, alsa, jack and virtual");
  // The ALSA sequencer answers a missing /dev/snd/seq with ENOENT; every
  // service says ENODEV when it is not there at all.
  const bool missing = status == chimewick::midi::kStatusNoService || status == -ENOENT;
  const bool refused = status == -EACCES || status == -EPERM;
  if (service == "auto" && missing)
    return rb::String("no MIDI service: no ALSA sequencer and no JACK server");
  if (service == "alsa") {
    if (missing) return rb::String("no MIDI service: no ALSA sequencer");
    if (refused)
      return rb::String("no MIDI service: the ALSA sequencer may not be opened (" + errnoText(status) + ")");
    return rb::String("the ALSA sequencer failed: " + errnoText(status));
  }
  if (service == "jack") {
    if (missing) return rb::String("no MIDI service: no JACK server");
    return rb::String("the JACK server failed: " + errnoText(status));
  }
  return rb::String("the MIDI service failed: " + errnoText(status));
}
