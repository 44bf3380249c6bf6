// The fixture of the tests that run once against the fake audio layer and
// once against the real one: the bundle loaded once per process, the fake's
// record cleared before each test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "TestHost.h"

class BundleTest : public testing::TestWithParam<AudioKind> {
 protected:
  void SetUp() override {
    shared_ = GetSharedBundle(GetParam());
    if (shared_ == nullptr) GTEST_SKIP() << "the audio layer's library is not built yet";
    if (shared_->seams.fake != nullptr) shared_->seams.fake->reset();
  }
  TestHost& host() { return *shared_->host; }
  const AudioSeams& seams() { return shared_->seams; }
  SharedBundle* shared_ = nullptr;
};

// Names the instances of a suite by the audio layer they run against.
inline std::string AudioKindName(const testing::TestParamInfo<AudioKind>& info) {
  return info.param == AudioKind::Fake ? "FakeAudio" : "RealAudio";
}
