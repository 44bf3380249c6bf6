// The graph's output level, rendered offline on TimGM6mb: loud enough to be
// heard at the program's default volume, never clipping at full volume.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "AudioMeasure.h"
#include "GraphTestSupport.h"
#include "PeakLimiter.h"

namespace chimewick::audio::testing {
namespace {

class OutputLevel : public OfflineRendering {
 protected:
  void SetUp() override {
    OfflineRendering::SetUp();
    ASSERT_EQ(player_.status, 0);
  }
  // The peak of both sides while notes sound and fade, in dBFS.
  double peakDbfs(double seconds) {
    std::vector<float> interleaved(2 * size_t(48000 * seconds));
    EXPECT_EQ(AUGraphRenderOffline(player_.graph, uint32_t(interleaved.size() / 2), interleaved.data()), 0);
    return 20.0 * std::log10(audio_measure::Peak(interleaved));
  }
  void quiet() {
    for (uint32_t controller : {123u, 120u}) player_.send(0xB0, controller, 0);
    player_.renderLeft(48000);
  }

  PlayerGraph player_;  // made after the base class turned offline rendering on
};

TEST_F(OutputLevel, AVelocity100NoteAtTheDefaultVolumePeaksBetweenMinus18AndMinus12Dbfs) {
  player_.select(0);  // Piano 1
  player_.send(0xB0, 7, 64);
  player_.send(0x90, 69, 100);
  const double peak = peakDbfs(2.0);
  player_.send(0x80, 69, 0);
  std::printf("Piano 1 A4, velocity 100, volume 64: peak %.2f dBFS\n", peak);
  EXPECT_GE(peak, -18.0);
  EXPECT_LE(peak, -12.0);
}

TEST_F(OutputLevel, TenNoteFortissimoChordsAtFullVolumeDoNotClip) {
  const struct {
    const char* name;
    uint32_t instrument;
    int keys[10];
  } chords[] = {
      {"Piano 1", 0x000000, {36, 43, 48, 52, 55, 60, 64, 67, 72, 76}},
      {"Organ 1", 0x000010, {36, 43, 48, 52, 55, 60, 64, 67, 72, 76}},
      // Kick, snare, toms, hi-hats, crash and ride: the kit's loudest strokes together.
      {"Jazz", 0x780020, {35, 36, 38, 40, 41, 42, 46, 49, 51, 57}},
  };
  for (const auto& chord : chords) {
    player_.select(chord.instrument);
    player_.send(0xB0, 7, 127);
    for (int key : chord.keys) player_.send(0x90, uint32_t(key), 127);
    const double peak = peakDbfs(3.0);
    for (int key : chord.keys) player_.send(0x80, uint32_t(key), 0);
    std::printf("%s, ten notes at velocity 127, volume 127: peak %.2f dBFS\n", chord.name, peak);
    EXPECT_LT(peak, 0.0) << chord.name;
    EXPECT_LE(peak, 20.0 * std::log10(PeakLimiter::kCeiling) + 0.01) << chord.name;
    quiet();
  }
}

}  // namespace
}  // namespace chimewick::audio::testing
