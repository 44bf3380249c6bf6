// The transpose and pitch sliders: labels, key name, interval, and the
// registered-parameter sequences they send.
#include "CoreTestFixture.h"
#include "rb/Text.h"

namespace coretest {
namespace {

using TuningTest = CoreTest;
using Events = std::vector<std::vector<int32_t>>;

// The five events of one registered-parameter value on channel 1.
Events Sequence(int32_t parameter, int32_t value) {
  return {
      {176, 101, 0, 0}, {176, 100, parameter, 0}, {176, 6, value, 0}, {176, 101, 127, 0}, {176, 100, 127, 0}};
}
Events Coarse(int32_t value) { return Sequence(2, value); }
Events Fine(int32_t value) { return Sequence(1, value); }
Events operator+(Events a, const Events& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct WorkedValue {
  int32_t t, p;
  const char* shownPitch;
  int32_t coarse, fine;
};

TEST_F(TuningTest, PitchChangesSendTheWorkedCoarseAndFineValues) {
  const WorkedValue rows[] = {
      {0, 0, "0", 64, 0},    {0, -1, "1", 64, 1},    {0, -64, "64", 64, 64},   {0, 1, "-1", 63, 63},
      {0, 64, "-64", 63, 0}, {-2, 0, "0", 66, 0},    {-11, -64, "64", 75, 64}, {11, 64, "-64", 52, 0},
      {-3, 5, "-5", 66, 59}, {4, -10, "10", 60, 10},
  };
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  for (const WorkedValue& row : rows) {
    SCOPED_TRACE("T " + std::to_string(row.t) + " P " + std::to_string(row.p));
    w->TransposeSlider()->SetValue(row.t);
    // A slider only reports a change: step away first where P is already set.
    if (w->PitchSlider()->Value() == row.p) w->PitchSlider()->SetValue(row.p == 0 ? 1 : 0);
    TheRecording().clear();
    w->PitchSlider()->SetValue(row.p);
    EXPECT_EQ(TheRecording().MidiEvents(), Coarse(row.coarse) + Fine(row.fine));
    EXPECT_EQ(w->PitchSliderValue()->Text().Bytes(), row.shownPitch);
    // Every tuning goes to the first channel only and selects no instrument.
    EXPECT_TRUE(TheRecording().CallsOf("InstrumentIDOnChannel.Set").empty());
  }
}

struct KeyRow {
  int32_t t;
  const char* shown;
  const char* key;
  const char* interval;
  int32_t coarse;
};

TEST_F(TuningTest, TranspositionShowsKeyAndIntervalAndSendsCoarseTuning) {
  const KeyRow rows[] = {
      {11, "-11", "C#/Db", "major septime", 53},
      {-2, "2", "D", "major second", 66},
      {0, "0", "C", "prime", 64},
      {-11, "11", "B", "major septime", 75},
      {1, "-1", "B", "second", 63},
      {-6, "6", "F#/Gb", "major quart / minor quint", 70},
      {3, "-3", "A", "minor terza", 61},
      {-8, "8", "G#/Ab", "major quint", 72},
  };
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  for (const KeyRow& row : rows) {
    SCOPED_TRACE(row.t);
    if (w->TransposeSlider()->Value() == row.t) w->TransposeSlider()->SetValue(row.t == 0 ? 1 : 0);
    TheRecording().clear();
    w->TransposeSlider()->SetValue(row.t);
    EXPECT_EQ(w->TransposeSliderValue()->Text().Bytes(), row.shown);
    EXPECT_EQ(w->Key()->Text().Bytes(), row.key);
    EXPECT_EQ(w->TransposeSlider()->HelpTag().Bytes(), row.interval);
    // The pitch stood at 0, so only the coarse sequence goes out.
    EXPECT_EQ(TheRecording().MidiEvents(), Coarse(row.coarse));
    EXPECT_EQ(w->PitchSlider()->Value(), 0);
  }
}

TEST_F(TuningTest, EveryTranspositionHasItsKeyName) {
  const char* keys[] = {"C#/Db", "D", "D#/Eb", "E", "F", "F#/Gb", "G", "G#/Ab", "A", "A#/Bb", "B", "C",
                        "C#/Db", "D", "D#/Eb", "E", "F", "F#/Gb", "G", "G#/Ab", "A", "A#/Bb", "B"};
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  for (int32_t t = 11; t >= -11; --t) {
    w->TransposeSlider()->SetValue(t == 0 ? 1 : 0);
    w->TransposeSlider()->SetValue(t);
    EXPECT_EQ(w->Key()->Text().Bytes(), keys[11 - t]) << t;
    EXPECT_EQ(w->TransposeSliderValue()->Text(), rb::Str(-t));
  }
}

TEST_F(TuningTest, TranspositionChangeWhileThePitchShowsTenResetsThePitchAfterItsCoarseTuning) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  w->PitchSlider()->SetValue(-10);
  ASSERT_EQ(w->PitchSliderValue()->Text().Bytes(), "10");
  // Watch the pitch handler start: what has gone out by then, what it shows.
  size_t sentWhenPitchHandlerRan = 0;
  std::string pitchLabelBefore;
  w->PitchSlider()->SetHandler<void()>("ValueChanged", [&, raw = w.get()] {
    sentWhenPitchHandlerRan = TheRecording().MidiEvents().size();
    pitchLabelBefore = raw->PitchSliderValue()->Text().Bytes();
    raw->PitchSlider_ValueChanged();
  });
  TheRecording().clear();
  w->TransposeSlider()->SetValue(-3);
  EXPECT_EQ(sentWhenPitchHandlerRan, 5u);
  EXPECT_EQ(pitchLabelBefore, "10");
  EXPECT_EQ(w->PitchSliderValue()->Text().Bytes(), "0");
  EXPECT_EQ(TheRecording().MidiEvents(), Coarse(67) + Coarse(67) + Fine(0));
}

struct MouseDownCase {
  const char* name;
  bool (Window1::*handler)(int32_t, int32_t);
  bool resetsPitch;  // else the transposition
};

TEST_F(TuningTest, PressesOnCaptionsAndValuesResetTheirSlider) {
  const MouseDownCase cases[] = {
      {"TransposeSlider", &Window1::TransposeSlider_MouseDown, true},
      {"StaticText1", &Window1::StaticText1_MouseDown, false},
      {"StaticText2", &Window1::StaticText2_MouseDown, true},
      {"PitchSliderValue", &Window1::PitchSliderValue_MouseDown, true},
      {"TransposeSliderValue", &Window1::TransposeSliderValue_MouseDown, false},
  };
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  for (const MouseDownCase& c : cases) {
    SCOPED_TRACE(c.name);
    w->TransposeSlider()->SetValue(-4);
    w->PitchSlider()->SetValue(-5);
    TheRecording().clear();
    // Through the control's own event, as a click raises it.
    const bool taken = w->FindControl(c.name)->RaiseEvent<bool, int, int>("MouseDown", 3, 4);
    EXPECT_FALSE(taken);
    EXPECT_FALSE(((*w).*c.handler)(0, 0));
    if (c.resetsPitch) {
      EXPECT_EQ(w->PitchSlider()->Value(), 0);
      EXPECT_EQ(w->TransposeSlider()->Value(), -4);
      EXPECT_EQ(TheRecording().MidiEvents(), Coarse(68) + Fine(0));
    } else {
      EXPECT_EQ(w->TransposeSlider()->Value(), 0);
      EXPECT_EQ(w->Key()->Text().Bytes(), "C");
      EXPECT_EQ(TheRecording().MidiEvents(), Coarse(64) + Coarse(64) + Fine(0));
    }
    EXPECT_EQ(w->PitchSliderValue()->Text().Bytes(), "0");
  }
}

TEST_F(TuningTest, PressOnTheTransposeSliderClearsThePitchAtOnce) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  w->TransposeSlider()->SetValue(2);
  w->PitchSlider()->SetValue(-5);
  TheRecording().clear();
  EXPECT_FALSE((w->TransposeSlider()->RaiseEvent<bool, int, int>("MouseDown", 10, 40)));
  EXPECT_EQ(w->PitchSliderValue()->Text().Bytes(), "0");
  EXPECT_EQ(TheRecording().MidiEvents(), Coarse(62) + Fine(0));
  // The pitch slider itself has no press handler.
  EXPECT_FALSE(w->PitchSlider()->HasHandler("MouseDown"));
}

TEST_F(TuningTest, PressOnASliderAlreadyAtZeroSendsNothing) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  EXPECT_FALSE(w->StaticText2_MouseDown(0, 0));
  EXPECT_FALSE(w->StaticText1_MouseDown(0, 0));
  EXPECT_TRUE(TheRecording().MidiEvents().empty());
}

TEST_F(TuningTest, TuningGoesToTheAccessorsPlayerAndToNoOther) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  w->SetCoarseTuning(70);
  w->SetFineTuning(12);
  const auto calls = TheRecording().CallsOf("SendMidiEvent");
  ASSERT_EQ(calls.size(), 10u);
  // The values pass unchanged: no clamp, no offset.
  EXPECT_EQ(TheRecording().MidiEvents(), Coarse(70) + Fine(12));
  for (const RecordedCall& c : calls) EXPECT_EQ(c.object, calls.front().object);
}

}  // namespace
}  // namespace coretest
