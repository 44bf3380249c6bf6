// The main window as it is made: its controls, their design-time state and
// bindings, the accessor, and what it releases when it goes.
#include <QImage>
#include <QWidget>
#include <filesystem>

#include "CoreTestFixture.h"
#include "MidiClientZel.h"
#include "MidiEndpointZel.h"
#include "MyMidiPort.h"
#include "ProjectPictures.h"
#include "Window1Preset.h"
#include "rb/Text.h"

namespace coretest {
namespace {

using Window1Test = CoreTest;

struct ControlPlace {
  const char* name;
  int index;
  const char* className;
  int left, top, width, height;
};

// The nineteen controls in the order they are made.
const ControlPlace kControls[] = {
    {"InstrumentsList", -1, "PopupMenu", 103, 24, 135, 20},
    {"Warnings", -1, "StaticText", 103, 52, 135, 20},
    {"Canvas1", -1, "Canvas", 28, 20, 48, 48},
    {"PitchSlider", -1, "Slider", 28, 104, 84, 85},
    {"TransposeSlider", -1, "Slider", 98, 104, 73, 85},
    {"StaticText1", -1, "StaticText", 98, 200, 64, 16},
    {"StaticText2", -1, "StaticText", 28, 200, 41, 16},
    {"Key", -1, "StaticText", 150, 136, 64, 21},
    {"PitchSliderValue", -1, "StaticText", 56, 136, 35, 20},
    {"TransposeSliderValue", -1, "StaticText", 125, 136, 35, 20},
    {"Preset", 1, "Window1.Preset", 27, 251, 32, 22},
    {"Preset", 2, "Window1.Preset", 71, 251, 32, 22},
    {"Preset", 3, "Window1.Preset", 103, 251, 32, 22},
    {"Preset", 4, "Window1.Preset", 143, 251, 32, 22},
    {"Preset", 5, "Window1.Preset", 178, 251, 32, 22},
    {"Preset", 6, "Window1.Preset", 214, 251, 32, 22},
    {"Line1", -1, "Line", 26, 228, 212, 0},
    {"Line2", -1, "Line", 26, 80, 212, 0},
    {"StaticText3", -1, "StaticText", 23, 284, 223, 20},
};

TEST_F(Window1Test, MakesTheNineteenControlsInOrderWithTheirPlaces) {
  rb::Ref<Window1> w = MakeWindowBeforeOpen();
  ASSERT_EQ(w->ControlCount(), 19);
  for (int i = 0; i < 19; ++i) {
    const ControlPlace& expected = kControls[i];
    SCOPED_TRACE(std::string(expected.name) + " " + std::to_string(expected.index));
    rb::Ref<rb::RectControl> control = rb::Cast<rb::RectControl>(w->ControlAt(i));
    ASSERT_TRUE(control);
    EXPECT_EQ(control->Name().Bytes(), expected.name);
    EXPECT_EQ(control->Index(), expected.index);
    EXPECT_EQ(control->ClassName(), expected.className);
    EXPECT_EQ(control->Left(), expected.left);
    EXPECT_EQ(control->Top(), expected.top);
    EXPECT_EQ(control->Width(), expected.width);
    EXPECT_EQ(control->Height(), expected.height);
    EXPECT_TRUE(control->Visible());
    EXPECT_TRUE(control->Enabled());
  }
}

TEST_F(Window1Test, RightAfterTheControlsAreMadeEverythingHoldsItsDesignValue) {
  rb::Ref<Window1> w = MakeWindowBeforeOpen();
  EXPECT_EQ(w->InstrumentsList()->ListCount(), 0);
  EXPECT_EQ(w->InstrumentsList()->ListIndex(), -1);
  EXPECT_EQ(w->PitchSlider()->Value(), 0);
  EXPECT_EQ(w->TransposeSlider()->Value(), 0);
  EXPECT_EQ(w->PitchSliderValue()->Text().Bytes(), "0");
  EXPECT_EQ(w->TransposeSliderValue()->Text().Bytes(), "0");
  EXPECT_EQ(w->Key()->Text().Bytes(), "C");
  EXPECT_EQ(w->Warnings()->Text().Bytes(), "Initializing...");
  EXPECT_EQ(w->TransposeSlider()->HelpTag().Bytes(), "");
  for (int k = 1; k <= 6; ++k) {
    SCOPED_TRACE(k);
    ASSERT_TRUE(w->Preset(k));
    EXPECT_FALSE(w->Preset(k)->Value());
    EXPECT_FALSE(w->Preset(k)->Bold());
    EXPECT_EQ(w->Preset(k)->HelpTag().Bytes(), "");
    EXPECT_EQ(w->Preset(k)->Caption().Bytes(), "1");
  }
  EXPECT_EQ(w->Volume.load(), 64);
  EXPECT_EQ(w->DefaultInstrumentName.Bytes(), "Organ 1");
  EXPECT_EQ(w->DefaultInstrument, 16);
  EXPECT_EQ(w->DefaultInstrumentIndex, 0);
  ASSERT_EQ(w->PresetValues.LastIndex(), 6);
  for (int32_t v : w->PresetValues) EXPECT_EQ(v, 0);
  ASSERT_EQ(w->PresetInstrument.LastIndex(), 6);
  for (const rb::String& name : w->PresetInstrument) EXPECT_EQ(name.Bytes(), "");
  EXPECT_FALSE(w->ExternalFlag);
  EXPECT_EQ(w->sources.LastIndex(), -1);
  EXPECT_FALSE(w->Client);
  EXPECT_FALSE(w->port);
  EXPECT_FALSE(w->player);
  EXPECT_EQ(w->InputPlayer(), nullptr);
}

TEST_F(Window1Test, LabelsCarryTheirTextsColoursAndAlignment) {
  rb::Ref<Window1> w = MakeWindowBeforeOpen();
  struct Label {
    const char* name;
    const char* text;
    rb::Color color;
    int align;
  };
  const rb::Color white{0xFF, 0xFF, 0xFF}, lightGrey{0xE8, 0xE8, 0xE8};
  const Label labels[] = {
      {"Warnings", "Initializing...", lightGrey, 0},
      {"StaticText1", "Transpose", white, 0},
      {"StaticText2", "Pitch", white, 0},
      {"Key", "C", lightGrey, 0},
      {"PitchSliderValue", "0", white, 0},
      {"TransposeSliderValue", "0", white, 0},
      {"StaticText3", "Presets", white, 1},
  };
  for (const Label& label : labels) {
    SCOPED_TRACE(label.name);
    rb::Ref<rb::StaticText> text = w->Find<rb::StaticText>(label.name);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->Text().Bytes(), label.text);
    EXPECT_EQ(text->TextColor(), label.color);
    EXPECT_EQ(text->TextAlign(), label.align);
    EXPECT_FALSE(text->Bold());
    EXPECT_FALSE(text->Underline());
  }
  // Each value label lies on its slider.
  EXPECT_EQ(w->PitchSliderValue()->Property("InitialParent").StringValue().Bytes(), "PitchSlider");
  EXPECT_EQ(w->TransposeSliderValue()->Property("InitialParent").StringValue().Bytes(), "TransposeSlider");
  EXPECT_EQ(w->Key()->Property("InitialParent").StringValue().Bytes(), "");
}

TEST_F(Window1Test, SlidersAreUprightWithTheirRanges) {
  rb::Ref<Window1> w = MakeWindowBeforeOpen();
  // 84 by 85: only one pixel taller than wide, upright all the same.
  EXPECT_TRUE(w->PitchSlider()->IsVertical());
  EXPECT_TRUE(w->TransposeSlider()->IsVertical());
  EXPECT_EQ(w->PitchSlider()->Minimum(), -64);
  EXPECT_EQ(w->PitchSlider()->Maximum(), 64);
  EXPECT_EQ(w->TransposeSlider()->Minimum(), -11);
  EXPECT_EQ(w->TransposeSlider()->Maximum(), 11);
}

TEST_F(Window1Test, WindowTakesItsDesignProperties) {
  rb::Ref<Window1> w = MakeWindowBeforeOpen();
  EXPECT_EQ(w->Title().Bytes(), "Chimewick Home Edition");
  EXPECT_EQ(w->Width(), 266);
  EXPECT_EQ(w->Height(), 308);
  EXPECT_EQ(w->Property("HasBackColor"), rb::Variant(true));
  EXPECT_EQ(rb::ColorFromHex(w->Property("BackColor").StringValue()), (rb::Color{0, 0, 0}));
  EXPECT_EQ(w->Property("Resizeable"), rb::Variant(false));
  EXPECT_EQ(w->Property("MinimizeButton"), rb::Variant(true));
  EXPECT_EQ(w->Property("MaximizeButton"), rb::Variant(false));
  EXPECT_EQ(w->Property("CloseButton"), rb::Variant(true));
}

TEST_F(Window1Test, PresetArrayHasIndexesOneToSixOnly) {
  rb::Ref<Window1> w = MakeWindowBeforeOpen();
  EXPECT_FALSE(w->FindControl("Preset", 0));
  EXPECT_FALSE(w->FindControl("Preset", 7));
  for (int k = 1; k <= 6; ++k) EXPECT_EQ(w->Preset(k)->Index(), k);
  EXPECT_FALSE(w->FindControl("NoSuchControl"));
}

TEST_F(Window1Test, ButtonsReadOneToSixAfterTheirOpen) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  for (int k = 1; k <= 6; ++k) EXPECT_EQ(w->Preset(k)->Caption().Bytes(), std::to_string(k));
  // Button 1 is the one that takes the focus; the others are of the other
  // button type.
  EXPECT_EQ(w->Preset(1)->Property("ButtonType"), rb::Variant(2));
  EXPECT_EQ(w->Preset(1)->Property("AcceptFocus"), rb::Variant(true));
  for (int k = 2; k <= 6; ++k) {
    EXPECT_EQ(w->Preset(k)->Property("ButtonType"), rb::Variant(1));
    EXPECT_EQ(w->Preset(k)->Property("AcceptFocus"), rb::Variant(false));
  }
}

