// A FluidSynth audio driver (PulseAudio, ALSA) pulling from our render
// callback.

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
  fluid_settings_setnum(s, "synth.sample-rate", sampleRate);
  fluid_settings_setstr(s, "audio.sample-format", "float");
  fluid_settings_setint(s, "audio.period-size", kRequestedPeriodFrames);
  fluid_settings_setint(s, "audio.periods", kRequestedPeriods);
  fluid_settings_setstr(s, "audio.pulseaudio.media-role", "music");
  fluid_settings_setint(s, "audio.pulseaudio.adjust-latency", 1);

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

}  // namespace chimewick::audio
