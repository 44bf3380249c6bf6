// The audio system's test seams: for tests and benchmarks only, never for the
// plug-in. They let a test see every event that reaches a synthesizer and
// pull a graph's sound itself instead of playing it on a device.
#pragma once

#include "AudioToolbox.h"

extern "C" {

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
