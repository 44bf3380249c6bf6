// ALSA's own error lines come out through the MIDI layer's logger.
#include "AlsaErrorLog.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

TEST(AlsaErrorLog, AnAlsaErrorIsOneLineOfTheMidiLogger) {
  chimewick::midi::routeAlsaErrorsToLog();
  ::testing::internal::CaptureStderr();
  snd_seq_t* seq = nullptr;
  // No such sequencer definition: ALSA's configuration code complains.
  EXPECT_LT(snd_seq_open(&seq, "no-such-sequencer", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK), 0);
  const std::string text = ::testing::internal::GetCapturedStderr();
  ASSERT_FALSE(text.empty()) << "ALSA said nothing";
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_EQ(line.rfind("Chimewick MIDI: ALSA ", 0), 0u) << line;
    EXPECT_EQ(line.find("ALSA lib"), std::string::npos) << line;
  }
  EXPECT_NE(text.find("no-such-sequencer"), std::string::npos) << text;
}

}  // namespace
