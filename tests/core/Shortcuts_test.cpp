// The computer keyboard: arrows, digits, pitch and transposition steps, and
// the note letters, each through the window's KeyDown event.
#include <QApplication>
#include <QMenu>
#include <QTest>
#include <fstream>
#include <sstream>

#include "CoreTestFixture.h"

namespace coretest {
namespace {

using ShortcutsTest = CoreTest;

constexpr int kLeft = 123, kRight = 124, kDown = 125, kUp = 126;
constexpr int kDigitCodes[] = {18, 19, 20, 21, 23, 22};
// Keypad 1 to 6 on the original platform's keyboard.
constexpr int kKeypadCodes[] = {83, 84, 85, 86, 87, 88};

bool Type(Window1& w, const char* text) {
  return w.RaiseEvent<bool, rb::String>("KeyDown", rb::String(text));
}

std::vector<int32_t> SelectedIds() {
  std::vector<int32_t> ids;
  for (const RecordedCall& c : TheRecording().CallsOf("InstrumentIDOnChannel.Set")) ids.push_back(c.args[1]);
  return ids;
}

// The data byte of every data-entry event (controller 6), in order.
std::vector<int32_t> DataEntries() {
  std::vector<int32_t> values;
  for (const auto& e : TheRecording().MidiEvents())
    if (e[1] == 6) values.push_back(e[2]);
  return values;
}

struct LetterCase {
  const char* text;
  int32_t transposeValue;
  const char* key;
  int32_t coarse;
};

TEST_F(ShortcutsTest, NoteLettersTransposeToTheirKeyInEitherCase) {
  const LetterCase cases[] = {
      {"c", 0, "C", 64},  {"d", -2, "D", 66}, {"E", -4, "E", 68},  {"f", -5, "F", 69},
      {"g", -7, "G", 71}, {"A", -9, "A", 73}, {"b", -11, "B", 75},
  };
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  for (const LetterCase& c : cases) {
    SCOPED_TRACE(c.text);
    w->TransposeSlider()->SetValue(c.transposeValue == 0 ? 3 : 0);
    TheRecording().clear();
    EXPECT_FALSE(Type(*w, c.text));
    EXPECT_EQ(w->TransposeSlider()->Value(), c.transposeValue);
    EXPECT_EQ(w->Key()->Text().Bytes(), c.key);
    EXPECT_EQ(DataEntries(), std::vector<int32_t>{c.coarse});
  }
}

TEST_F(ShortcutsTest, LowerCaseTRaisesTheTranspositionBySemitone) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  EXPECT_FALSE(Type(*w, "t"));
  EXPECT_EQ(w->TransposeSlider()->Value(), -1);
  EXPECT_EQ(w->TransposeSliderValue()->Text().Bytes(), "1");
  EXPECT_EQ(w->Key()->Text().Bytes(), "C#/Db");
  EXPECT_EQ(DataEntries(), std::vector<int32_t>{65});
  EXPECT_FALSE(Type(*w, "R"));
  EXPECT_EQ(w->TransposeSlider()->Value(), 0);
}

TEST_F(ShortcutsTest, PAndOStepThePitchAndStopAtTheSlidersEnds) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  EXPECT_FALSE(Type(*w, "p"));
  EXPECT_EQ(w->PitchSlider()->Value(), -1);
  EXPECT_EQ(w->PitchSliderValue()->Text().Bytes(), "1");
  EXPECT_FALSE(Type(*w, "O"));
  EXPECT_EQ(w->PitchSlider()->Value(), 0);
  w->PitchSlider()->SetValue(-64);
  TheRecording().clear();
  EXPECT_FALSE(Type(*w, "P"));  // assigns -65; the slider keeps its range
  EXPECT_EQ(w->PitchSlider()->Value(), -64);
  w->TransposeSlider()->SetValue(11);
  EXPECT_FALSE(Type(*w, "r"));
  EXPECT_EQ(w->TransposeSlider()->Value(), 11);
}

TEST_F(ShortcutsTest, ZeroResetsThePitchFirstThenTheTransposition) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  w->TransposeSlider()->SetValue(-3);
  w->PitchSlider()->SetValue(-5);
  TheRecording().clear();
  EXPECT_FALSE(Type(*w, "0"));
  EXPECT_EQ(w->PitchSlider()->Value(), 0);
  EXPECT_EQ(w->TransposeSlider()->Value(), 0);
  // Pitch: coarse 67 and fine 0; then the transposition: coarse 64.
  EXPECT_EQ(DataEntries(), (std::vector<int32_t>{67, 0, 64}));
}

