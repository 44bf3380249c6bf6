// The members of the MidiPlaybackZel class as the host calls them: the
// host's object pointer first, then the declared int32 parameters. No member
// throws or waits on a lock; each leaves its status in Lasterror (0 success,
// -1 no graph or channel out of range, else the failing audio call's status).
#pragma once

#include <cstdint>

#include "AudioToolbox.h"
#include "HostFunctions.h"
#include "PlaybackInstanceData.h"

// The class's destructor and the first step of Init: removes the object's
// graph (nodes first, then stop, uninitialise, dispose). Lasterror and the
// channel table stay. UI thread.
void TeardownGraph(void* object) noexcept;

// The synthesizer unit of the object's graph, fetched afresh. Returns the
// status of the lookup; -1 when the object has no graph. Any thread.
OSStatus GetSynthUnit(PlaybackInstanceData& data, AudioUnit* unit) noexcept;

namespace MidiPlaybackZel {

// "Init as boolean": builds and starts a new graph (synthesizer, low-pass
// filter, default output); 1 on success, 0 on failure. UI thread; waits for
// the SoundFont to load and the output to open.
int32_t Init(void* object) noexcept;

// "SendMidiEvent(...)": plays one event on the synthesizer, values unchanged.
// UI or MIDI input thread.
void SendMidiEvent(void* object, int32_t status, int32_t data1, int32_t data2,
                   int32_t offsetSampleFrame) noexcept;

// "InstrumentCount as integer". UI thread.
int32_t InstrumentCount(void* object) noexcept;

// "InstrumentID(index as integer) as integer": the Instrument ID at index
// 0..count-1. UI thread.
int32_t InstrumentID(void* object, int32_t index) noexcept;

// "InstrumentName(index as integer) as string": the name of the instrument
// whose Instrument ID is given (in spite of the parameter's name); nil when
// it fails or the name is empty. UI thread.
HostString InstrumentName(void* object, int32_t instrumentID) noexcept;

// "CPULoad as single": the graph's render load. UI thread.
float CPULoad(void* object) noexcept;

// "InstrumentIDOnChannel(Channel as integer) as integer": the Instrument ID
// last selected on channel 0..15; needs no graph. Any thread.
int32_t InstrumentIDOnChannel(void* object, int32_t channel) noexcept;

// Its setter: selects the instrument on the channel (bank select MSB, LSB,
// program change) and records the whole value. UI thread.
void SetInstrumentIDOnChannel(void* object, int32_t channel, int32_t instrumentID) noexcept;

}  // namespace MidiPlaybackZel