TEST_F(Window1Test, CanvasShowsTheIcon) {
  rb::Ref<Window1> w = MakeWindowBeforeOpen();
  rb::Ref<rb::Canvas> canvas = w->Find<rb::Canvas>("Canvas1");
  ASSERT_TRUE(canvas);
  EXPECT_EQ(canvas->Backdrop(), ambersolid48kb());
  ASSERT_TRUE(canvas->Backdrop());
}

TEST_F(Window1Test, AccessorGivesTheOpenWindowAndMakesNoSecond) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  EXPECT_EQ(Window1Accessor(), w);
  EXPECT_EQ(OpenWindow1(), w.get());
  w->SetVisible(false);
  EXPECT_EQ(Window1Accessor(), w);
  EXPECT_EQ(rb::OpenWindows().Count(), 1);
}

TEST_F(Window1Test, AccessorMakesTheWindowOnFirstUseAndRunsItsOpenOnce) {
  int opens = 0;
  rb::Ref<Window1> w = Window1Accessor();
  windows_.push_back(w);
  ASSERT_TRUE(w);
  EXPECT_EQ(w->ControlCount(), 19);
  EXPECT_TRUE(w->IsOpen());
  w->SetHandler<void()>("Open", [&opens] { ++opens; });
  EXPECT_EQ(Window1Accessor(), w);
  EXPECT_EQ(opens, 0);
}

