// The audio thread never writes to standard error, even when FluidSynth
// complains from inside its render call.
#include <gtest/gtest.h>

#include <string>

#include "GraphTestSupport.h"

namespace chimewick::audio::testing {
namespace {

class RenderLogging : public OfflineRendering {
 protected:
  PlayerGraph player;
};

TEST_F(RenderLogging, PolyphonyOverflowWhileRenderingIsCountedNotWritten) {
  ASSERT_EQ(player.status, 0);
  // Far more notes than voices: FluidSynth warns when it starts them (on this
  // thread) and again when the render call meets voices it has no room for.
  for (int round = 0; round < 4; ++round) {
    for (uint32_t channel = 0; channel < 9; ++channel) {
      for (uint32_t note = 30; note < 100; ++note) {
        MusicDeviceMIDIEvent(player.synth, 0x90 | channel, note, 0x7F, 0);
      }
    }
  }
  ::testing::internal::CaptureStderr();
  player.renderLeft(4096);
  const std::string whileRendering = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(whileRendering, "") << "the audio thread wrote to standard error";
}

}  // namespace
}  // namespace chimewick::audio::testing
