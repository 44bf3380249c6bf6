// The instrument list: a chosen row goes to the first MIDI channel, the
// preset buttons are released unless a recall made the change, and the wheel
// steps through the rows within the list.
#include "CoreTestFixture.h"

namespace coretest {
namespace {

using InstrumentSelectionTest = CoreTest;

std::vector<std::pair<int32_t, std::string>> Rows(int count) {
  std::vector<std::pair<int32_t, std::string>> rows;
  for (int i = 0; i < count; ++i) rows.push_back({0x100 + i, "Instrument " + std::to_string(i)});
  return rows;
}

TEST_F(InstrumentSelectionTest, ChoosingARowSelectsItsInstrumentOnChannelOne) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  w->InstrumentsList()->SetListIndex(5);
  const auto set = TheRecording().CallsOf("InstrumentIDOnChannel.Set");
  ASSERT_EQ(set.size(), 1u);
  EXPECT_EQ(set[0].args[0], 0);
  EXPECT_EQ(set[0].args[1], 0x780020);
  EXPECT_TRUE(TheRecording().MidiEvents().empty());
}

TEST_F(InstrumentSelectionTest, ChangeWithoutARowSelectedDoesNothing) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  ASSERT_EQ(w->InstrumentsList()->ListIndex(), -1);
  for (bool flag : {false, true}) {
    w->ExternalFlag = flag;
    w->Preset(2)->SetValue(true);
    w->InstrumentsList_Change();
    EXPECT_EQ(w->ExternalFlag, flag);
    EXPECT_TRUE(w->Preset(2)->Value());
  }
  EXPECT_EQ(TheRecording().Calls().size(), 0u);
}

TEST_F(InstrumentSelectionTest, ChangeReleasesThePresetButtonsUnlessARecallMadeIt) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  for (int k = 1; k <= 6; ++k) w->Preset(k)->SetValue(true);
  w->ExternalFlag = true;
  w->InstrumentsList()->SetListIndex(3);
  EXPECT_FALSE(w->ExternalFlag);
  for (int k = 1; k <= 6; ++k) EXPECT_TRUE(w->Preset(k)->Value()) << k;
  w->InstrumentsList()->SetListIndex(4);
  for (int k = 1; k <= 6; ++k) EXPECT_FALSE(w->Preset(k)->Value()) << k;
  EXPECT_EQ(TheRecording().CallsOf("InstrumentIDOnChannel.Set").size(), 2u);
}

struct WheelCase {
  int rows;
  int start;  // -1: no row selected
  int32_t movement;
  int expected;
};

TEST_F(InstrumentSelectionTest, WheelMovesByItsMovementAndStopsAtTheEnds) {
  const WheelCase cases[] =
      {
          {10, 0, -3, 0}, {10, 9, 1, 9},   {10, 5, 2, 7},          {6, 5, 2, 5},
          {10, -1, 3, 2}, {10, -1, 1, 0},  {10, -1, -4, 0},        {10, 4, 0, 4},
          {10, 2, -1, 1}, {10, 3, 100, 9}, {10, 3, 2147483647, 0},  // int32 addition wraps below 0
      };
  for (const WheelCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.rows) + " rows, from " + std::to_string(c.start) + " by " +
                 std::to_string(c.movement));
    rb::Ref<Window1> w = MakeWindowWithInstruments(Rows(c.rows));
    if (c.start >= 0) w->InstrumentsList()->SetListIndex(c.start);
    TheRecording().clear();
    EXPECT_FALSE(
        (w->InstrumentsList()->RaiseEvent<bool, int, int, int, int>("MouseWheel", 7, 8, 0, c.movement)));
    EXPECT_EQ(w->InstrumentsList()->ListIndex(), c.expected);
    // Assigning the row raises Change, the same row included.
    const auto set = TheRecording().CallsOf("InstrumentIDOnChannel.Set");
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ(set[0].args[1], 0x100 + c.expected);
    CloseQuietly(w);
  }
}

TEST_F(InstrumentSelectionTest, WheelOverAnEmptyListSelectsNothingAndSendsNothing) {
  rb::Ref<Window1> w = MakeWindowWithInstruments({});
  EXPECT_FALSE(w->InstrumentsList_MouseWheel(0, 0, 0, 1));
  EXPECT_FALSE(w->InstrumentsList_MouseWheel(0, 0, 0, -1));
  EXPECT_EQ(w->InstrumentsList()->ListIndex(), -1);
  EXPECT_TRUE(TheRecording().Calls().empty());
}

TEST_F(InstrumentSelectionTest, WheelStepReleasesThePresetButtons) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  w->InstrumentsList()->SetListIndex(2);
  w->Preset(5)->SetValue(true);
  w->InstrumentsList_MouseWheel(0, 0, 0, 1);
  EXPECT_FALSE(w->Preset(5)->Value());
}

}  // namespace
}  // namespace coretest