TEST_F(Window1Test, MenuSupportSuppliesTheMenubarAndTheMenuHandlers) {
  rb::Ref<rb::MenuBar> bar = rb::New<rb::MenuBar>();
  Window1* handled = nullptr;
  Window1::SetMenuSupport({[bar] { return bar; }, [&handled](Window1& window) { handled = &window; }});
  rb::Ref<Window1> w = MakeWindowBeforeOpen();
  w->RaiseEvent<void>("AddMenuHandlers");
  Window1::SetMenuSupport({});
  EXPECT_EQ(w->GetMenuBar(), bar);
  EXPECT_EQ(handled, w.get());
}

TEST_F(Window1Test, WindowEventsReachTheirHandlers) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  EXPECT_FALSE((w->RaiseEvent<bool, rb::String>("KeyDown", rb::String("t"))));
  EXPECT_EQ(w->TransposeSlider()->Value(), -1);
  // Control events: the value label's MouseDown resets its slider.
  w->TransposeSliderValue()->RaiseEvent<bool, int, int>("MouseDown", 1, 1);
  EXPECT_EQ(w->TransposeSlider()->Value(), 0);
  w->Preset(4)->RaiseEvent<void>("Action");
  EXPECT_TRUE(w->Preset(4)->Value());
}

TEST_F(Window1Test, PresetMadeWithoutArgumentsJoinsTheOpenWindowAtIndexZero) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  rb::Ref<Window1Preset> extra = rb::New<Window1Preset>();
  EXPECT_EQ(w->FindControl("Preset", 0), rb::Ref<rb::Control>(extra));
  EXPECT_EQ(extra->Index(), 0);
  EXPECT_EQ(extra->Left(), 27);
  EXPECT_EQ(extra->Caption().Bytes(), "1");
  extra->RaiseEvent<void>("Open");
  EXPECT_EQ(extra->Caption().Bytes(), "0");
}

