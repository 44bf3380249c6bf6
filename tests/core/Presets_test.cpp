// The six presets: recall through the instrument list, store with Shift,
// exactly one button pressed afterwards, and the recall flag.
#include "CoreTestFixture.h"

namespace coretest {
namespace {

using PresetsTest = CoreTest;

// Which buttons show pressed, 1 to 6.
std::vector<bool> Pressed(Window1& w) {
  std::vector<bool> pressed;
  for (int k = 1; k <= 6; ++k) pressed.push_back(w.Preset(k)->Value());
  return pressed;
}
std::vector<bool> OnlyPressed(int k) {
  std::vector<bool> pressed(6, false);
  pressed[size_t(k - 1)] = true;
  return pressed;
}

TEST_F(PresetsTest, ClickRecallsTheBoundRowAndSendsItsInstrumentOnce) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  w->SetPreset(3, 7, "Organ 1");
  w->InstrumentsList()->SetListIndex(2);
  for (int k = 1; k <= 6; ++k) w->Preset(k)->SetValue(k % 2 == 0);
  TheRecording().clear();
  w->Preset(3)->RaiseEvent<void>("Action");
  EXPECT_EQ(w->InstrumentsList()->ListIndex(), 7);
  const auto set = TheRecording().CallsOf("InstrumentIDOnChannel.Set");
  ASSERT_EQ(set.size(), 1u);
  EXPECT_EQ(set[0].args[0], 0);
  EXPECT_EQ(set[0].args[1], 0x000107);
  EXPECT_EQ(TheRecording().Calls().size(), 1u);  // nothing else went out
  EXPECT_EQ(Pressed(*w), OnlyPressed(3));
  EXPECT_FALSE(w->ExternalFlag);
}

TEST_F(PresetsTest, ShiftClickStoresTheSelectedRowWithoutSendingAnything) {
  rb::Ref<Window1> w = MakeWindowWithInstruments(
      {{10, "Banjo"}, {11, "Bass"}, {12, "Brass"}, {13, "Celesta"}, {14, "Cello"}, {15, "Flute"}});
  w->InstrumentsList()->SetListIndex(4);
  TheRecording().clear();
  rb::Keyboard::SetShiftDownForTesting(true);
  w->Preset(2)->RaiseEvent<void>("Action");
  EXPECT_EQ(w->Preset(2)->HelpTag().Bytes(), "Cello");
  EXPECT_EQ(w->PresetValues(2), 4);
  EXPECT_TRUE(w->Preset(2)->Bold());
  EXPECT_EQ(Pressed(*w), OnlyPressed(2));
  EXPECT_EQ(w->InstrumentsList()->ListIndex(), 4);
  EXPECT_TRUE(TheRecording().Calls().empty());
  EXPECT_FALSE(w->ExternalFlag);
}

TEST_F(PresetsTest, UnboundPresetRecallsRowZero) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  w->InstrumentsList()->SetListIndex(6);
  TheRecording().clear();
  w->ActivatePreset(5);
  EXPECT_EQ(w->InstrumentsList()->ListIndex(), 0);
  const auto set = TheRecording().CallsOf("InstrumentIDOnChannel.Set");
  ASSERT_EQ(set.size(), 1u);
  EXPECT_EQ(set[0].args[1], 0x000000);
  EXPECT_EQ(Pressed(*w), OnlyPressed(5));
  EXPECT_FALSE(w->Preset(5)->Bold());
  EXPECT_EQ(w->Preset(5)->HelpTag().Bytes(), "");
}

TEST_F(PresetsTest, AnotherInstrumentChoiceAfterARecallReleasesAllButtons) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  w->SetPreset(1, 4, "Harp");
  w->ActivatePreset(1);
  ASSERT_EQ(Pressed(*w), OnlyPressed(1));
  w->InstrumentsList()->SetListIndex(8);
  EXPECT_EQ(Pressed(*w), std::vector<bool>(6, false));
}

