// The fixture of the tests that run once against the fake audio layer and
// once against the real one: that build of the bundle registered with the
// framework's host, the fake's record cleared before each test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "Bundles.h"
#include "EventRecorder.h"
#include "PacketList.h"
#include "PlaybackObject.h"

class BundleTest : public testing::TestWithParam<AudioKind> {
 protected:
  void SetUp() override { seams_ = &UseBundle(GetParam()); }
  const AudioSeams& seams() { return *seams_; }
  const AudioSeams* seams_ = nullptr;
};

// Names the instances of a suite by the audio layer they run against.
inline std::string AudioKindName(const testing::TestParamInfo<AudioKind>& info) {
  return info.param == AudioKind::Fake ? "FakeAudio" : "RealAudio";
}
