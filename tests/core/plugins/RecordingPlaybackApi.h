// The test-facing side of RecordingPlaybackPlugin.so: a double of the
// playback plug-in that registers the class MidiPlaybackZel with the same
// member declarations and records every member call instead of playing.
//
// Tests reach these functions with dlsym on the loaded library (the names
// below); every function may be called from any thread.
#pragma once

#include <cstdint>

extern "C" {

struct RecordedCall {
  char member[48];  // "Init", "SendMidiEvent", "InstrumentIDOnChannel.Set", "__exit", ...
  int32_t args[4];  // the declared int32 arguments, in order
  int32_t argCount;
  uint64_t object;  // the object the member was called on
};

// Number of calls recorded since the last clear.
typedef int32_t (*RecordingCallCountFn)(void);
// Copies up to capacity calls, oldest first; returns how many it copied.
typedef int32_t (*RecordingCopyCallsFn)(RecordedCall* out, int32_t capacity);
typedef void (*RecordingClearFn)(void);
// The synthesizer's instrument list: count entries of ids and names (names
// may repeat, be empty or differ only in blanks). Default: none.
typedef void (*RecordingSetInstrumentsFn)(int32_t count, const int32_t* ids, const char* const* names);
// What Init does: a positive value (1 by default) succeeds; 0 fails with
// Lasterror -1; a negative value fails with that value as Lasterror.
typedef void (*RecordingSetInitResultFn)(int32_t ok);
// Objects made and not yet released.
typedef int32_t (*RecordingLiveObjectsFn)(void);
// Called inside the class's destructor, before it is recorded (nullptr: none).
typedef void (*RecordingDestroyHook)(void* context);
typedef void (*RecordingSetDestroyHookFn)(RecordingDestroyHook hook, void* context);
// Resets everything above to its default.
typedef void (*RecordingResetFn)(void);

}  // extern "C"

#define RECORDING_CALL_COUNT "recording_call_count"
#define RECORDING_COPY_CALLS "recording_copy_calls"
#define RECORDING_CLEAR "recording_clear"
#define RECORDING_SET_INSTRUMENTS "recording_set_instruments"
#define RECORDING_SET_INIT_RESULT "recording_set_init_result"
#define RECORDING_LIVE_OBJECTS "recording_live_objects"
#define RECORDING_SET_DESTROY_HOOK "recording_set_destroy_hook"
#define RECORDING_RESET "recording_reset"
