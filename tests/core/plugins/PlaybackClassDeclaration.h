// The class MidiPlaybackZel as the real playback plug-in declares it: its
// eight member declarations and its two properties read straight from the
// instance data. The doubles that stand in for the plug-in (the tests'
// recorder, the benchmark's probe) share it, so that the program binds them
// exactly as it binds the real one; each supplies its own member functions
// and instance data.
#pragma once

#include <cstddef>

#include "PlaybackEntryNames.h"
#include "rb/PluginInterface.h"

// A double's member functions, each with the plug-in's C calling convention
// (the object first, then the declared int32 arguments).
struct PlaybackMembers {
  void* callback;                  // intptr_t(void*)
  void* init;                      // int32_t(void*)
  void* sendMidiEvent;             // void(void*, int32_t, int32_t, int32_t, int32_t)
  void* instrumentCount;           // int32_t(void*)
  void* instrumentID;              // int32_t(void*, int32_t)
  void* instrumentName;            // HostString(void*, int32_t)
  void* cpuLoad;                   // float(void*)
  void* getInstrumentIDOnChannel;  // int32_t(void*, int32_t)
  void* setInstrumentIDOnChannel;  // void(void*, int32_t, int32_t)
  void* constructor;               // void(void*), or nullptr
  void* destructor;                // void(void*)
};

// The class record and the tables it points into. Made once per plug-in, as
// a global that lives as long as the library: the host keeps the record's
// address. Any thread reads it once it is made.
class PlaybackClassDeclaration {
 public:
  // InstanceData holds `handle` and `lasterror` (int32) where the host reads
  // the properties Handle and Lasterror.
  template <class InstanceData>
  static PlaybackClassDeclaration For(const PlaybackMembers& members) {
    return PlaybackClassDeclaration(members, sizeof(InstanceData), offsetof(InstanceData, handle),
                                    offsetof(InstanceData, lasterror));
  }

  PlaybackClassDeclaration(const PlaybackClassDeclaration&) = delete;
  PlaybackClassDeclaration& operator=(const PlaybackClassDeclaration&) = delete;

  // Where the host put the instance data within each object (known once the
  // class is registered).
  size_t DataOffset() const { return size_t(definition_.dataOffset); }

  // What REALPluginMain does: states the interface version and registers the
  // class. Host's loading thread.
  void Register(HostResolver resolver) {
    if (auto registerVersion = reinterpret_cast<RegisterPluginVersionFn>(resolver("RegisterPluginVersion")))
      registerVersion(kPluginInterfaceVersion);
    if (auto registerClass = reinterpret_cast<PluginRegisterClassFn>(resolver("PluginRegisterClass")))
      registerClass(&definition_);
  }

 private:
  PlaybackClassDeclaration(const PlaybackMembers& m, size_t dataSize, size_t handleOffset,
                           size_t lasterrorOffset)
      : properties_{
            {nullptr, "Handle", "Integer", 6, -1, nullptr, PluginWord(handleOffset), {}},
            {nullptr, "Lasterror", "Integer", 6, -1, nullptr, PluginWord(lasterrorOffset), {}},
        },
        methods_{
            {m.callback, nullptr, chimewick_test::kPlaybackDeclarations[0], 4},
            {m.init, nullptr, chimewick_test::kPlaybackDeclarations[1], 4},
            {m.sendMidiEvent, nullptr, chimewick_test::kPlaybackDeclarations[2], 4},
            {m.instrumentCount, nullptr, chimewick_test::kPlaybackDeclarations[3], 4},
            {m.instrumentID, nullptr, chimewick_test::kPlaybackDeclarations[4], 4},
            {m.instrumentName, nullptr, chimewick_test::kPlaybackDeclarations[5], 4},
            {m.cpuLoad, nullptr, chimewick_test::kPlaybackDeclarations[6], 4},
            {m.getInstrumentIDOnChannel, m.setInstrumentIDOnChannel, chimewick_test::kPlaybackDeclarations[7], 4},
        } {
    definition_.version = kPluginRecordVersion;
    definition_.name = "MidiPlaybackZel";
    definition_.dataSize = PluginWord(dataSize);
    definition_.constructor = m.constructor;
    definition_.destructor = m.destructor;
    definition_.properties = properties_;
    definition_.propertyCount = sizeof properties_ / sizeof properties_[0];
    definition_.methods = methods_;
    definition_.methodCount = sizeof methods_ / sizeof methods_[0];
    definition_.flags = 4;
  }

  PluginPropertyEntry properties_[2];
  PluginMethodEntry methods_[8];
  PluginClassDefinition definition_{};
};
