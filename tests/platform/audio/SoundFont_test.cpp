// A SoundFont that cannot be played fails the graph's initialisation with
// the reason on standard error, whatever the file holds.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "AudioMeasure.h"
#include "GraphTestSupport.h"
#include "ProcessThreads.h"
#include "TemporaryFolder.h"

namespace chimewick::audio::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDefaultSoundFont = CHIMEWICK_DEFAULT_SOUNDFONT;

class SoundFonts : public OfflineRendering {
 protected:
  std::string write(const std::string& name, const std::vector<char>& bytes) {
    const fs::path path = folder_ / name;
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    return path.string();
  }
  static std::vector<char> realSoundFont() {
    std::ifstream in(kDefaultSoundFont, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
  }

  const chimewick_test::TemporaryFolder folder_{"audio-sf"};
};

struct Case {
  const char* name;
  std::string path;
  const char* reason;  // what stderr must say
};

// FluidSynth may read samples with an OpenMP team, whose threads would spin
// beside the render and MIDI threads long after the load.
TEST_F(SoundFonts, LoadingTheSoundFontStartsNoThreadsAndLeavesTheOpenMpLimitAsItWas) {
  using MaxThreads = int (*)();
  void* openMp = ::dlopen("libgomp.so.1", RTLD_LAZY | RTLD_NOLOAD);
  const auto maxThreads =
      openMp != nullptr ? reinterpret_cast<MaxThreads>(::dlsym(openMp, "omp_get_max_threads")) : nullptr;
  const int limitBefore = maxThreads != nullptr ? maxThreads() : 0;
  const size_t threadsBefore = chimewick_test::ThreadCount();
  {
    PlayerGraph player;  // started offline: no output thread either
    ASSERT_EQ(player.status, 0);
    EXPECT_EQ(chimewick_test::ThreadCount(), threadsBefore);
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
      {"a folder", folder_.path().string(), "not a regular file"},
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

// The load started ahead of time (as the plug-in does when the program loads
// it) is the one the first graph plays: the file may be gone by then. It is
// made once: the next graph loads the file itself, and says why it cannot.
TEST_F(SoundFonts, ThePreloadedSoundFontIsTheOneTheFirstGraphPlays) {
  const std::string path = write("preloaded.sf2", realSoundFont());
  ScopedEnvironment soundFont("CHIMEWICK_SOUNDFONT", path);
  AudioPreloadSoundFont();
  ASSERT_TRUE(chimewick_test::WaitUntilNoThreadNamed("SoundFont load", std::chrono::seconds(60)));
  fs::remove(path);
  const size_t threads = chimewick_test::ThreadCount();
  AudioPreloadSoundFont();  // a second request starts nothing
  EXPECT_EQ(chimewick_test::ThreadCount(), threads);
  {
    PlayerGraph player;
    ASSERT_EQ(player.status, 0);
    uint32_t count = 0, size = sizeof count;
    EXPECT_EQ(AudioUnitGetProperty(player.synth, kMusicDeviceProperty_InstrumentCount, kAudioUnitScope_Global,
                                   0, &count, &size),
              0);
    EXPECT_EQ(count, 136u);
    player.send(0x90, 60, 100);
    EXPECT_GT(audio_measure::Rms(player.renderLeft(9600)), 0.005);
  }
  ::testing::internal::CaptureStderr();
  {
    PlayerGraph player;
    EXPECT_EQ(player.status, kAudioErr_SoundFont);
  }
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("No such file"), std::string::npos) << said;
}

}  // namespace
}  // namespace chimewick::audio::testing
