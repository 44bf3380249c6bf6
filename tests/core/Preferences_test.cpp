// The preferences file: the thirteen lines the writer makes, what the reader
// takes back (limits, letter case, first element, empty elements), and
// files from outside that must never crash the reader.
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include "CoreTestFixture.h"
#include "UnprivilegedUser.h"
#include "rb/RegEx.h"
#include "rb/Text.h"

namespace coretest {
namespace {

class PreferencesTest : public CoreTest {
 protected:
  void WriteFile(const std::string& bytes) {
    std::ofstream out(PreferencesFilePath(), std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  std::string ReadFile() const {
    std::ifstream in(PreferencesFilePath(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  bool FileExists() const { return std::filesystem::exists(PreferencesFilePath()); }

  // A window as its Open leaves it just before reading: the built-in preset
  // names in place.
  rb::Ref<Window1> WindowReadyToRead() {
    rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
    w->PresetInstrument = {"", "Organ 1", "Piano 1", "E.Piano 1", "Banjo", "Cello", "Jazz"};
    TheRecording().clear();
    return w;
  }

  // The controller-7 events sent.
  static std::vector<int32_t> VolumesSent() {
    std::vector<int32_t> volumes;
    for (const auto& e : TheRecording().MidiEvents())
      if (e[0] == 176 && e[1] == 7) volumes.push_back(e[2]);
    return volumes;
  }
};

std::string Element(const std::string& key, const std::string& value) {
  return "<" + key + ">" + value + "</" + key + ">";
}

TEST_F(PreferencesTest, WritesTheThirteenLines) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  w->TransposeSlider()->SetValue(-2);
  w->PitchSlider()->SetValue(20);
  w->InstrumentsList()->SetListIndex(8);
  w->SetPreset(4, 1, "Cello");
  w->SetPreset(6, 5, "A&B <odd>");
  w->Volume = 100;
  w->SavePreferences();
  EXPECT_EQ(ReadFile(),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
            "<chimewickprefs version=\"1.0\">\n"
            "<Transpose>-2</Transpose>\n"
            "<Pitch>20</Pitch>\n"
            "<DefaultInstrumentName>Piano 1</DefaultInstrumentName>\n"
            "<Preset1></Preset1>\n"
            "<Preset2></Preset2>\n"
            "<Preset3></Preset3>\n"
            "<Preset4>Cello</Preset4>\n"
            "<Preset5></Preset5>\n"
            "<Preset6>A&B <odd></Preset6>\n"
            "<Volume>100</Volume>\n"
            "</chimewickprefs>\n");
  EXPECT_TRUE(messages_.empty());
}

TEST_F(PreferencesTest, RoundTripRestoresSlidersInstrumentPresetsAndVolume) {
  const char* presets[] = {"Banjo", "Cello", "Flute", "Harp", "Oboe", "Violin"};
  const int rows[] = {0, 1, 3, 4, 6, 9};
  {
    rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
    w->TransposeSlider()->SetValue(-5);
    w->PitchSlider()->SetValue(20);
    w->InstrumentsList()->SetListIndex(8);
    for (int k = 1; k <= 6; ++k) w->SetPreset(k, rows[k - 1], presets[k - 1]);
    w->Volume = 100;
    w->SavePreferences();
    Forget(w);
    CloseQuietly(w);
  }
  rb::Ref<Window1> w = WindowReadyToRead();
  w->ReadPreferences();
  EXPECT_EQ(w->TransposeSlider()->Value(), -5);
  EXPECT_EQ(w->PitchSlider()->Value(), 20);
  EXPECT_EQ(w->Key()->Text().Bytes(), "F");
  EXPECT_EQ(w->DefaultInstrumentName.Bytes(), "Piano 1");
  for (int k = 1; k <= 6; ++k) EXPECT_EQ(w->PresetInstrument(k).Bytes(), presets[k - 1]);
  EXPECT_EQ(w->Volume.load(), 100);
  EXPECT_EQ(VolumesSent(), std::vector<int32_t>{100});
  // The tuning went out through the sliders: the last data entries are
  // coarse 68 (64 + 5 - 1, the pitch being negative) and fine 44 (64 - 20).
  std::vector<int32_t> entries;
  for (const auto& e : TheRecording().MidiEvents())
    if (e[1] == 6) entries.push_back(e[2]);
  ASSERT_GE(entries.size(), 2u);
  EXPECT_EQ(entries[entries.size() - 2], 68);
  EXPECT_EQ(entries.back(), 44);
  // Reading selects no instrument and binds no preset.
  EXPECT_TRUE(TheRecording().CallsOf("InstrumentIDOnChannel.Set").empty());
  for (int k = 1; k <= 6; ++k) EXPECT_FALSE(w->Preset(k)->Bold());
}

TEST_F(PreferencesTest, NextStartThroughTheWindowsOpenRestoresEverything) {
  TheRecording().SetInstruments(SampleInstruments());
  WriteFile(
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<chimewickprefs version=\"1.0\">\n"
      "<Transpose>-5</Transpose>\n<Pitch>20</Pitch>\n<DefaultInstrumentName>Piano 1</DefaultInstrumentName>\n"
      "<Preset1>Banjo</Preset1>\n<Preset2>Cello</Preset2>\n<Preset3>Flute</Preset3>\n<Preset4>Harp</"
      "Preset4>\n"
      "<Preset5>Oboe</Preset5>\n<Preset6>Violin</Preset6>\n<Volume>100</Volume>\n</chimewickprefs>\n");
  const std::string written = ReadFile();
  rb::Ref<Window1> w = Window1Accessor();
  windows_.push_back(w);
  EXPECT_EQ(w->TransposeSlider()->Value(), -5);
  EXPECT_EQ(w->PitchSlider()->Value(), 20);
  EXPECT_EQ(w->InstrumentsList()->Text().Bytes(), "Piano 1");
  const char* presets[] = {"Banjo", "Cello", "Flute", "Harp", "Oboe", "Violin"};
  for (int k = 1; k <= 6; ++k) {
    EXPECT_EQ(w->Preset(k)->HelpTag().Bytes(), presets[k - 1]);
    EXPECT_TRUE(w->Preset(k)->Bold());
  }
  EXPECT_EQ(VolumesSent(), std::vector<int32_t>{100});
  w->SavePreferences();
  EXPECT_EQ(ReadFile(), written);
}

TEST_F(PreferencesTest, StoredPresetNameThatNamesNoInstrumentIsWrittenBackEmpty) {
  TheRecording().SetInstruments(SampleInstruments());
  WriteFile(Element("Preset3", "Theremin") + Element("DefaultInstrumentName", "Kazoo"));
  rb::Ref<Window1> w = Window1Accessor();
  windows_.push_back(w);
  EXPECT_EQ(w->Preset(3)->HelpTag().Bytes(), "");
  EXPECT_FALSE(w->Preset(3)->Bold());
  EXPECT_EQ(w->InstrumentsList()->ListIndex(), -1);
  w->SavePreferences();
  EXPECT_NE(ReadFile().find("\n<Preset3></Preset3>\n"), std::string::npos);
  EXPECT_NE(ReadFile().find("\n<DefaultInstrumentName></DefaultInstrumentName>\n"), std::string::npos);
}

struct LimitCase {
  const char* transpose;
  const char* pitch;
  int32_t transposeValue;
  int32_t pitchValue;
};

TEST_F(PreferencesTest, SliderValuesAreBroughtToTheirLimits) {
  const LimitCase cases[] = {
      {"15", "64", 11, 63},         {"-20", "-64", -11, -63},    {"11", "63", 11, 63},
      {"-11", "-63", -11, -63},     {"3.7", "-2.9", 3, -2},      {"99999999999999999999", "-1e300", 11, -63},
      {"1e400", "-1e400", 11, -63}, {"&hFF", "  12abc", 11, 12},
  };
  for (const LimitCase& c : cases) {
    SCOPED_TRACE(std::string(c.transpose) + " / " + c.pitch);
    WriteFile(Element("Transpose", c.transpose) + Element("Pitch", c.pitch));
    rb::Ref<Window1> w = WindowReadyToRead();
    w->ReadPreferences();
    EXPECT_EQ(w->TransposeSlider()->Value(), c.transposeValue);
    EXPECT_EQ(w->PitchSlider()->Value(), c.pitchValue);
    Forget(w);
    CloseQuietly(w);
  }
}

TEST_F(PreferencesTest, PitchAtTheSlidersEndIsWrittenAsIsAndReadBackOneStepIn) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  w->PitchSlider()->SetValue(64);
  w->SavePreferences();
  EXPECT_NE(ReadFile().find("<Pitch>64</Pitch>"), std::string::npos);
  w->ReadPreferences();
  EXPECT_EQ(w->PitchSlider()->Value(), 63);
}

TEST_F(PreferencesTest, VolumeIsTakenWithoutLimitSentAndWrittenBack) {
  struct VolumeCase {
    const char* text;
    int32_t volume;
  };
  const VolumeCase cases[] = {
      {"300", 300}, {"-5", -5}, {"xyz", 0}, {"", 0}, {"1e30", 2147483647}, {"-1e30", -2147483648}, {"nan", 0},
  };
  for (const VolumeCase& c : cases) {
    SCOPED_TRACE(c.text);
    WriteFile(Element("Volume", c.text));
    rb::Ref<Window1> w = WindowReadyToRead();
    w->ReadPreferences();
    EXPECT_EQ(w->Volume.load(), c.volume);
    EXPECT_EQ(VolumesSent(), std::vector<int32_t>{c.volume});
    w->SavePreferences();
    EXPECT_NE(ReadFile().find("<Volume>" + std::to_string(c.volume) + "</Volume>"), std::string::npos);
    Forget(w);
    CloseQuietly(w);
  }
}

TEST_F(PreferencesTest, KeysMatchInAnyLetterCase) {
  WriteFile("<transpose>3</TRANSPOSE>\n<PITCH>-7</pitch><defaultinstrumentname>Harp</DefaultInstrumentNAME>");
  rb::Ref<Window1> w = WindowReadyToRead();
  w->ReadPreferences();
  EXPECT_EQ(w->TransposeSlider()->Value(), 3);
  EXPECT_EQ(w->PitchSlider()->Value(), -7);
  EXPECT_EQ(w->DefaultInstrumentName.Bytes(), "Harp");
}

TEST_F(PreferencesTest, ValueAcrossTwoLinesIsReadWithItsLineEnd) {
  WriteFile("<Preset3>Grand\nPiano</Preset3>\n<DefaultInstrumentName>a\r\nb</DefaultInstrumentName>");
  rb::Ref<Window1> w = WindowReadyToRead();
  w->ReadPreferences();
  EXPECT_EQ(w->PresetInstrument(3).Bytes(), "Grand\nPiano");
  EXPECT_EQ(w->DefaultInstrumentName.Bytes(), "a\r\nb");
}

TEST_F(PreferencesTest, FirstOfTwoElementsCountsAndValueEndsAtTheFirstClosingTag) {
  WriteFile("<Preset2>Cello</Preset2><Preset2>Harp</Preset2><Preset5>x</Preset5>y</Preset5>");
  rb::Ref<Window1> w = WindowReadyToRead();
  w->ReadPreferences();
  EXPECT_EQ(w->PresetInstrument(2).Bytes(), "Cello");
  EXPECT_EQ(w->PresetInstrument(5).Bytes(), "x");
}

TEST_F(PreferencesTest, NamesAreTakenLiterallyWithoutTrimmingOrUnescaping) {
  WriteFile(Element("Preset1", "  Piano 1 ") + Element("Preset4", "&amp;<b>") + Element("Preset6", "É€"));
  rb::Ref<Window1> w = WindowReadyToRead();
  w->ReadPreferences();
  EXPECT_EQ(w->PresetInstrument(1).Bytes(), "  Piano 1 ");
  EXPECT_EQ(w->PresetInstrument(4).Bytes(), "&amp;<b>");
  EXPECT_EQ(w->PresetInstrument(6).Bytes(), "É€");
}

TEST_F(PreferencesTest, EmptyFileOrNoKnownElementAppliesNothing) {
  for (const std::string& text : {std::string(), std::string("<?xml version=\"1.0\"?>\n<other>5</other>\n"),
                                  std::string("<Transpose>3"), std::string("Transpose>3</Transpose")}) {
    SCOPED_TRACE(text);
    WriteFile(text);
    rb::Ref<Window1> w = WindowReadyToRead();
    w->TransposeSlider()->SetValue(-4);
    TheRecording().clear();
    w->ReadPreferences();
    EXPECT_EQ(w->TransposeSlider()->Value(), -4);
    EXPECT_EQ(w->DefaultInstrumentName.Bytes(), "Organ 1");
    EXPECT_EQ(w->PresetInstrument(2).Bytes(), "Piano 1");
    EXPECT_EQ(w->Volume.load(), 64);
    EXPECT_TRUE(TheRecording().Calls().empty());
    Forget(w);
    CloseQuietly(w);
  }
}

TEST_F(PreferencesTest, NoFileAppliesNothingAndShowsNothing) {
  rb::Ref<Window1> w = WindowReadyToRead();
  w->ReadPreferences();
  EXPECT_EQ(w->Volume.load(), 64);
  EXPECT_TRUE(TheRecording().Calls().empty());
  EXPECT_TRUE(messages_.empty());
  EXPECT_FALSE(FileExists());
}

// An element that is there but empty counts as found: a text target becomes
// empty, a number target 0.
TEST_F(PreferencesTest, EmptyElementCountsAsFound) {
  WriteFile(Element("Transpose", "") + Element("DefaultInstrumentName", "") + Element("Preset3", ""));
  rb::Ref<Window1> w = WindowReadyToRead();
  w->TransposeSlider()->SetValue(-6);
  w->ReadPreferences();
  EXPECT_EQ(w->TransposeSlider()->Value(), 0);
  EXPECT_EQ(w->DefaultInstrumentName.Bytes(), "");
  EXPECT_EQ(w->PresetInstrument(3).Bytes(), "");
  EXPECT_EQ(w->PresetInstrument(2).Bytes(), "Piano 1");
}

TEST_F(PreferencesTest, GarbageNumbersReadAsZero) {
  WriteFile(Element("Transpose", "abc") + Element("Pitch", "--3") + Element("Volume", "loud"));
  rb::Ref<Window1> w = WindowReadyToRead();
  w->TransposeSlider()->SetValue(5);
  w->PitchSlider()->SetValue(9);
  TheRecording().clear();
  w->ReadPreferences();
  EXPECT_EQ(w->TransposeSlider()->Value(), 0);
  EXPECT_EQ(w->PitchSlider()->Value(), 0);
  EXPECT_EQ(w->Volume.load(), 0);
  EXPECT_EQ(VolumesSent(), std::vector<int32_t>{0});
}

TEST_F(PreferencesTest, TwoWritesGiveTheSameBytes) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  w->TransposeSlider()->SetValue(7);
  w->InstrumentsList()->SetListIndex(2);
  w->SetPreset(3, 2, "E.Piano 1");
  w->SavePreferences();
  const std::string first = ReadFile();
  w->SavePreferences();
  EXPECT_EQ(ReadFile(), first);
  // And reading it back and writing again changes nothing either.
  w->ReadPreferences();
  w->SavePreferences();
  EXPECT_EQ(ReadFile(), first);
}

TEST_F(PreferencesTest, IniPutAndIniGetAreInverse) {
  rb::Ref<Window1> w = MakeWindowBeforeOpen();
  EXPECT_EQ(w->IniPut("Pitch", -12).StringValue().Bytes(), "<Pitch>-12</Pitch>");
  EXPECT_EQ(w->IniPut("Preset4", rb::String("Cello")).StringValue().Bytes(), "<Preset4>Cello</Preset4>");
  EXPECT_EQ(w->IniPut("Preset4", rb::String("")).StringValue().Bytes(), "<Preset4></Preset4>");
  EXPECT_TRUE(w->IniGet("Pitch", "<Pitch>").IsNil());
  EXPECT_TRUE(w->IniGet("Pitch", "").IsNil());
  EXPECT_EQ(w->IniGet("Pitch", "x<Pitch>-12</Pitch>y").StringValue().Bytes(), "-12");
  const rb::Variant empty = w->IniGet("Pitch", "<Pitch></Pitch>");
  EXPECT_FALSE(empty.IsNil());
  EXPECT_EQ(empty.StringValue().Bytes(), "");
  // An unclosed element before a closed one: the value runs to the first
  // closing tag.
  EXPECT_EQ(w->IniGet("Pitch", "<Pitch>1<Pitch>2</Pitch>").StringValue().Bytes(), "1<Pitch>2");
}

TEST_F(PreferencesTest, UnwritableFolderWritesNothingShowsNothingAndDoesNotCrash) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  // The file's place is taken by a folder: the file cannot be made.
  std::filesystem::create_directories(PreferencesFilePath());
  w->SavePreferences();
  EXPECT_TRUE(std::filesystem::is_directory(PreferencesFilePath()));
  w->ReadPreferences();
  std::filesystem::remove(PreferencesFilePath());
  // The preferences folder itself cannot be had: its place is a file.
  const std::string blocked = configFolder_ + "/blocked";
  std::ofstream(blocked) << "a file";
  const chimewick_test::ScopedEnvironment configHome("XDG_CONFIG_HOME", blocked + "/config");
  w->SavePreferences();
  w->ReadPreferences();
  EXPECT_FALSE(std::filesystem::exists(blocked + "/config"));
  EXPECT_FALSE(std::filesystem::exists(configFolder_ + "/Chimewick.prefs"));
  EXPECT_TRUE(messages_.empty());
  EXPECT_TRUE(TheRecording().Calls().empty());
}

// A read-only folder: no file can be made there, but a writable file in it
// takes the new settings where it stands. Run as nobody where the tests run
// as root, since permissions do not stop root.
TEST_F(PreferencesTest, ReadOnlyFolderWritesNothingWhenPermissionsApply) {
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  ASSERT_TRUE(chimewick_test::GiveToNobody(configFolder_));
  std::filesystem::permissions(configFolder_,
                               std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  {
    chimewick_test::AsNobody nobody;
    ASSERT_TRUE(nobody.ok());
    w->SavePreferences();
  }
  std::filesystem::permissions(configFolder_, std::filesystem::perms::owner_all);
  EXPECT_FALSE(FileExists());
  EXPECT_TRUE(messages_.empty());
}

TEST_F(PreferencesTest, ReadOnlyFolderWithAWritableFileKeepsTheNewSettings) {
  WriteFile(Element("Transpose", "-5") + Element("Volume", "100"));
  rb::Ref<Window1> w = MakeWindowWithSampleInstruments();
  w->TransposeSlider()->SetValue(7);
  ASSERT_TRUE(chimewick_test::GiveToNobody(configFolder_) &&
              chimewick_test::GiveToNobody(PreferencesFilePath()));
  std::filesystem::permissions(configFolder_,
                               std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  testing::internal::CaptureStderr();
  {
    chimewick_test::AsNobody nobody;
    ASSERT_TRUE(nobody.ok());
    w->SavePreferences();
  }
  const std::string errors = testing::internal::GetCapturedStderr();
  std::filesystem::permissions(configFolder_, std::filesystem::perms::owner_all);
  EXPECT_NE(ReadFile().find("\n<Transpose>7</Transpose>\n"), std::string::npos) << ReadFile();
  EXPECT_NE(ReadFile().find("\n<Volume>64</Volume>\n"), std::string::npos) << ReadFile();
  EXPECT_NE(errors.find("written in place"), std::string::npos) << errors;
  EXPECT_TRUE(messages_.empty());
}

// Keeps the sliders and fields in their ranges whatever the reader found.
void ExpectSane(Window1& w) {
  EXPECT_GE(w.TransposeSlider()->Value(), -11);
  EXPECT_LE(w.TransposeSlider()->Value(), 11);
  EXPECT_GE(w.PitchSlider()->Value(), -63);
  EXPECT_LE(w.PitchSlider()->Value(), 63);
  EXPECT_EQ(w.PresetInstrument.Count(), 7);
}

TEST_F(PreferencesTest, RandomFilesNeverCrashTheReader) {
  std::mt19937 random(20261208);
  const std::vector<std::string> pieces = {
      "<Transpose>",
      "</Transpose>",
      "<Pitch>",
      "</Pitch>",
      "<Volume>",
      "</Volume>",
      "<Preset1>",
      "</Preset1>",
      "<DefaultInstrumentName>",
      "</DefaultInstrumentName>",
      "-",
      "9",
      "1e99",
      "\n",
      "\r",
      "<",
      ">",
      "/",
      "\xff",
      std::string("\0", 1),
      "\xc3",
      "&h",
      ".",
      "E",
  };
  rb::Ref<Window1> w = WindowReadyToRead();
  for (int round = 0; round < 300; ++round) {
    std::string text;
    const int length = int(random() % 200);
    for (int i = 0; i < length; ++i) {
      if (random() % 3 == 0)
        text += char(random() % 256);
      else
        text += pieces[random() % pieces.size()];
    }
    WriteFile(text);
    w->ReadPreferences();
    ExpectSane(*w);
  }
}

TEST_F(PreferencesTest, LargeBinaryFileWithHugeNumbersIsReadWithoutHarm) {
  std::mt19937_64 random(7);
  std::string text(10 * 1024 * 1024, '\0');
  for (size_t i = 0; i < text.size(); i += 8) {
    const uint64_t bytes = random();
    std::memcpy(&text[i], &bytes, 8);
  }
  // Elements with numbers far outside 32 bits, buried in the middle.
  const std::string elements = Element("Transpose", "-123456789012345678901234567890") +
                               Element("Pitch", "98765432109876543210") +
                               Element("Volume", "-99999999999999999999");
  text.replace(text.size() / 2, elements.size(), elements);
  WriteFile(text);
  rb::Ref<Window1> w = WindowReadyToRead();
  w->ReadPreferences();
  ExpectSane(*w);
  EXPECT_EQ(w->Volume.load(), -2147483648);
}

TEST_F(PreferencesTest, ManyUnclosedTagsAreReadInOnePass) {
  // Ten megabytes of opening tags and no closing one: found nothing.
  const std::string tags = "<Transpose><pitch>";
  std::string text;
  text.reserve(10 * 1024 * 1024 + tags.size());
  while (text.size() < 10 * 1024 * 1024) text.append(tags);
  WriteFile(text + "<Volume>9</Volume>");
  rb::Ref<Window1> w = WindowReadyToRead();
  w->TransposeSlider()->SetValue(2);
  w->ReadPreferences();
  EXPECT_EQ(w->TransposeSlider()->Value(), 2);
  EXPECT_EQ(w->Volume.load(), 9);
}

// The lookup skips what lies after the last closing tag of its key; that
// must never change what it finds. Compared here with the plain search over
// the whole text, on texts made of tag pieces in any letter case.
TEST_F(PreferencesTest, LookupFindsWhatASearchOfTheWholeTextFinds) {
  const std::vector<std::string> pieces = {
      "<Pitch>",   "</Pitch>", "<pitch>", "</PITCH>", "</Pitc", "h>", "<",       "/",      ">",
      "</Volume>", "<Volume>", "7",       "-3",       "\n",     "x",  "</Pitch", "<Pitch", "</pItCh>",
  };
  rb::Ref<Window1> w = MakeWindowBeforeOpen();
  std::mt19937 random(20261208);
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    for (size_t n = random() % 12; n > 0; --n) text += pieces[random() % pieces.size()];
    for (const char* key : {"Pitch", "Volume"}) {
      rb::Ref<rb::RegEx> whole = rb::New<rb::RegEx>();
      whole->Options.CaseSensitive = false;
      whole->Options.DotMatchAll = true;
      whole->Options.Greedy = false;
      whole->SearchPattern = std::string("<") + key + ">(.*)</" + key + ">";
      rb::Ref<rb::RegExMatch> expected = whole->Search(text);
      const rb::Variant found = w->IniGet(key, text);
      ASSERT_EQ(found.IsNil(), !expected) << key << " in " << text;
      if (expected) {
        ASSERT_EQ(found.StringValue().Bytes(), expected->SubExpressionString(1).Bytes())
            << key << " in " << text;
      }
    }
  }
}

}  // namespace
}  // namespace coretest
