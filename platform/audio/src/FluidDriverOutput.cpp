// A FluidSynth audio driver pulling from our render callback.
#include <jack/jack.h>

#include <cstdlib>

#include "AudioLog.h"
#include "FluidHandles.h"
#include "OutputDevice.h"
#include "RenderEngine.h"

namespace chimewick::audio {

namespace {

class FluidDriverOutput final : public OutputDevice {
 public:
  FluidDriverOutput(FluidSettingsPtr settings, OutputGrant grant)
      : settings_(std::move(settings)), grant_(std::move(grant)) {}
  const OutputGrant& grant() const override { return grant_; }
  void adopt(FluidDriverPtr driver) { driver_ = std::move(driver); }

 private:
  // Teardown order: the driver (and its thread) before its settings.
  FluidSettingsPtr settings_;
  OutputGrant grant_;
  FluidDriverPtr driver_;
};

struct JackClientCloser {
  void operator()(jack_client_t* client) const { jack_client_close(client); }
};

// A JACK server runs at its own rate and FluidSynth's driver cannot tell a
// synthesizer it did not make; so ask the server first. 0 when none runs.
double jackServerRate() {
  std::unique_ptr<jack_client_t, JackClientCloser> client(
      jack_client_open("Chimewick rate probe", JackNoStartServer, nullptr));
  return client ? double(jack_get_sample_rate(client.get())) : 0.0;
}

}  // namespace

std::unique_ptr<OutputDevice> openFluidDriver(const std::string& driverName, RenderEngine& engine,
                                              double sampleRate) {
  FluidSettingsPtr settings(new_fluid_settings());
  if (!settings) {
    logLine("FluidSynth cannot make driver settings");
    return nullptr;
  }
  fluid_settings_t* s = settings.get();
  if (fluid_settings_setstr(s, "audio.driver", driverName.c_str()) != FLUID_OK) {
    logLine("FluidSynth has no audio driver \"%s\"", driverName.c_str());
    return nullptr;
  }
  if (driverName == "jack") {
    if (const double serverRate = jackServerRate(); serverRate > 0.0) sampleRate = serverRate;
  }
  fluid_settings_setnum(s, "synth.sample-rate", sampleRate);
  fluid_settings_setstr(s, "audio.sample-format", "float");
  fluid_settings_setint(s, "audio.period-size", kRequestedPeriodFrames);
  fluid_settings_setint(s, "audio.periods", kRequestedPeriods);
  fluid_settings_setstr(s, "audio.pulseaudio.media-role", "music");
  fluid_settings_setint(s, "audio.pulseaudio.adjust-latency", 1);
  fluid_settings_setstr(s, "audio.jack.id", "Chimewick");
  fluid_settings_setint(s, "audio.jack.autoconnect", 1);

  // The driver's thread may call back before adopt(); the engine renders
  // silence until the graph publishes its plan, so that is harmless.
  fluid_audio_driver_t* driver = new_fluid_audio_driver2(s, RenderEngine::fluidCallback, &engine);
  if (driver == nullptr) {
    logLine("the %s output does not open", driverName.c_str());
    return nullptr;
  }
  OutputGrant grant;
  grant.device = driverName;
  double grantedRate = sampleRate;
  fluid_settings_getnum(s, "synth.sample-rate", &grantedRate);
  grant.sampleRate = grantedRate;
  grant.periodFrames = kRequestedPeriodFrames;
  grant.periods = kRequestedPeriods;
  auto output = std::make_unique<FluidDriverOutput>(std::move(settings), grant);
  output->adopt(FluidDriverPtr(driver));
  return output;
}

std::unique_ptr<OutputDevice> openOutputDevice(const std::string& setting, RenderEngine& engine,
                                               double sampleRate) {
  if (setting == "null") return openClockOutput("", engine, sampleRate);
  if (setting.rfind("wav:", 0) == 0) {
    if (setting.size() == 4) {
      logLine("CHIMEWICK_AUDIO_OUTPUT=wav: names no file");
      return nullptr;
    }
    return openClockOutput(setting.substr(4), engine, sampleRate);
  }
  if (setting == "pulseaudio" || setting == "alsa" || setting == "jack")
    return openFluidDriver(setting, engine, sampleRate);
  if (setting != "auto" && !setting.empty()) {
    logLine("CHIMEWICK_AUDIO_OUTPUT=%s is none of auto, pulseaudio, alsa, jack, null, wav:PATH",
            setting.c_str());
    return nullptr;
  }
  // Automatic choice never starts a JACK server of its own: only one that
  // already runs is used.
  ::setenv("JACK_NO_START_SERVER", "1", 0);
  for (const char* name : {"pulseaudio", "alsa", "jack"}) {
    if (auto output = openFluidDriver(name, engine, sampleRate)) return output;
  }
  logLine("no output opens (tried PulseAudio, ALSA and JACK)");
  return nullptr;
}

}  // namespace chimewick::audio