// Records, while the player's release runs, what the window still holds.
struct ReleaseWitness {
  Window1* window = nullptr;
  bool called = false;
  bool clientPortSourcesGone = false;
  bool presetFieldsStillThere = false;
};

void WitnessRelease(void* context) {
  auto* witness = static_cast<ReleaseWitness*>(context);
  witness->called = true;
  Window1& w = *witness->window;
  witness->clientPortSourcesGone = !w.Client && !w.port && w.sources.Count() == 0;
  witness->presetFieldsStillThere = w.PresetValues.Count() == 7 && w.PresetInstrument.Count() == 7 &&
                                    w.DefaultInstrumentName == rb::String("Organ 1");
}

TEST_F(Window1Test, ReleasingTheWindowReleasesThePlayerAfterTheMidiObjects) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  // MIDI objects that nothing but the window holds.
  w->Client = rb::New<MidiClientZel>();
  w->port = MyMidiPort::New();
  w->sources.Append(rb::New<MidiEndpointZel>(7, "Keyboard"));
  ASSERT_TRUE(w->Client && w->port);
  ReleaseWitness witness{w.get()};
  TheRecording().setDestroyHook(&WitnessRelease, &witness);
  EXPECT_EQ(TheRecording().liveObjects(), 1);
  Forget(w);
  CloseQuietly(w);
  TheRecording().setDestroyHook(nullptr, nullptr);
  EXPECT_TRUE(witness.called);
  EXPECT_TRUE(witness.clientPortSourcesGone);
  EXPECT_TRUE(witness.presetFieldsStillThere);
  EXPECT_EQ(TheRecording().liveObjects(), 0);
  EXPECT_EQ(OpenWindow1(), nullptr);
}

TEST_F(Window1Test, SetPlayerPublishesThePlayerToTheInputThread) {
  rb::Ref<Window1> w = MakeWindowBeforeOpen();
  rb::Ref<MidiPlaybackZel> player = MidiPlaybackZel::New();
  w->SetPlayer(player);
  EXPECT_EQ(w->InputPlayer(), player.get());
  w->SetPlayer(nullptr);
  EXPECT_EQ(w->InputPlayer(), nullptr);
  EXPECT_FALSE(w->player);
}

