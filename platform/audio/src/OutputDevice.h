// Where the output unit sends the sound: a FluidSynth audio driver
// (PulseAudio, ALSA), the program's JACK client, or our own clock (null,
// wav:PATH).
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace chimewick::audio {

class RenderEngine;

// What the device gave us, for the report on standard error.
struct OutputGrant {
  std::string device;
  double sampleRate = 0.0;
  int periodFrames = 0;
  int periods = 0;
};

class OutputDevice {
 public:
  virtual ~OutputDevice() = default;
  // The device pulls sound from the engine on its own thread from the moment
  // it opens until it is destroyed (which waits for that thread).
  virtual const OutputGrant& grant() const = 0;
};

// The frames per period and the periods we ask every device for.
constexpr int kRequestedPeriodFrames = 256;
constexpr int kRequestedPeriods = 2;

// Opens an output pulling from engine; argument is what follows the name in
// the setting (the path of wav:PATH). nullptr with the reason on standard
// error. UI thread; waits for the device.
using OutputFactory = std::unique_ptr<OutputDevice> (*)(const std::string& argument, RenderEngine& engine,
                                                        double sampleRate);

struct OutputEntry {
  const char* name;
  bool automatic;  // tried by "auto", in table order
  OutputFactory open;
};

// The outputs, in order of preference for "auto": PulseAudio, ALSA, JACK;
// then null and wav, only by name.
const std::vector<OutputEntry>& outputTable();

// Opens the output that the setting names (CHIMEWICK_AUDIO_OUTPUT: auto,
// pulseaudio, alsa, jack, null, wav:PATH) at a sample rate (a JACK server
// imposes its own). nullptr with the reason on standard error when none
// opens. UI thread; waits for the device.
std::unique_ptr<OutputDevice> openOutputDevice(const std::string& setting, RenderEngine& engine,
                                               double sampleRate);

// The factories behind the table; declared for tests.
std::unique_ptr<OutputDevice> openFluidDriver(const std::string& driverName, RenderEngine& engine,
                                              double sampleRate);
std::unique_ptr<OutputDevice> openJackOutput(const std::string& unused, RenderEngine& engine,
                                             double sampleRate);
std::unique_ptr<OutputDevice> openClockOutput(const std::string& wavPath, RenderEngine& engine,
                                              double sampleRate);

}  // namespace chimewick::audio