TEST_F(ShortcutsTest, ShiftWithMainRowKeyOneStoresPresetOneWhateverItTypes) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  w->InstrumentsList()->SetListIndex(6);
  TheRecording().clear();
  rb::Keyboard::SetShiftDownForTesting(true);
  rb::Keyboard::SetKeyDownForTesting(kDigitCodes[0], true);
  EXPECT_FALSE(Type(*w, "!"));
  EXPECT_EQ(w->Preset(1)->HelpTag().Bytes(), "Oboe");
  EXPECT_EQ(w->PresetValues(1), 6);
  EXPECT_TRUE(w->Preset(1)->Value());
  EXPECT_TRUE(TheRecording().Calls().empty());
}

TEST_F(ShortcutsTest, EachMainRowDigitRecallsItsPreset) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  for (int k = 1; k <= 6; ++k) w->SetPreset(k, k + 2, "bound");
  for (int k = 1; k <= 6; ++k) {
    SCOPED_TRACE(k);
    rb::Keyboard::SetKeyDownForTesting(kDigitCodes[k - 1], true);
    EXPECT_FALSE(Type(*w, std::to_string(k).c_str()));
    rb::Keyboard::SetKeyDownForTesting(kDigitCodes[k - 1], false);
    EXPECT_EQ(w->InstrumentsList()->ListIndex(), k + 2);
    EXPECT_TRUE(w->Preset(k)->Value());
  }
}

TEST_F(ShortcutsTest, KeypadDigitsRecallNoPreset) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  for (int k = 1; k <= 6; ++k) {
    rb::Keyboard::SetKeyDownForTesting(kKeypadCodes[k - 1], true);
    EXPECT_FALSE(Type(*w, std::to_string(k).c_str()));
    rb::Keyboard::SetKeyDownForTesting(kKeypadCodes[k - 1], false);
  }
  EXPECT_TRUE(TheRecording().Calls().empty());
  for (int k = 1; k <= 6; ++k) EXPECT_FALSE(w->Preset(k)->Value());
  EXPECT_EQ(w->InstrumentsList()->ListIndex(), -1);
}

TEST_F(ShortcutsTest, KeysOneAndThreeHeldActivateOnlyPresetOne) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  w->SetPreset(1, 1, "Cello");
  w->SetPreset(3, 3, "Flute");
  rb::Keyboard::SetKeyDownForTesting(kDigitCodes[0], true);
  rb::Keyboard::SetKeyDownForTesting(kDigitCodes[2], true);
  for (int event = 0; event < 2; ++event) {
    EXPECT_FALSE(Type(*w, "x"));
    EXPECT_EQ(w->InstrumentsList()->ListIndex(), 1);
    EXPECT_TRUE(w->Preset(1)->Value());
    EXPECT_FALSE(w->Preset(3)->Value());
  }
}

struct ArrowCase {
  const char* name;
  std::vector<int> held;
  int start;
  std::vector<int> rowsAssigned;
};

TEST_F(ShortcutsTest, ArrowsStepThroughTheListAndAssignEvenAtTheEnds) {
  const ArrowCase cases[] = {
      {"left at the first row", {kLeft}, 0, {0}},
      {"up at the first row", {kUp}, 0, {0}},
      {"right at the last row", {kRight}, 9, {9}},
      {"down at the last row", {kDown}, 9, {9}},
      {"left", {kLeft}, 4, {3}},
      {"down", {kDown}, 4, {5}},
      {"left and right together", {kLeft, kRight}, 3, {2, 3}},
      {"all four", {kLeft, kRight, kDown, kUp}, 5, {4, 5, 6, 5}},
      {"right with no row selected", {kRight}, -1, {0}},
  };
  for (const ArrowCase& c : cases) {
    SCOPED_TRACE(c.name);
    rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
    if (c.start >= 0) w->InstrumentsList()->SetListIndex(c.start);
    w->Preset(2)->SetValue(true);
    TheRecording().clear();
    for (int code : c.held) rb::Keyboard::SetKeyDownForTesting(code, true);
    EXPECT_FALSE(Type(*w, "x"));
    rb::Keyboard::ResetForTesting();
    std::vector<int32_t> expectedIds;
    for (int row : c.rowsAssigned) expectedIds.push_back(SampleInstruments()[size_t(row)].first);
    EXPECT_EQ(SelectedIds(), expectedIds);
    EXPECT_EQ(w->InstrumentsList()->ListIndex(), c.rowsAssigned.back());
    EXPECT_FALSE(w->Preset(2)->Value());
    CloseQuietly(w);
  }
}

