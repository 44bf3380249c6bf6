// The MidiPlaybackZel members as the application calls them: the graph's
// life, Lasterror after each member, the instrument list and the channel
// table, over both the scripted fake and the real audio layer.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <fstream>
#include <functional>

#include "BundleTest.h"
#include "ScopedEnvironment.h"
#include "TemporaryFolder.h"

namespace {

class Members : public BundleTest {};

struct NoGraphCase {
  const char* member;
  std::function<bool(PlaybackObject&)> callReturnsFailureValue;
};

TEST_P(Members, WithoutAGraphEveryMemberButTheGetterFailsWithMinusOneAndSendsNothing) {
  const NoGraphCase cases[] = {
      {"SendMidiEvent",
       [](PlaybackObject& o) {
         o.sendMidiEvent(0x90, 60, 100, 0);
         return true;
       }},
      {"InstrumentCount", [](PlaybackObject& o) { return o.instrumentCount() == 0; }},
      {"InstrumentID", [](PlaybackObject& o) { return o.instrumentID(0) == 0; }},
      {"InstrumentName", [](PlaybackObject& o) { return !o.instrumentName(0).has_value(); }},
      {"CPULoad", [](PlaybackObject& o) { return o.cpuLoad() == 0.0f; }},
      {"setter",
       [](PlaybackObject& o) {
         o.setInstrumentIDOnChannel(1, 0x10203);
         return o.channelEntry(1) == 0;
       }},
  };
  EventRecorder recorder(seams());
  PlaybackObject object;
  for (const NoGraphCase& c : cases) {
    SCOPED_TRACE(c.member);
    // The getter needs no graph and leaves 0: every -1 below is the member's own.
    object.instrumentIDOnChannel(0);
    ASSERT_EQ(object.lasterror(), 0);
    EXPECT_TRUE(c.callReturnsFailureValue(object));
    EXPECT_EQ(object.lasterror(), -1);
  }
  EXPECT_TRUE(recorder.events().empty());
  EXPECT_EQ(object.instrumentIDOnChannel(1), 0);
  EXPECT_EQ(object.lasterror(), 0);
  EXPECT_EQ(object.handle(), 0);
}

TEST_P(Members, InitTwiceBuildsANewGraphAndClearsTheChannelTable) {
  PlaybackObject object;
  ASSERT_TRUE(object.init());
  EXPECT_EQ(object.lasterror(), 0);
  const uint32_t first = object.graph();
  EXPECT_NE(first, 0u);
  EXPECT_NE(object.synthNode(), 0);
  object.setInstrumentIDOnChannel(5, 0x10203);
  object.setInstrumentIDOnChannel(15, 0x7F);
  ASSERT_EQ(object.channelEntry(5), 0x10203);

  ASSERT_TRUE(object.init());
  EXPECT_EQ(object.lasterror(), 0);
  EXPECT_NE(object.graph(), 0u);
  EXPECT_NE(object.graph(), first);
  for (int channel = 0; channel < 16; ++channel) EXPECT_EQ(object.channelEntry(channel), 0) << channel;
  EXPECT_EQ(object.handle(), 0);
}

TEST_P(Members, SetterSendsBankSelectAndProgramChangeAndTheTableKeepsTheWholeValue) {
  struct Case {
    int32_t channel;
    int32_t value;
    std::vector<MidiEvent> sent;
    int32_t tableChannel;
  } cases[] = {
      {9, 0x010203, {{0xB9, 0, 1, 0}, {0xB9, 32, 2, 0}, {0xC9, 3, 0, 0}}, 9},
      // Bytes with bit 7 set: only their low seven bits go out.
      {2, 0x00818283, {{0xB2, 0, 1, 0}, {0xB2, 32, 2, 0}, {0xC2, 3, 0, 0}}, 2},
      {1, static_cast<int32_t>(0xFF8180FFu), {{0xB1, 0, 1, 0}, {0xB1, 32, 0, 0}, {0xC1, 0x7F, 0, 0}}, 1},
      {0, 0x780000, {{0xB0, 0, 120, 0}, {0xB0, 32, 0, 0}, {0xC0, 0, 0, 0}}, 0},
      // The channel's low four bits pick the channel.
      {19, 0x000005, {{0xB3, 0, 0, 0}, {0xB3, 32, 0, 0}, {0xC3, 5, 0, 0}}, 3},
  };
  PlaybackObject object;
  ASSERT_TRUE(object.init());
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "channel " << c.channel << " value " << std::hex << c.value);
    EventRecorder recorder(seams());
    object.setInstrumentIDOnChannel(c.channel, c.value);
    EXPECT_EQ(object.lasterror(), 0);
    EXPECT_EQ(recorder.events(), c.sent);
    EXPECT_EQ(object.channelEntry(c.tableChannel), c.value);
    EXPECT_EQ(object.instrumentIDOnChannel(c.tableChannel), c.value);
    EXPECT_EQ(object.lasterror(), 0);
  }
}

