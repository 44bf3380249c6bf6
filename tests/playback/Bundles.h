// The builds of the playback bundle that the tests load, each through the
// framework's plug-in host as the program loads the installed one: one over
// a scripted fake of the audio layer, one over the real audio layer with its
// test seams exported, and the installed bundle itself.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "AudioLayerSeams.h"
#include "FakeAudio.h"
#include "TemporaryFolder.h"
#include "rb/PluginInterface.h"

enum class AudioKind { Fake, Real };
std::string BundlePath(AudioKind kind);
// The installed bundle in plugins/ beside the programs.
std::string InstalledBundlePath();

// The audio layer's test seams inside one loaded bundle, and the fake's
// record in the fake bundle.
struct AudioSeams : chimewick_test::AudioLayerSeams {
  FakeAudio* fake = nullptr;
};
AudioSeams LoadedBundleSeams(const std::string& path);

// Makes the build of that kind the bundle whose MidiPlaybackZel the host
// makes from now on. Loaded once per process, and registered again under the
// host's default settings whenever another bundle's class was registered in
// between. The real one renders offline on the null output, and the fake's
// record is cleared. Returns its seams. UI thread.
const AudioSeams& UseBundle(AudioKind kind);

// What the host offers a freshly loaded bundle.
struct HostSettings {
  std::optional<double> version = kHostVersion;  // nullopt: no REALGetRBVersion
  std::vector<const char*> hiddenFunctions;      // names the resolver does not give
};

// A private copy of a bundle loaded afresh, so that its process-wide state
// (the cached host functions, its record) starts from zero: the host's
// registry is cleared, given the settings, and loads the copy. The registry
// is cleared again when it goes; the copy stays mapped, as every plug-in
// does. UI thread.
class FreshBundle {
 public:
  explicit FreshBundle(HostSettings settings = {}, const std::string& path = BundlePath(AudioKind::Fake));
  ~FreshBundle();
  FreshBundle(const FreshBundle&) = delete;
  FreshBundle& operator=(const FreshBundle&) = delete;

  void* symbol(const char* name) const { return chimewick_test::LoadedPluginSymbol(copy_, name); }
  AudioSeams seams() const { return LoadedBundleSeams(copy_); }

 private:
  chimewick_test::TemporaryFolder folder_{"playback-bundle"};
  std::string copy_;
};