TEST_F(PresetsTest, ShiftClickWithoutASelectedRowStoresMinusOneAndItsRecallLeavesTheFlagSet) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  rb::Keyboard::SetShiftDownForTesting(true);
  w->ActivatePreset(4);
  EXPECT_EQ(w->PresetValues(4), -1);
  EXPECT_EQ(w->Preset(4)->HelpTag().Bytes(), "");
  EXPECT_TRUE(w->Preset(4)->Bold());
  rb::Keyboard::SetShiftDownForTesting(false);
  w->ActivatePreset(4);
  EXPECT_EQ(w->InstrumentsList()->ListIndex(), -1);
  EXPECT_TRUE(TheRecording().Calls().empty());
  EXPECT_TRUE(w->ExternalFlag);
  EXPECT_EQ(Pressed(*w), OnlyPressed(4));
  // The next change sends its instrument but keeps the buttons as they are.
  w->InstrumentsList()->SetListIndex(1);
  EXPECT_EQ(TheRecording().CallsOf("InstrumentIDOnChannel.Set").size(), 1u);
  EXPECT_FALSE(w->ExternalFlag);
  EXPECT_EQ(Pressed(*w), OnlyPressed(4));
}

TEST_F(PresetsTest, RecallOfTheRowAlreadySelectedSendsItAgainAndClearsTheFlag) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  w->SetPreset(6, 2, "E.Piano 1");
  w->InstrumentsList()->SetListIndex(2);
  TheRecording().clear();
  w->ActivatePreset(6);
  EXPECT_EQ(TheRecording().CallsOf("InstrumentIDOnChannel.Set").size(), 1u);
  EXPECT_FALSE(w->ExternalFlag);
  EXPECT_EQ(Pressed(*w), OnlyPressed(6));
}

TEST_F(PresetsTest, StoringOverwritesABoundPresetAndBothOfTwoEqualPresetsRecallIt) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  w->SetPreset(1, 3, "Flute");
  w->InstrumentsList()->SetListIndex(9);
  rb::Keyboard::SetShiftDownForTesting(true);
  w->ActivatePreset(1);
  w->ActivatePreset(2);
  rb::Keyboard::SetShiftDownForTesting(false);
  EXPECT_EQ(w->Preset(1)->HelpTag().Bytes(), "Violin");
  EXPECT_EQ(w->PresetValues(1), 9);
  for (int k : {1, 2}) {
    w->InstrumentsList()->SetListIndex(0);
    w->ActivatePreset(k);
    EXPECT_EQ(w->InstrumentsList()->ListIndex(), 9) << k;
  }
}

TEST_F(PresetsTest, SetPresetBindsWithoutPressingOrSending) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  w->SetPreset(5, 8, "Piano 1");
  EXPECT_EQ(w->Preset(5)->HelpTag().Bytes(), "Piano 1");
  EXPECT_EQ(w->PresetValues(5), 8);
  EXPECT_TRUE(w->Preset(5)->Bold());
  EXPECT_EQ(Pressed(*w), std::vector<bool>(6, false));
  EXPECT_EQ(w->InstrumentsList()->ListIndex(), -1);
  EXPECT_TRUE(TheRecording().Calls().empty());
}

TEST_F(PresetsTest, ButtonOpenCaptionsTheButtonWithItsIndex) {
  rb::Ref<Window1> w = MakeWindowBeforeOpen();
  for (int k = 1; k <= 6; ++k) {
    w->Preset_Open(*w->Preset(k));
    EXPECT_EQ(w->Preset(k)->Caption().Bytes(), std::to_string(k));
  }
}

TEST_F(PresetsTest, ShiftIsReadWhenThePresetActsNotWhenTheClickBegan) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  w->InstrumentsList()->SetListIndex(3);
  // Shift goes down between the click and the action: it stores.
  w->Preset(1)->SetHandler<void()>("Action", [raw = w.get()] {
    rb::Keyboard::SetShiftDownForTesting(true);
    raw->Preset_Action(*raw->Preset(1));
  });
  w->Preset(1)->RaiseEvent<void>("Action");
  EXPECT_EQ(w->Preset(1)->HelpTag().Bytes(), "Flute");
}

}  // namespace
}  // namespace coretest