TEST_P(Members, GetterChecksTheChannelRange) {
  struct Case {
    int32_t channel;
    int32_t lasterror;
  } cases[] = {{16, -1}, {-1, -1}, {INT32_MIN, -1}, {INT32_MAX, -1}, {3, 0}, {0, 0}, {15, 0}};
  PlaybackObject object;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.channel);
    EXPECT_EQ(object.instrumentIDOnChannel(c.channel), 0);
    EXPECT_EQ(object.lasterror(), c.lasterror);
  }
}

TEST_P(Members, SendMidiEventPassesTheEventAndLeavesTheChannelTableAlone) {
  PlaybackObject object;
  ASSERT_TRUE(object.init());
  EventRecorder recorder(seams());
  object.sendMidiEvent(0x90, 60, 100, 0);
  EXPECT_EQ(object.lasterror(), 0);
  object.sendMidiEvent(0xC3, 5, 0, 0);
  object.sendMidiEvent(0xB3, 0, 2, 0);
  object.sendMidiEvent(0x80, 60, 0, 0);
  EXPECT_EQ(recorder.events(),
            (std::vector<MidiEvent>{{0x90, 60, 100, 0}, {0xC3, 5, 0, 0}, {0xB3, 0, 2, 0}, {0x80, 60, 0, 0}}));
  EXPECT_EQ(object.instrumentIDOnChannel(3), 0);
}

TEST_P(Members, TheInstrumentListGivesIDsWhoseNamesComeBack) {
  PlaybackObject object;
  ASSERT_TRUE(object.init());
  const int32_t count = object.instrumentCount();
  EXPECT_EQ(object.lasterror(), 0);
  ASSERT_GT(count, 0);
  int named = 0;
  for (int32_t i = 0; i < count; ++i) {
    const int32_t id = object.instrumentID(i);
    ASSERT_EQ(object.lasterror(), 0) << i;
    EXPECT_EQ(id & ~0x7F7F7F, 0) << "not an Instrument ID: " << id;
    if (object.instrumentName(id)) ++named;
    EXPECT_EQ(object.lasterror(), 0) << i;
  }
  EXPECT_GE(named, count - 1);
  EXPECT_EQ(object.instrumentID(count), 0);
  EXPECT_NE(object.lasterror(), 0);
}

TEST_P(Members, CPULoadIsReportedWithLasterrorZero) {
  PlaybackObject object;
  ASSERT_TRUE(object.init());
  const float load = object.cpuLoad();
  EXPECT_EQ(object.lasterror(), 0);
  EXPECT_GE(load, 0.0f);
}

INSTANTIATE_TEST_SUITE_P(Audio, Members, testing::Values(AudioKind::Fake, AudioKind::Real), AudioKindName);

// ---- Over the fake: the exact calls and every failing step ----------------

class FakeMembers : public Members {
 protected:
  FakeAudio& fake() { return *seams().fake; }
};

std::vector<std::string> initCalls(uint32_t g, AudioUnit synthUnit) {
  const std::string G = std::to_string(g);
  return {"NewAUGraph",
          "AUGraphNewNode " + G + " " + std::to_string(kAudioUnitID_DLSSynth) + " 0 0",
          "AUGraphNewNode " + G + " " + std::to_string(kAudioUnitID_LowPassFilter) + " 0 0",
          "AUGraphNewNode " + G + " " + std::to_string(kAudioUnitID_DefaultOutput) + " 0 0",
          "AUGraphConnectNodeInput " + G + " 1 1 2 0",
          "AUGraphConnectNodeInput " + G + " 2 0 3 0",
          "AUGraphUpdate " + G + " 0",
          "AUGraphOpen " + G,
          "AUGraphInitialize " + G,
          "AudioUnitSetProperty " + std::to_string(synthUnit) + " 1005 0 0 0 4",
          "AUGraphStart " + G};
}
std::vector<std::string> teardownCalls(uint32_t g) {
  const std::string G = std::to_string(g);
  return {"AUGraphRemoveNode " + G + " 1", "AUGraphRemoveNode " + G + " 2",
          "AUGraphRemoveNode " + G + " 3", "AUGraphStop " + G,
          "AUGraphUninitialize " + G,      "DisposeAUGraph " + G};
}

