// The audio layer's test seams inside a plug-in the host has loaded: the
// test builds of the playback bundle export them, so a test can tap the
// synthesizer and render offline in the plug-in's own copy of the layer.
// Only the declarations are used here; nothing links the audio layer.
#pragma once

#include <dlfcn.h>

#include <stdexcept>
#include <string>

#include "AudioToolboxTesting.h"

namespace chimewick_test {

// An exported symbol of the plug-in the host loaded from path, or nullptr.
// Throws std::runtime_error when no library of that path is loaded.
inline void* LoadedPluginSymbol(const std::string& path, const char* name) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (library == nullptr) throw std::runtime_error(path + " is not loaded");
  void* symbol = dlsym(library, name);
  dlclose(library);  // the host keeps its own reference
  return symbol;
}

// Each nullptr where the plug-in does not export it (the installed bundle).
struct AudioLayerSeams {
  decltype(&AudioSetEventTap) setEventTap = nullptr;
  decltype(&AudioSetOfflineRenderingForTesting) setOffline = nullptr;
  decltype(&AUGraphRenderOffline) renderOffline = nullptr;
  decltype(&AUGraphGetSampleRate) sampleRate = nullptr;
};

inline AudioLayerSeams LoadedPluginSeams(const std::string& path) {
  AudioLayerSeams s;
  s.setEventTap = reinterpret_cast<decltype(s.setEventTap)>(LoadedPluginSymbol(path, "AudioSetEventTap"));
  s.setOffline = reinterpret_cast<decltype(s.setOffline)>(
      LoadedPluginSymbol(path, "AudioSetOfflineRenderingForTesting"));
  s.renderOffline =
      reinterpret_cast<decltype(s.renderOffline)>(LoadedPluginSymbol(path, "AUGraphRenderOffline"));
  s.sampleRate = reinterpret_cast<decltype(s.sampleRate)>(LoadedPluginSymbol(path, "AUGraphGetSampleRate"));
  return s;
}

}  // namespace chimewick_test
