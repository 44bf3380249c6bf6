#include "Bundles.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "rb/PluginHost.h"

namespace {

void LoadOrThrow(const std::string& path) {
  if (!rb::LoadPlugin(path)) throw std::runtime_error("the plug-in host did not load " + path);
}

}  // namespace

std::string BundlePath(AudioKind kind) {
  return kind == AudioKind::Fake ? PLAYBACK_FAKE_AUDIO_BUNDLE : PLAYBACK_REAL_AUDIO_BUNDLE;
}

std::string InstalledBundlePath() { return PLAYBACK_BUNDLE; }

AudioSeams LoadedBundleSeams(const std::string& path) {
  AudioSeams s;
  static_cast<chimewick_test::AudioLayerSeams&>(s) = chimewick_test::LoadedPluginSeams(path);
  if (auto instance = reinterpret_cast<FakeAudioInstanceFn>(
          chimewick_test::LoadedPluginSymbol(path, "FakeAudioInstance")))
    s.fake = instance();
  return s;
}

const AudioSeams& UseBundle(AudioKind kind) {
  struct Shared {
    const PluginClassDefinition* record = nullptr;
    AudioSeams seams;
  };
  // Loaded once and kept to the end of the process, as the host keeps
  // every plug-in: the audio layer's threads outlive every test.
  static Shared shared[2];
  Shared& bundle = shared[kind == AudioKind::Fake ? 0 : 1];
  const std::string path = BundlePath(kind);
  if (bundle.record == nullptr || rb::FindPluginClass("MidiPlaybackZel") != bundle.record) {
    if (kind == AudioKind::Real) setenv("CHIMEWICK_AUDIO_OUTPUT", "null", 1);
    rb::ResetPluginRegistryForTesting();
    LoadOrThrow(path);
    bundle.record = rb::FindPluginClass("MidiPlaybackZel");
    if (bundle.record == nullptr) throw std::runtime_error(path + " registered no MidiPlaybackZel");
    bundle.seams = LoadedBundleSeams(path);
    if (bundle.seams.setOffline != nullptr) bundle.seams.setOffline(true);
  }
  if (bundle.seams.fake != nullptr) bundle.seams.fake->reset();
  return bundle.seams;
}

FreshBundle::FreshBundle(HostSettings settings, const std::string& path)
    : copy_((folder_ / std::filesystem::path(path).filename().string()).string()) {
  std::filesystem::copy_file(path, copy_);
  rb::ResetPluginRegistryForTesting();
  if (settings.version)
    rb::SetHostVersionForTesting(*settings.version);
  else
    rb::HideHostFunctionForTesting("REALGetRBVersion", true);
  for (const char* name : settings.hiddenFunctions) rb::HideHostFunctionForTesting(name, true);
  LoadOrThrow(copy_);
}

FreshBundle::~FreshBundle() { rb::ResetPluginRegistryForTesting(); }
