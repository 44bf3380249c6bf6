// The audio system: a graph of units (a synthesizer, a low-pass filter and the
// default output) with the calls the playback plug-in makes. Our own
// declarations; every handle is a 32-bit number, 0 meaning none. Every graph
// and unit call returns an OSStatus: 0 on success, nonzero on failure with
// the reason on standard error. The test seams are in AudioToolboxTesting.h.
//
// Units (component descriptions, four-character codes read big-endian):
//   synthesizer  'aunt' 'musd' 'dls '  FluidSynth with the SoundFont of
//                CHIMEWICK_SOUNDFONT (default
//                /usr/share/sounds/sf2/TimGM6mb.sf2); its sound on output bus 1
//   filter       'aunt' 'efct' 'lpas'  two-pole low-pass, 6900 Hz, 0 dB
//   output       'aunt' 'out ' 'def '  CHIMEWICK_AUDIO_OUTPUT: auto
//                (PulseAudio, then ALSA, then JACK), pulseaudio, alsa, jack,
//                null (renders on a clock, discards) or wav:PATH; a peak
//                limiter before it keeps the sound under -1 dBFS
//
// Threads: graph calls on one thread at a time (the UI thread);
// AUGraphGetNodeInfo and MusicDeviceMIDIEvent from any thread, even while
// the UI thread tears the graph down (they then find nothing and say so,
// except on a real-time thread); these two take no lock but FluidSynth's own
// and allocate nothing, so JACK's real-time thread may call them.
// Rendering runs on the output's own thread (with the jack output, on the
// real-time thread of the program's one JACK client, after the MIDI of the
// same cycle) and never locks or allocates.
#pragma once

#include <cstdint>