TEST_P(FakeMembers, InitBuildsSynthFilterOutputWithReverbOffThenInitAgainTearsTheOldGraphDownFirst) {
  std::vector<std::string> expected;
  {
    PlaybackObject object;
    ASSERT_TRUE(object.init());
    const uint32_t first = object.graph();
    expected = initCalls(first, 100);
    EXPECT_EQ(fake().callLog(), expected);

    ASSERT_TRUE(object.init());
    for (const auto& call : teardownCalls(first)) expected.push_back(call);
    for (const auto& call : initCalls(object.graph(), 103)) expected.push_back(call);
    EXPECT_EQ(fake().callLog(), expected);
    EXPECT_EQ(fake().liveGraphCount(), 1);
    for (const auto& call : teardownCalls(object.graph())) expected.push_back(call);
  }
  // Releasing the object tears its graph down.
  EXPECT_EQ(fake().callLog(), expected);
  EXPECT_EQ(fake().liveGraphCount(), 0);
}

TEST_P(FakeMembers, ReleasingAnObjectWithoutAGraphCallsNothing) {
  { PlaybackObject object; }
  EXPECT_TRUE(fake().callLog().empty());
}

TEST_P(FakeMembers, AFailingInitStepReportsItsStatusAndLeavesNoGraph) {
  const char* steps[] = {"NewAUGraph",         "AUGraphNewNode",       "AUGraphConnectNodeInput",
                         "AUGraphUpdate",      "AUGraphOpen",          "AUGraphInitialize",
                         "AUGraphGetNodeInfo", "AudioUnitSetProperty", "AUGraphStart"};
  for (const char* step : steps) {
    SCOPED_TRACE(step);
    fake().reset();
    PlaybackObject object;
    ASSERT_TRUE(object.init());
    object.setInstrumentIDOnChannel(6, 0x20304);
    fake().failNext(step, -12345);
    EXPECT_FALSE(object.init());
    EXPECT_EQ(object.lasterror(), -12345);
    EXPECT_EQ(object.graph(), 0u);
    EXPECT_EQ(object.synthNode(), 0);
    EXPECT_EQ(object.field(InstanceLayout::kFilterNode), 0);
    EXPECT_EQ(object.field(InstanceLayout::kOutputNode), 0);
    // The table keeps the entries from before; nothing half-built stays behind.
    EXPECT_EQ(object.channelEntry(6), 0x20304);
    EXPECT_EQ(fake().liveGraphCount(), 0);

    EventRecorder recorder(seams());
    EXPECT_EQ(object.instrumentCount(), 0);
    EXPECT_EQ(object.lasterror(), -1);
    EXPECT_EQ(object.instrumentID(0), 0);
    EXPECT_EQ(object.lasterror(), -1);
    EXPECT_EQ(object.instrumentName(0), std::nullopt);
    EXPECT_EQ(object.lasterror(), -1);
    object.sendMidiEvent(0x90, 60, 100, 0);
    EXPECT_EQ(object.lasterror(), -1);
    EXPECT_TRUE(recorder.events().empty());
  }
}

TEST_P(FakeMembers, FailingAudioCallsSetLasterrorToTheirStatus) {
  struct Case {
    const char* call;
    std::function<bool(PlaybackObject&)> returnsFailureValue;
  } cases[] = {
      {"AUGraphGetNodeInfo",
       [](PlaybackObject& o) {
         o.sendMidiEvent(0x90, 1, 2, 3);
         return true;
       }},
      {"MusicDeviceMIDIEvent",
       [](PlaybackObject& o) {
         o.sendMidiEvent(0x90, 1, 2, 3);
         return true;
       }},
      {"AUGraphGetNodeInfo", [](PlaybackObject& o) { return o.instrumentCount() == 0; }},
      {"AudioUnitGetProperty", [](PlaybackObject& o) { return o.instrumentCount() == 0; }},
      {"AUGraphGetNodeInfo", [](PlaybackObject& o) { return o.instrumentID(1) == 0; }},
      {"AudioUnitGetProperty", [](PlaybackObject& o) { return o.instrumentID(1) == 0; }},
      {"AUGraphGetNodeInfo", [](PlaybackObject& o) { return !o.instrumentName(0); }},
      {"AudioUnitGetProperty", [](PlaybackObject& o) { return !o.instrumentName(0); }},
      {"AUGraphGetCPULoad", [](PlaybackObject& o) { return o.cpuLoad() == 0.0f; }},
      {"AUGraphGetNodeInfo",
       [](PlaybackObject& o) {
         o.setInstrumentIDOnChannel(2, 0x10203);
         return o.channelEntry(2) == 0;
       }},
  };
  PlaybackObject object;
  ASSERT_TRUE(object.init());
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << index++ << " " << c.call);
    EventRecorder recorder(seams());
    fake().failNext(c.call, -4242);
    EXPECT_TRUE(c.returnsFailureValue(object));
    EXPECT_EQ(object.lasterror(), -4242);
    EXPECT_TRUE(recorder.events().empty());
  }
}