// A picture of the window as it stands after opening, for a person to look
// at: black, 266 x 308, white and light-grey text, two grey lines, two
// upright sliders and six bevelled buttons.
TEST_F(Window1Test, ScreenshotOfTheOpenWindow) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  w->InstrumentsList()->SetListIndex(7);
  // What the window's Open does to the buttons: even spacing.
  for (int k = 2; k <= 6; ++k) w->Preset(k)->SetLeft(w->Preset(k - 1)->Left() + 35);
  w->SetPreset(2, 8, "Piano 1");
  w->Show();
  rb::ProcessEvents(50);
  std::filesystem::create_directories(CHIMEWICK_SCREENSHOT_DIR);
  const std::string path = std::string(CHIMEWICK_SCREENSHOT_DIR) + "/Window1.png";
  ASSERT_TRUE(w->SaveScreenshot(path));
  QImage shot(QString::fromStdString(path));
  ASSERT_FALSE(shot.isNull());
  EXPECT_EQ(shot.width(), 266);
  EXPECT_EQ(shot.height(), 308);
  // Black background away from every control, a grey line across.
  EXPECT_EQ(QColor(shot.pixel(5, 300)), QColor(0, 0, 0));
  EXPECT_EQ(QColor(shot.pixel(120, 228)), QColor(0xAA, 0xAA, 0xAA));
  EXPECT_EQ(QColor(shot.pixel(120, 80)), QColor(0xAA, 0xAA, 0xAA));
}

// Both grey lines run from x 26 to x 238, both ends drawn.
TEST_F(Window1Test, GreyLinesRunFromEndToEnd) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  w->Show();
  const QImage shot = w->Widget()->findChild<QWidget*>("rbContent")->grab().toImage();
  const QColor grey(0xAA, 0xAA, 0xAA), black(0, 0, 0);
  for (int y : {80, 228}) {
    SCOPED_TRACE(y);
    EXPECT_EQ(shot.pixelColor(25, y), black);
    for (int x = 26; x <= 238; ++x) ASSERT_EQ(shot.pixelColor(x, y), grey) << x;
    EXPECT_EQ(shot.pixelColor(239, y), black);
    EXPECT_EQ(shot.pixelColor(120, y - 1), black);
    EXPECT_EQ(shot.pixelColor(120, y + 1), black);
  }
}

// Pictures of the window at rest and at transposition +5, pitch +20, for a
// person to compare with the window's layout: each thumb stands beside its
// value label, which reads in full. The test itself checks that each label's
// text area holds white text and no part of a thumb.
TEST_F(Window1Test, ScreenshotsAtRestAndTransposedShowTheThumbsBesideTheirLabels) {
  struct Setting {
    const char* file;
    int32_t transpose, pitch;  // slider values: the negated shown values
    const char* shownTranspose;
    const char* shownPitch;
  };
  const Setting settings[] = {
      {"Window1-at-rest.png", 0, 0, "0", "0"},
      {"Window1-transpose+5-pitch+20.png", -5, -20, "5", "20"},
  };
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  w->InstrumentsList()->SetListIndex(7);
  w->Show();
  std::filesystem::create_directories(CHIMEWICK_SCREENSHOT_DIR);
  for (const Setting& s : settings) {
    SCOPED_TRACE(s.file);
    w->TransposeSlider()->SetValue(s.transpose);  // the transposition first: it resets the pitch
    w->PitchSlider()->SetValue(s.pitch);
    ASSERT_EQ(w->TransposeSliderValue()->Text().Bytes(), s.shownTranspose);
    ASSERT_EQ(w->PitchSliderValue()->Text().Bytes(), s.shownPitch);
    rb::ProcessEvents(20);
    const std::string path = std::string(CHIMEWICK_SCREENSHOT_DIR) + "/" + s.file;
    ASSERT_TRUE(w->SaveScreenshot(path));
    const QImage shot(QString::fromStdString(path));
    ASSERT_EQ(shot.size(), QSize(266, 308));
    for (rb::Ref<rb::StaticText> label : {w->PitchSliderValue(), w->TransposeSliderValue()}) {
      SCOPED_TRACE(label->Name().Bytes());
      int bright = 0, other = 0;
      for (int y = label->Top(); y < label->Top() + label->Height(); ++y) {
        for (int x = label->Left(); x < label->Left() + label->Width(); ++x) {
          const QColor c = shot.pixelColor(x, y);
          if (c.red() != c.green() || c.green() != c.blue())
            ++other;  // the groove's fill is blue, the thumb's edge not grey either
          else if (c.red() > 160)
            ++bright;
        }
      }
      EXPECT_GT(bright, 8) << "the value reads in white";
      EXPECT_EQ(other, 0) << "nothing of a slider shows through the label";
    }
  }
}

}  // namespace
}  // namespace coretest
