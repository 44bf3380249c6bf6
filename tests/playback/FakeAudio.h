// A scripted stand-in for the audio layer, linked into a test build of the
// playback bundle: it logs every graph call, fails a chosen call on demand and
// keeps a small instrument table, so tests can see what the plug-in asks of
// the audio system and how it handles each failure.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "AudioToolboxTesting.h"

struct FakeInstrument {
  uint32_t id;
  std::string name;
};

class FakeAudio {
 public:
  virtual ~FakeAudio() = default;
  // Forgets graphs, log and failures; the default instruments again.
  virtual void reset() = 0;
  // The next call of the named function (after succeedingFirst calls that
  // succeed) returns status and does nothing.
  virtual void failNext(const std::string& call, OSStatus status, int succeedingFirst = 0) = 0;
  // Graph and property calls so far, e.g. "AUGraphRemoveNode 1 2"; MIDI
  // events are not logged (the event tap sees them).
  virtual std::vector<std::string> callLog() = 0;
  virtual void setInstruments(std::vector<FakeInstrument> instruments) = 0;
  virtual void setCPULoad(float load) = 0;
  virtual int liveGraphCount() = 0;
  // For each MIDI event that reached a synthesizer, in order: how many of its
  // bytes the caller said were real (MusicDeviceSetNextEventLength; 3 unless said).
  virtual std::vector<uint32_t> eventLengths() = 0;
};

// Exported by the fake bundle; the test finds it with dlsym.
extern "C" FakeAudio* FakeAudioInstance();
typedef FakeAudio* (*FakeAudioInstanceFn)();
