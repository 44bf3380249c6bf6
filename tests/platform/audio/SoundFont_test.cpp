// A SoundFont that cannot be played fails the graph's initialisation with
// the reason on standard error, whatever the file holds.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "GraphTestSupport.h"

namespace chimewick::audio::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDefaultSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

class SoundFonts : public OfflineRendering {
 protected:
  SoundFonts() {
    folder_ = fs::temp_directory_path() / ("chimewick-audio-sf-" + std::to_string(::getpid()));
    fs::create_directories(folder_);
  }
  ~SoundFonts() override { fs::remove_all(folder_); }

  std::string write(const std::string& name, const std::vector<char>& bytes) {
    const fs::path path = folder_ / name;
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    return path.string();
  }
  static std::vector<char> realSoundFont() {
    std::ifstream in(kDefaultSoundFont, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
  }

  fs::path folder_;
};

struct Case {
  const char* name;
  std::string path;
  const char* reason;  // what stderr must say
};

size_t threadCount() {
  return size_t(std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator{}));
}

// FluidSynth may read samples with an OpenMP team, whose threads would spin
// beside the render and MIDI threads long after the load.
TEST_F(SoundFonts, LoadingTheSoundFontStartsNoThreadsAndLeavesTheOpenMpLimitAsItWas) {
  using MaxThreads = int (*)();
  void* openMp = ::dlopen("libgomp.so.1", RTLD_LAZY | RTLD_NOLOAD);
  const auto maxThreads =
      openMp != nullptr ? reinterpret_cast<MaxThreads>(::dlsym(openMp, "omp_get_max_threads")) : nullptr;
  const int limitBefore = maxThreads != nullptr ? maxThreads() : 0;
  const size_t threadsBefore = threadCount();
  {
    PlayerGraph player;  // started offline: no output thread either
    ASSERT_EQ(player.status, 0);
    EXPECT_EQ(threadCount(), threadsBefore);
  }
  if (maxThreads != nullptr) {
    EXPECT_EQ(maxThreads(), limitBefore);
  }
  if (openMp != nullptr) ::dlclose(openMp);
}

TEST_F(SoundFonts, AMissingEmptyOrCorruptSoundFontFailsInitialisationWithItsReason) {
  const std::vector<char> real = realSoundFont();
  ASSERT_GT(real.size(), 100000u);
  std::vector<char> garbage(50000);
  std::mt19937 random(7);
  for (char& byte : garbage) byte = char(random());
  std::vector<char> wrongMagic = real;
  std::memcpy(wrongMagic.data(), "RIFX", 4);
  std::vector<char> headerOnly(real.begin(), real.begin() + 12);
  std::vector<char> truncated(real.begin(), real.begin() + std::ptrdiff_t(real.size() / 2));
  std::vector<char> clobberedList = real;
  for (size_t i = 12; i < 400; ++i) clobberedList[i] = char(random());

  const Case cases[] = {
      {"missing", (folder_ / "missing.sf2").string(), "No such file"},
      {"a folder", folder_.string(), "not a regular file"},
      {"empty", write("empty.sf2", {}), "empty"},
      {"random bytes", write("garbage.sf2", garbage), "cannot load the SoundFont"},
      {"not RIFF", write("rifx.sf2", wrongMagic), "cannot load the SoundFont"},
      {"a header alone", write("header.sf2", headerOnly), "cannot load the SoundFont"},
      {"cut in half", write("half.sf2", truncated), "cannot load the SoundFont"},
      {"clobbered chunk list", write("clobbered.sf2", clobberedList), "cannot load the SoundFont"},
  };
  for (const Case& c : cases) {
    ScopedEnvironment soundFont("CHIMEWICK_SOUNDFONT", c.path);
    ::testing::internal::CaptureStderr();
    {
      PlayerGraph player;
      EXPECT_EQ(player.status, kAudioErr_SoundFont) << c.name;
    }
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find(c.reason), std::string::npos) << c.name << " said: " << said;
    EXPECT_NE(said.find(c.path), std::string::npos) << c.name << " names no path: " << said;
  }
}

TEST_F(SoundFonts, RandomDamageToARealSoundFontNeverCrashes) {
  const std::vector<char> real = realSoundFont();
  std::mt19937 random(20261208);
  for (int round = 0; round < 6; ++round) {
    std::vector<char> damaged = real;
    // Damage the structure at the front and the preset tables at the back.
    for (int i = 0; i < 40; ++i) {
      const size_t at = i % 2 ? random() % 2048 : damaged.size() - 1 - random() % 20000;
      damaged[at] = char(random());
    }
    ScopedEnvironment soundFont("CHIMEWICK_SOUNDFONT", write("damaged.sf2", damaged));
    ::testing::internal::CaptureStderr();
    PlayerGraph player;
    ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(player.status == 0 || player.status == kAudioErr_SoundFont) << round << ": " << player.status;
    if (player.status == 0) {
      // Whatever loaded plays without fault.
      player.send(0x90, 60, 100);
      player.renderLeft(4800);
    }
  }
}

}  // namespace
}  // namespace chimewick::audio::testing