TEST_P(FakeMembers, TheSetterReportsTheProgramChangesStatusAndStoresTheValueAnyway) {
  PlaybackObject object;
  ASSERT_TRUE(object.init());
  // The unit lookup succeeds; one of the three sends fails.
  const struct {
    const char* send;
    int succeedingFirst;
    int32_t lasterror;
  } cases[] = {
      {"bank select MSB (ignored)", 0, 0}, {"bank select LSB (ignored)", 1, 0}, {"program change", 2, -9}};
  int32_t channel = 4;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.send);
    fake().failNext("MusicDeviceMIDIEvent", -9, c.succeedingFirst);
    object.setInstrumentIDOnChannel(channel, 0x30201);
    EXPECT_EQ(object.lasterror(), c.lasterror);
    EXPECT_EQ(object.channelEntry(channel), 0x30201);
    ++channel;
  }
}

TEST_P(FakeMembers, InstrumentsAndLoadComeFromTheSynthesizerUnit) {
  PlaybackObject object;
  ASSERT_TRUE(object.init());
  EXPECT_EQ(object.instrumentCount(), 5);
  const int32_t ids[] = {0x000000, 0x000010, 0x000105, 0x780000, 0x000020};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(object.instrumentID(i), ids[i]);
  EXPECT_EQ(object.instrumentName(0x105), "E.Piano 1");
  EXPECT_EQ(object.instrumentName(0x780000), "Jazz");
  EXPECT_EQ(object.instrumentName(0x1234), std::nullopt);
  EXPECT_EQ(object.lasterror(), kAudioErr_InvalidProperty);
  fake().setCPULoad(0.375f);
  EXPECT_EQ(object.cpuLoad(), 0.375f);
  EXPECT_EQ(object.lasterror(), 0);
}

TEST_P(FakeMembers, SendMidiEventPassesTheFourIntegersUnchecked) {
  PlaybackObject object;
  ASSERT_TRUE(object.init());
  EventRecorder recorder(seams());
  object.sendMidiEvent(0x1FF, -1, 300, 17);
  EXPECT_EQ(recorder.events(), (std::vector<MidiEvent>{{0x1FF, 0xFFFFFFFFu, 300, 17}}));
  EXPECT_EQ(object.lasterror(), 0);
}

INSTANTIATE_TEST_SUITE_P(Audio, FakeMembers, testing::Values(AudioKind::Fake), AudioKindName);

// ---- Over the real audio layer --------------------------------------------

class RealMembers : public Members {};

std::optional<int32_t> findInstrument(PlaybackObject& object, const std::string& name) {
  const int32_t count = object.instrumentCount();
  for (int32_t i = 0; i < count; ++i) {
    const int32_t id = object.instrumentID(i);
    if (object.instrumentName(id) == name) return id;
  }
  return std::nullopt;
}

TEST_P(RealMembers, TheSoundFontOffersTheDefaultPresetInstruments) {
  PlaybackObject object;
  ASSERT_TRUE(object.init());
  EXPECT_GT(object.instrumentCount(), 100);
  for (const char* name : {"Organ 1", "Piano 1", "E.Piano 1", "Banjo", "Cello", "Jazz"})
    EXPECT_TRUE(findInstrument(object, name).has_value()) << name;
}

TEST_P(RealMembers, AMissingOrBrokenSoundFontFailsInitAndLaterMembersFail) {
  const chimewick_test::TemporaryFolder dir("playback-sf");
  const std::string garbage = (dir / "garbage.sf2").string();
  {
    std::ofstream out(garbage, std::ios::binary);
    for (int i = 0; i < 4096; ++i) out.put(static_cast<char>((i * 7919) >> 3));
  }
  for (const std::string& path : {(dir / "missing.sf2").string(), garbage, dir.path().string()}) {
    SCOPED_TRACE(path);
    chimewick_test::ScopedEnvironment soundFont("CHIMEWICK_SOUNDFONT", path);
    PlaybackObject object;
    EXPECT_FALSE(object.init());
    EXPECT_NE(object.lasterror(), 0);
    EXPECT_EQ(object.graph(), 0u);
    EventRecorder recorder(seams());
    EXPECT_EQ(object.instrumentCount(), 0);
    EXPECT_EQ(object.lasterror(), -1);
    EXPECT_EQ(object.instrumentName(0), std::nullopt);
    EXPECT_EQ(object.lasterror(), -1);
    object.sendMidiEvent(0x90, 60, 100, 0);
    EXPECT_EQ(object.lasterror(), -1);
    EXPECT_TRUE(recorder.events().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Audio, RealMembers, testing::Values(AudioKind::Real), AudioKindName);

}  // namespace
