#include "SoundFontLoader.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "AudioLog.h"
#include "SerialSampleLoading.h"

namespace chimewick::audio {

namespace {

constexpr const char* kDefaultSoundFont = CHIMEWICK_DEFAULT_SOUNDFONT;

// Says why a path cannot be a SoundFont before FluidSynth tries it.
bool checkSoundFontFile(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    logLine("cannot load the SoundFont %s: %s", path.c_str(), std::strerror(errno));
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    logLine("cannot load the SoundFont %s: not a regular file", path.c_str());
    return false;
  }
  if (info.st_size == 0) {
    logLine("cannot load the SoundFont %s: the file is empty", path.c_str());
    return false;
  }
  return true;
}

}  // namespace

std::string configuredSoundFontPath() {
  const char* setting = std::getenv("CHIMEWICK_SOUNDFONT");
  return setting != nullptr && setting[0] != '\0' ? setting : kDefaultSoundFont;
}

std::optional<LoadedSoundFont> loadSoundFont(fluid_synth_t* synth, const std::string& path) {
  if (!checkSoundFontFile(path)) return std::nullopt;
  int id = FLUID_FAILED;
  {
    SerialSampleLoading serial;
    id = fluid_synth_sfload(synth, path.c_str(), 1);
  }
  if (id == FLUID_FAILED) {
    logLine("cannot load the SoundFont %s: FluidSynth cannot read it", path.c_str());
    return std::nullopt;
  }
  LoadedSoundFont loaded;
  loaded.id = id;
  loaded.instruments = readInstruments(fluid_synth_get_sfont_by_id(synth, id));
  if (loaded.instruments.empty()) {
    fluid_synth_sfunload(synth, id, 1);
    logLine("cannot load the SoundFont %s: it holds no instrument", path.c_str());
    return std::nullopt;
  }
  return loaded;
}

}  // namespace chimewick::audio
