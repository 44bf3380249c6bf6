#include "SynthUnit.h"

#include <cstring>
#include <utility>

#include "AudioLog.h"
#include "SoundFontPreload.h"

namespace chimewick::audio {

namespace {

OSStatus readUInt32Size(void* outData, uint32_t* ioDataSize) {
  if (outData == nullptr || ioDataSize == nullptr || *ioDataSize < sizeof(uint32_t)) {
    logLine("a UInt32 property needs a buffer of 4 bytes");
    return kAudioErr_InvalidPropertySize;
  }
  return 0;
}

// The data bytes a channel message cannot be played without. A note-off
// needs only its key: its release velocity is not played, and a note-off
// lost would leave the note sounding.
uint32_t dataBytesNeeded(uint32_t status) {
  switch (status & 0xF0) {
    case 0x80:
    case 0xC0:
    case 0xD0:
      return 1;
    default:
      return 2;
  }
}

OSStatus putUInt32(uint32_t value, void* outData, uint32_t* ioDataSize) {
  if (OSStatus status = readUInt32Size(outData, ioDataSize)) return status;
  std::memcpy(outData, &value, sizeof value);
  *ioDataSize = sizeof value;
  return 0;
}

}  // namespace

std::shared_ptr<SynthUnit> SynthUnit::create(const ComponentDescription& description, double sampleRate) {
  auto unit = std::make_shared<SynthUnit>(description);
  if (std::unique_ptr<PreloadedSynth> preloaded =
          SoundFontPreload::take(configuredSoundFontPath(), sampleRate)) {
    unit->settings_ = std::move(preloaded->fluid.settings);
    unit->synth_ = std::move(preloaded->fluid.synth);
    unit->preloadedSoundFont_ = std::move(preloaded->soundFont);
    return unit;
  }
  std::optional<FluidSynthPair> fluid = makeFluidSynth(sampleRate);
  if (!fluid) return nullptr;
  unit->settings_ = std::move(fluid->settings);
  unit->synth_ = std::move(fluid->synth);
  return unit;
}

OSStatus SynthUnit::initialize(double) {
  if (initialized_.load()) return 0;
  std::optional<LoadedSoundFont> soundFont = std::exchange(preloadedSoundFont_, std::nullopt);
  if (!soundFont) soundFont = loadSoundFont(synth_.get(), configuredSoundFontPath());
  if (!soundFont) return kAudioErr_SoundFont;
  soundFontId_ = soundFont->id;
  instruments_ = std::move(soundFont->instruments);
  initialized_.store(true);
  return 0;
}

void SynthUnit::uninitialize() {
  if (!initialized_.exchange(false)) return;
  fluid_synth_sfunload(synth_.get(), soundFontId_, 0);
  soundFontId_ = -1;
  instruments_.clear();
}

void SynthUnit::changeSampleRate(double sampleRate) {
  // FluidSynth 2.3 offers no other way to follow a rate the device imposes
  // (a JACK server's) without rebuilding the synthesizer.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  fluid_synth_set_sample_rate(synth_.get(), static_cast<float>(sampleRate));
#pragma GCC diagnostic pop
}

OSStatus SynthUnit::getProperty(uint32_t propertyID, uint32_t scope, uint32_t element, void* outData,
                                uint32_t* ioDataSize) {
  if (scope != kAudioUnitScope_Global) {
    logLine("property %u: scope %u is not the global scope", propertyID, scope);
    return kAudioErr_InvalidProperty;
  }
  switch (propertyID) {
    case kMusicDeviceProperty_InstrumentCount:
    case kMusicDeviceProperty_InstrumentNumber:
    case kMusicDeviceProperty_InstrumentName:
      if (!initialized_.load()) {
        logLine("property %u: the synthesizer is not initialised", propertyID);
        return kAudioErr_NotInitialized;
      }
      break;
    default:
      break;
  }
  switch (propertyID) {
    case kMusicDeviceProperty_InstrumentCount:
      if (element != 0) break;
      return putUInt32(static_cast<uint32_t>(instruments_.size()), outData, ioDataSize);
    case kMusicDeviceProperty_InstrumentNumber:
      if (element >= instruments_.size()) {
        logLine("no instrument at index %u (%zu instruments)", element, instruments_.size());
        return kAudioErr_InvalidProperty;
      }
      return putUInt32(instruments_[element].id, outData, ioDataSize);
    case kMusicDeviceProperty_InstrumentName: {
      if (outData == nullptr || ioDataSize == nullptr || *ioDataSize == 0) {
        logLine("an instrument name needs a buffer");
        return kAudioErr_InvalidPropertySize;
      }
      for (const Instrument& instrument : instruments_) {
        if (instrument.id != element) continue;
        *ioDataSize = copyInstrumentName(instrument.name, static_cast<char*>(outData), *ioDataSize);
        return 0;
      }
      logLine("no instrument with the ID 0x%06x", element);
      return kAudioErr_InvalidProperty;
    }
    case kMusicDeviceProperty_UsesInternalReverb:
      if (element != 0) break;
      return putUInt32(reverbOn_ ? 1 : 0, outData, ioDataSize);
    default:
      logLine("the synthesizer has no property %u", propertyID);
      return kAudioErr_InvalidProperty;
  }
  logLine("property %u has no element %u", propertyID, element);
  return kAudioErr_InvalidProperty;
}

OSStatus SynthUnit::setProperty(uint32_t propertyID, uint32_t scope, uint32_t element, const void* data,
                                uint32_t dataSize) {
  if (propertyID != kMusicDeviceProperty_UsesInternalReverb) {
    logLine("property %u of the synthesizer cannot be set", propertyID);
    return kAudioErr_InvalidProperty;
  }
  if (scope != kAudioUnitScope_Global || element != 0) {
    logLine("property %u: no scope %u element %u", propertyID, scope, element);
    return kAudioErr_InvalidProperty;
  }
  if (data == nullptr || dataSize != sizeof(uint32_t)) {
    logLine("property %u takes a UInt32 (4 bytes), not %u bytes", propertyID, dataSize);
    return kAudioErr_InvalidPropertySize;
  }
  uint32_t value = 0;
  std::memcpy(&value, data, sizeof value);
  reverbOn_ = value != 0;
  fluid_synth_reverb_on(synth_.get(), -1, reverbOn_ ? 1 : 0);
  return 0;
}

OSStatus SynthUnit::midiEvent(uint32_t status, uint32_t data1, uint32_t data2, uint32_t byteCount) {
  if (!initialized_.load()) {
    logLine("MIDI event 0x%02x: the synthesizer is not initialised", status);
    return kAudioErr_NotInitialized;
  }
  // System messages (and anything that is no status byte) are ignored: a
  // stray reset or a piece of a system-exclusive message changes nothing.
  if (status < 0x80 || status > 0xEF) return 0;
  // A message cut short has fillers for data bytes: nothing to play.
  if (byteCount < 1 + dataBytesNeeded(status)) return 0;
  fluid_synth_t* synth = synth_.get();
  const int channel = static_cast<int>(status & 0x0F);
  // Out-of-range data bytes pass unchanged; FluidSynth refuses them without
  // changing anything, which is what the synthesizer makes of them.
  const int first = static_cast<int>(data1);
  const int second = static_cast<int>(data2);
  switch (status & 0xF0) {
    case 0x80:
      fluid_synth_noteoff(synth, channel, first);
      break;
    case 0x90:
      fluid_synth_noteon(synth, channel, first, second);
      break;
    case 0xA0:
      fluid_synth_key_pressure(synth, channel, first, second);
      break;
    case 0xB0:
      return controlChange(channel, data1, data2);
    case 0xC0:
      fluid_synth_program_change(synth, channel, first);
      break;
    case 0xD0:
      fluid_synth_channel_pressure(synth, channel, first);
      break;
    case 0xE0:
      fluid_synth_pitch_bend(synth, channel, static_cast<int>(data1 + (data2 << 7)));
      break;
    default:
      break;
  }
  return 0;
}

OSStatus SynthUnit::controlChange(int channel, uint32_t controller, uint32_t value) {
  fluid_synth_t* synth = synth_.get();
  if (controller > 127 || value > 127) {
    fluid_synth_cc(synth, channel, static_cast<int>(controller), static_cast<int>(value));
    return 0;
  }
  // The channel's state changes by compare-and-swap, so the MIDI input (on
  // JACK's real-time thread) and the window never wait for each other.
  std::atomic<ChannelTuning>& state = tuning_[static_cast<size_t>(channel)];
  ChannelTuning before = state.load(std::memory_order_acquire);
  ChannelTuning after;
  std::optional<double> cents;
  do {
    after = before;
    cents = after.controlChange(controller, value);
  } while (!state.compare_exchange_weak(before, after, std::memory_order_acq_rel));
  if (cents) {
    fluid_synth_set_gen(synth, channel, GEN_FINETUNE, static_cast<float>(*cents));
    return 0;
  }
  if (controller == kResetAllControllers) {
    resetControllersKeepingParameters(channel);
  } else if (controller >= kFirstModeMessage) {
    // Omni and mono/poly switches would leave the other channels deaf (and
    // their notes sounding) or make this one monophonic; as on a General
    // MIDI synthesizer they only end the channel's notes.
    fluid_synth_all_notes_off(synth, channel);
  } else {
    fluid_synth_cc(synth, channel, static_cast<int>(controller), static_cast<int>(value));
  }
  return 0;
}

void SynthUnit::resetControllersKeepingParameters(int channel) {
  fluid_synth_t* synth = synth_.get();
  // FluidSynth clears every parameter value of the channel with its
  // controllers (coarse and fine tuning, and the generators that
  // non-registered parameters set), where the recommended practice keeps
  // them. Sounding notes keep their pitch meanwhile: FluidSynth hands a
  // cleared value only to the notes that start after it.
  std::array<float, GEN_LAST> values{};
  for (int generator = 0; generator < GEN_LAST; ++generator)
    values[generator] = fluid_synth_get_gen(synth, channel, generator);
  fluid_synth_cc(synth, channel, static_cast<int>(kResetAllControllers), 0);
  for (int generator = 0; generator < GEN_LAST; ++generator)
    if (values[generator] != 0.0f) fluid_synth_set_gen(synth, channel, generator, values[generator]);
}

std::pair<int, int> SynthUnit::channelPreset(int channel) const {
  fluid_preset_t* preset = fluid_synth_get_channel_preset(synth_.get(), channel);
  if (preset == nullptr) return {-1, -1};
  return {fluid_preset_get_banknum(preset), fluid_preset_get_num(preset)};
}

}  // namespace chimewick::audio