extern "C" {

typedef int32_t OSStatus;
typedef uint32_t AUGraph;
typedef int32_t AUNode;
typedef uint32_t AudioUnit;

struct ComponentDescription {
  uint32_t componentType;
  uint32_t componentSubType;
  uint32_t componentManufacturer;
  uint32_t componentFlags;
  uint32_t componentFlagsMask;
};

constexpr uint32_t FourCC(const char (&c)[5]) {
  return (uint32_t(uint8_t(c[0])) << 24) | (uint32_t(uint8_t(c[1])) << 16) | (uint32_t(uint8_t(c[2])) << 8) |
         uint32_t(uint8_t(c[3]));
}

enum : uint32_t {
  kAudioUnitComponentType = FourCC("aunt"),
  kAudioUnitSubType_MusicDevice = FourCC("musd"),
  kAudioUnitSubType_Effect = FourCC("efct"),
  kAudioUnitSubType_Output = FourCC("out "),
  kAudioUnitID_DLSSynth = FourCC("dls "),
  kAudioUnitID_LowPassFilter = FourCC("lpas"),
  kAudioUnitID_DefaultOutput = FourCC("def "),
};

// The three units a graph can hold, as the plug-in asks for them.
inline constexpr ComponentDescription kDLSSynthDescription{
    kAudioUnitComponentType, kAudioUnitSubType_MusicDevice, kAudioUnitID_DLSSynth, 0, 0};
inline constexpr ComponentDescription kLowPassFilterDescription{
    kAudioUnitComponentType, kAudioUnitSubType_Effect, kAudioUnitID_LowPassFilter, 0, 0};
inline constexpr ComponentDescription kDefaultOutputDescription{
    kAudioUnitComponentType, kAudioUnitSubType_Output, kAudioUnitID_DefaultOutput, 0, 0};

enum : uint32_t {
  kAudioUnitScope_Global = 0,
  kMusicDeviceProperty_InstrumentCount = 1000,     // UInt32, element 0
  kMusicDeviceProperty_InstrumentName = 1001,      // char[256], element = Instrument ID
  kMusicDeviceProperty_InstrumentNumber = 1004,    // UInt32 Instrument ID, element = index
  kMusicDeviceProperty_UsesInternalReverb = 1005,  // UInt32, element 0
};

// Status values of this layer (besides 0).
enum : OSStatus {
  kAudioErr_InvalidHandle = -50,       // no such graph, node or unit
  kAudioErr_InvalidProperty = -10879,  // unknown property, scope or element
  kAudioErr_InvalidPropertySize = -10851,
  kAudioErr_NoComponent = -10863,  // no unit for that description
  kAudioErr_InvalidConnection = -10876,
  kAudioErr_NotInitialized = -10867,  // the graph is not open/initialised
  kAudioErr_SoundFont = -10871,       // the SoundFont cannot be loaded
  kAudioErr_NoOutputDevice = -10872,  // no output could be opened
};

OSStatus NewAUGraph(AUGraph* outGraph);
OSStatus AUGraphNewNode(AUGraph graph, const ComponentDescription* description, uint32_t classDataSize,
                        const void* classData, AUNode* outNode);
OSStatus AUGraphConnectNodeInput(AUGraph graph, AUNode sourceNode, uint32_t sourceOutputNumber,
                                 AUNode destNode, uint32_t destInputNumber);
OSStatus AUGraphUpdate(AUGraph graph, bool* outIsUpdated);
OSStatus AUGraphOpen(AUGraph graph);
OSStatus AUGraphInitialize(AUGraph graph);
OSStatus AUGraphGetNodeInfo(AUGraph graph, AUNode node, ComponentDescription* outDescription,
                            uint32_t* outClassDataSize, void** outClassData, AudioUnit* outUnit);
OSStatus AUGraphStart(AUGraph graph);
OSStatus AUGraphStop(AUGraph graph);
OSStatus AUGraphUninitialize(AUGraph graph);
OSStatus DisposeAUGraph(AUGraph graph);
OSStatus AUGraphRemoveNode(AUGraph graph, AUNode node);
// Render time over buffer time, averaged over the last buffers.
OSStatus AUGraphGetCPULoad(AUGraph graph, float* outLoad);

OSStatus AudioUnitGetProperty(AudioUnit unit, uint32_t propertyID, uint32_t scope, uint32_t element,
                              void* outData, uint32_t* ioDataSize);
OSStatus AudioUnitSetProperty(AudioUnit unit, uint32_t propertyID, uint32_t scope, uint32_t element,
                              const void* data, uint32_t dataSize);

// Plays one MIDI event on a synthesizer unit. Channel messages (0x80..0xEF)
// play as FluidSynth reads them (XG bank select: MSB 120 and above makes a
// drum channel), with these exceptions: fine tuning (RPN 0/1, data entry MSB
// d) counts d/64 semitone above the coarse tuning; Reset All Controllers
// (controller 121) keeps the channel's tuning and every other parameter
// value, and only sets the parameter selection to null; the mode messages
// (controllers 124 to 127) act as All Notes Off and change no mode. System
// messages (0xF0..0xFF) are ignored. Data bytes pass as given and never
// crash the unit. Any thread.
OSStatus MusicDeviceMIDIEvent(AudioUnit unit, uint32_t status, uint32_t data1, uint32_t data2,
                              uint32_t offsetSampleFrame);

// Our own addition for readers that cut a byte stream into messages: says
// that the next MusicDeviceMIDIEvent on this thread carries only byteCount
// real bytes of its message (the status byte included; 1 to 3), the data
// bytes after them being fillers. A channel message that lacks a data byte
// it needs is then ignored: a lone pitch-bend status bends nothing, a lone
// program change selects nothing (a note-off needs only its key). Applies
// to that one call only. Any thread; no lock, no allocation.
void MusicDeviceSetNextEventLength(uint32_t byteCount);

// Our own addition: starts loading the SoundFont (CHIMEWICK_SOUNDFONT, or the
// default) on a thread of its own, so that the first synthesizer unit a
// graph opens afterwards finds it loaded, or waits for that load, instead of
// loading it itself. Nothing happens when a load has started already. UI
// thread (the plug-in's entry); does not wait.
void AudioPreloadSoundFont(void);

}  // extern "C"