TEST_F(ShortcutsTest, ArrowsOverAnEmptyListSelectNothing) {
  rb::Ref<Window1> w = MakeWindowWithInstruments({});
  rb::Keyboard::SetKeyDownForTesting(kDown, true);
  EXPECT_FALSE(Type(*w, ""));
  EXPECT_EQ(w->InstrumentsList()->ListIndex(), -1);
  EXPECT_TRUE(TheRecording().Calls().empty());
}

TEST_F(ShortcutsTest, HeldKeysActTogetherWithTheTypedLetter) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  w->SetPreset(2, 7, "Organ 1");
  w->InstrumentsList()->SetListIndex(3);
  TheRecording().clear();
  rb::Keyboard::SetKeyDownForTesting(kRight, true);
  rb::Keyboard::SetKeyDownForTesting(kDigitCodes[1], true);
  EXPECT_FALSE(Type(*w, "g"));
  // The arrow first (row 4), then preset 2 (row 7), then the letter.
  EXPECT_EQ(SelectedIds(), (std::vector<int32_t>{0x000004, 0x000107}));
  EXPECT_EQ(w->InstrumentsList()->ListIndex(), 7);
  EXPECT_TRUE(w->Preset(2)->Value());
  EXPECT_EQ(w->TransposeSlider()->Value(), -7);
}

TEST_F(ShortcutsTest, KeysNoBlockNamesChangeNothing) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  for (const char* text : {"x", "Z", "1", "7", "", " ", "\t", "pp", "é", "\x7f"}) {
    EXPECT_FALSE(Type(*w, text)) << text;
  }
  EXPECT_TRUE(TheRecording().Calls().empty());
  EXPECT_EQ(w->PitchSlider()->Value(), 0);
  EXPECT_EQ(w->TransposeSlider()->Value(), 0);
}

// The menus the shell gives the window: File > Quit and a Help menu.
rb::Ref<rb::MenuBar> MenusOfTheShell() {
  auto item = [](const char* name, const char* text) {
    auto made = rb::New<rb::MenuItem>();
    made->Name = name;
    made->Text = text;
    return made;
  };
  auto bar = rb::New<rb::MenuBar>();
  bar->Append(item("FileMenu", "&File"));
  auto quit = rb::New<rb::QuitMenuItem>();
  quit->Name = "FileQuit";
  quit->Text = "Quit";
  quit->KeyboardShortcut = "Cmd+Q";
  bar->Child("FileMenu")->Append(quit);
  bar->Append(item("HelpMenu", "&Help"));
  bar->Child("HelpMenu")->Append(item("HelpQuickStart", "Quick Start"));
  return bar;
}

std::string SavedPreferences(Window1& w, const std::string& path) {
  w.SavePreferences();
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Typed as the player types, through the window system: Alt+F opens the File
// menu, and the keys that follow belong to the menus.
TEST_F(ShortcutsTest, KeysTypedIntoAnOpenMenuChangeNothingAndNothingIsSaved) {
  const rb::Ref<rb::MenuBar> bar = MenusOfTheShell();
  Window1::SetMenuSupport({[bar] { return bar; }, {}});
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  Window1::SetMenuSupport({});
  w->InstrumentsList()->SetListIndex(3);
  const std::string before = SavedPreferences(*w, PreferencesFilePath());
  TheRecording().clear();
  QWindow* top = w->Widget()->windowHandle();
  ASSERT_NE(top, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowActive(top));
  for (const std::vector<Qt::Key>& typed : std::vector<std::vector<Qt::Key>>{
           {Qt::Key_G}, {Qt::Key_Right, Qt::Key_Escape}, {Qt::Key_T, Qt::Key_Down, Qt::Key_0}}) {
    QTest::keyClick(top, Qt::Key_F, Qt::AltModifier);
    ASSERT_TRUE(qobject_cast<QMenu*>(QApplication::activePopupWidget())) << "Alt+F opens the File menu";
    for (Qt::Key key : typed) QTest::keyClick(top, key);
    while (QWidget* open = QApplication::activePopupWidget()) open->close();
    QTest::keyClick(top, Qt::Key_Escape);  // the menu bar lets the keyboard go
  }
  EXPECT_EQ(w->TransposeSlider()->Value(), 0);
  EXPECT_EQ(w->Key()->Text().Bytes(), "C");
  EXPECT_EQ(w->PitchSlider()->Value(), 0);
  EXPECT_EQ(w->InstrumentsList()->ListIndex(), 3);
  EXPECT_TRUE(TheRecording().Calls().empty());
  EXPECT_EQ(SavedPreferences(*w, PreferencesFilePath()), before);
}

}  // namespace
}  // namespace coretest
