#include "SynthesizerFailure.h"

#include <cstdlib>
#include <string>

#include "rb/Text.h"

namespace {

// The audio layer's settings, read here only to name them to the player,
// with the defaults that layer documents.
std::string AudioSetting(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

std::string OutputNotOpened() {
  const std::string output = AudioSetting("CHIMEWICK_AUDIO_OUTPUT", "auto");
  if (output == "auto") return "no audio output could be opened (tried PulseAudio, ALSA and JACK)";
  if (output == "pulseaudio") return "the PulseAudio output could not be opened";
  if (output == "alsa") return "the ALSA output could not be opened";
  if (output == "jack") return "the JACK output could not be opened";
  if (output.rfind("wav:", 0) == 0) {
    if (output.size() == 4) return "CHIMEWICK_AUDIO_OUTPUT=wav: names no file";
    return "the WAV file " + output.substr(4) + " could not be written";
  }
  return "CHIMEWICK_AUDIO_OUTPUT=" + output +
         " names none of auto, pulseaudio, alsa, jack, null and wav:PATH";
}

}  // namespace

rb::String SynthesizerFailureMessage(int32_t lasterror) {
  const std::string start = "Chimewick could not start its synthesizer";
  switch (lasterror) {
    case kSynthesizerStatusSoundFont:
      return rb::String(start + ": the SoundFont " +
                        AudioSetting("CHIMEWICK_SOUNDFONT", CHIMEWICK_DEFAULT_SOUNDFONT) +
                        " is missing or unreadable.");
    case kSynthesizerStatusNoOutput:
      return rb::String(start + ": " + OutputNotOpened() + ".");
    default:
      // Nothing a player can mend: the status is for a report.
      return rb::String(start + " (audio system status ") + rb::Str(lasterror) + ").";
  }
}
