// The transpose and pitch sliders: labels, key name, interval, and the
// registered-parameter sequences they send.
#include <QLabel>
#include <QTest>

#include "CoreTestFixture.h"
#include "SliderThumb.h"
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

using chimewick_test::ThumbOf;

// Where a label's text stands, window coordinates.
QRect TextOf(const rb::StaticText& label) {
  const auto* widget = static_cast<const QLabel*>(label.Widget());
  return widget->fontMetrics()
      .boundingRect(widget->contentsRect(), int(widget->alignment()), widget->text())
      .translated(widget->pos());
}

struct SliderAndLabel {
  const char* name;
  rb::Ref<rb::Slider> (Window1::*slider)() const;
  rb::Ref<rb::StaticText> (Window1::*label)() const;
};
const SliderAndLabel kSliders[] = {
    {"pitch", &Window1::PitchSlider, &Window1::PitchSliderValue},
    {"transpose", &Window1::TransposeSlider, &Window1::TransposeSliderValue},
};

// The player's mouse, through the window system's road: the topmost widget
// under the pointer gets the press.
void Drag(rb::Window& w, QPoint from, QPoint to) {
  QWindow* top = w.Widget()->windowHandle();
  ASSERT_NE(top, nullptr);
  const QPoint offset = w.Widget()->findChild<QWidget*>("rbContent")->mapTo(w.Widget(), QPoint(0, 0));
  QTest::mousePress(top, Qt::LeftButton, Qt::NoModifier, from + offset);
  for (int step = 1; step <= 4; ++step) QTest::mouseMove(top, from + (to - from) * step / 4 + offset);
  QTest::mouseRelease(top, Qt::LeftButton, Qt::NoModifier, to + offset);
}

TEST_F(TuningTest, EachThumbAtRestDragsUpAndTheShownValueFollowsUpward) {
  for (const SliderAndLabel& c : kSliders) {
    SCOPED_TRACE(c.name);
    rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
    w->Show();
    rb::Ref<rb::Slider> slider = ((*w).*c.slider)();
    const QPoint thumb = ThumbOf(*slider).center();
    Drag(*w, thumb, thumb - QPoint(0, 25));
    EXPECT_LT(slider->Value(), 0) << "the thumb went up, toward the Minimum";
    const int shown = std::stoi(((*w).*c.label)()->Text().Bytes());
    EXPECT_GT(shown, 0);
    EXPECT_EQ(shown, -slider->Value());
    CloseQuietly(w);
  }
}

TEST_F(TuningTest, AClickOnThePitchThumbLeavesThePitchWhereItIs) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  w->Show();
  w->PitchSlider()->SetValue(-5);
  const QPoint thumb = ThumbOf(*w->PitchSlider()).center();
  Drag(*w, thumb, thumb);
  EXPECT_EQ(w->PitchSlider()->Value(), -5);
  EXPECT_EQ(w->PitchSliderValue()->Text().Bytes(), "5");
}

TEST_F(TuningTest, NoLabelCoversEitherThumbAtAnyValue) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  w->Show();
  for (const SliderAndLabel& c : kSliders) {
    SCOPED_TRACE(c.name);
    rb::Ref<rb::Slider> slider = ((*w).*c.slider)();
    for (int v = slider->Minimum(); v <= slider->Maximum(); ++v) {
      slider->SetValue(v);
      const QRect thumb = ThumbOf(*slider);
      EXPECT_FALSE(thumb.intersects(TextOf(*((*w).*c.label)()))) << "value " << v;
      for (int i = 0; i < w->ControlCount(); ++i) {
        rb::Ref<rb::StaticText> label = rb::Cast<rb::StaticText>(w->ControlAt(i));
        if (!label) continue;
        const QRect area(label->Left(), label->Top(), label->Width(), label->Height());
        EXPECT_FALSE(thumb.intersects(area)) << "value " << v << " under " << label->Name().Bytes();
      }
    }
  }
}

TEST_F(TuningTest, RaisingTheShownValueRaisesTheThumb) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  w->Show();
  // "d" transposes up two semitones: the thumb goes up with the sound.
  const int atRest = ThumbOf(*w->TransposeSlider()).center().y();
  w->RaiseEvent<bool, rb::String>("KeyDown", rb::String("d"));
  EXPECT_EQ(w->TransposeSliderValue()->Text().Bytes(), "2");
  EXPECT_LT(ThumbOf(*w->TransposeSlider()).center().y(), atRest);
  // The wheel turned away from the player over the pitch thumb raises the
  // shown pitch.
  chimewick_test::TurnWheelAwayOverThumb(*w->PitchSlider());
  EXPECT_GT(std::stoi(w->PitchSliderValue()->Text().Bytes()), 0);
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
