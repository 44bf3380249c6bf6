// The audio system: a graph of units (a synthesizer, a low-pass filter and the
// default output) with the calls the playback plug-in makes. Our own
// declarations; every handle is a 32-bit number, 0 meaning none. Every call
// returns an OSStatus: 0 on success, nonzero on failure with the reason on
// standard error.
//
// Units (component descriptions, four-character codes read big-endian):
//   synthesizer  'aunt' 'musd' 'dls '  FluidSynth with the SoundFont of
//                CHIMEWICK_SOUNDFONT (default
//                /usr/share/sounds/sf2/TimGM6mb.sf2); its sound on output bus 1
//   filter       'aunt' 'efct' 'lpas'  two-pole low-pass, 6900 Hz, 0 dB
//   output       'aunt' 'out ' 'def '  CHIMEWICK_AUDIO_OUTPUT: auto
//                (PulseAudio, then ALSA, then JACK), pulseaudio, alsa, jack,
//                null (renders on a clock, discards) or wav:PATH
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
// drum channel); fine tuning (RPN 0/1, data entry MSB d) counts d/64
// semitone above the coarse tuning. System messages (0xF0..0xFF) are
// ignored. Data bytes pass as given and never crash the unit. Any thread.
OSStatus MusicDeviceMIDIEvent(AudioUnit unit, uint32_t status, uint32_t data1, uint32_t data2,
                              uint32_t offsetSampleFrame);

// ---- Test seams --------------------------------------------------------

// Called for every MusicDeviceMIDIEvent that reaches a valid synthesizer
// unit, before it plays, on the caller's thread. nullptr removes the tap.
typedef void (*AudioEventTap)(void* context, AudioUnit unit, uint32_t status, uint32_t data1, uint32_t data2,
                              uint32_t offsetSampleFrame);
void AudioSetEventTap(AudioEventTap tap, void* context);

// While set, AUGraphStart opens no device and starts no thread; the caller
// pulls the sound with AUGraphRenderOffline (synthesizer, then filter).
void AudioSetOfflineRenderingForTesting(bool offline);
// Renders frames of interleaved stereo float at the graph's sample rate.
OSStatus AUGraphRenderOffline(AUGraph graph, uint32_t frames, float* interleavedStereo);
// The graph's sample rate (frames per second).
OSStatus AUGraphGetSampleRate(AUGraph graph, double* outRate);

}  // extern "C"
