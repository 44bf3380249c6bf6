// The outputs in one table, in order of preference for "auto", and the
// choice by CHIMEWICK_AUDIO_OUTPUT.
#include "AudioLog.h"
#include "OutputDevice.h"

namespace chimewick::audio {

const std::vector<OutputEntry>& outputTable() {
  static const std::vector<OutputEntry> table = {
      {"pulseaudio", true,
       [](const std::string&, RenderEngine& engine, double rate) {
         return openFluidDriver("pulseaudio", engine, rate);
       }},
      {"alsa", true,
       [](const std::string&, RenderEngine& engine, double rate) {
         return openFluidDriver("alsa", engine, rate);
       }},
      // Ours, on the program's one JACK client; never starts a server.
      {"jack", true, &openJackOutput},
      {"null", false,
       [](const std::string&, RenderEngine& engine, double rate) {
         return openClockOutput("", engine, rate);
       }},
      {"wav", false,
       [](const std::string& path, RenderEngine& engine, double rate) {
         if (path.empty()) {
           logLine("CHIMEWICK_AUDIO_OUTPUT=wav: names no file");
           return std::unique_ptr<OutputDevice>();
         }
         return openClockOutput(path, engine, rate);
       }},
  };
  return table;
}

std::unique_ptr<OutputDevice> openOutputDevice(const std::string& setting, RenderEngine& engine,
                                               double sampleRate) {
  if (setting.empty() || setting == "auto") {
    for (const OutputEntry& entry : outputTable()) {
      if (!entry.automatic) continue;
      if (auto output = entry.open("", engine, sampleRate)) return output;
    }
    logLine("no output opens (tried PulseAudio, ALSA and JACK)");
    return nullptr;
  }
  // "name" or "name:argument" (wav:PATH).
  const size_t colon = setting.find(':');
  const std::string name = setting.substr(0, colon);
  const std::string argument = colon == std::string::npos ? std::string() : setting.substr(colon + 1);
  for (const OutputEntry& entry : outputTable()) {
    if (name != entry.name) continue;
    if (colon != std::string::npos && name != "wav") break;
    return entry.open(argument, engine, sampleRate);
  }
  logLine("CHIMEWICK_AUDIO_OUTPUT=%s is none of auto, pulseaudio, alsa, jack, null, wav:PATH",
          setting.c_str());
  return nullptr;
}

}  // namespace chimewick::audio
