// The synthesizer unit: FluidSynth playing the SoundFont of
// CHIMEWICK_SOUNDFONT; its sound on output bus 1.
#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ChannelTuning.h"
#include "FluidHandles.h"
#include "InstrumentCatalog.h"
#include "SoundFontLoader.h"
#include "Unit.h"

namespace chimewick::audio {

class SynthUnit final : public Unit {
 public:
  static constexpr int kChannels = 16;

  // Makes the synthesizer: the preloaded one when it was made for this
  // SoundFont and rate (waiting for its load), else a new one without a
  // SoundFont yet; nullptr with the reason on standard error when FluidSynth
  // cannot. Control thread; may wait.
  static std::shared_ptr<SynthUnit> create(const ComponentDescription& description, double sampleRate);

  // Loads the SoundFont (or takes the one preloaded); kAudioErr_SoundFont with the reason on standard
  // error when it is missing, empty or unreadable. Control thread; waits.
  OSStatus initialize(double sampleRate) override;
  void uninitialize() override;
  SynthUnit* asSynth() override { return this; }

  OSStatus getProperty(uint32_t propertyID, uint32_t scope, uint32_t element, void* outData,
                       uint32_t* ioDataSize) override;
  OSStatus setProperty(uint32_t propertyID, uint32_t scope, uint32_t element, const void* data,
                       uint32_t dataSize) override;

  // Plays one MIDI event of which byteCount bytes are real (the status byte
  // included); a channel message missing a data byte it needs is ignored.
  // Any thread, JACK's real-time one included: no lock but FluidSynth's own,
  // no allocation.
  OSStatus midiEvent(uint32_t status, uint32_t data1, uint32_t data2, uint32_t byteCount = 3);

  // The synthesizer the render plan runs. Audio thread once published.
  fluid_synth_t* synth() const { return synth_.get(); }

  // Follows a sample rate the output device imposes. Control thread, while
  // nothing renders.
  void changeSampleRate(double sampleRate);

  // The SoundFont bank and program of the preset on a channel; {-1, -1} for
  // none. For tests. Any thread.
  std::pair<int, int> channelPreset(int channel) const;

  explicit SynthUnit(const ComponentDescription& description) : Unit(description) {}

 private:
  static constexpr uint32_t kResetAllControllers = 121;
  static constexpr uint32_t kFirstModeMessage = 124;

  OSStatus controlChange(int channel, uint32_t controller, uint32_t value);
  // Controller 121 as FluidSynth reads it, then the channel's parameter
  // values as they were. Caller holds tuningMutex_.
  void resetControllersKeepingParameters(int channel);

  // Teardown order: synth before its settings.
  FluidSettingsPtr settings_;
  FluidSynthPtr synth_;
  int soundFontId_ = -1;
  std::optional<LoadedSoundFont> preloadedSoundFont_;  // until initialize() adopts it
  std::vector<Instrument> instruments_;                // UI thread
  std::atomic<bool> initialized_{false};
  bool reverbOn_ = true;
  // MIDI and UI threads; changed by compare-and-swap, never locked.
  std::array<std::atomic<ChannelTuning>, kChannels> tuning_{};
};

}  // namespace chimewick::audio
