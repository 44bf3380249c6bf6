// Starts the framework's runtime (the queued client events need its event
// loop) headless, with the virtual MIDI service unless a test picks another.
#include <gtest/gtest.h>

#include <cstdlib>

#include "rb/Runtime.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("CHIMEWICK_MIDI", "virtual", 1);
  rb::RuntimeInit(argc, argv);
  const int result = RUN_ALL_TESTS();
  rb::RuntimeExit();
  return result;
}
