// The main window's life: start-up through the accessor (instrument list,
// presets, button spacing), the three start-up failures, the close box, and
// writing the preferences once at quit.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "CoreTestFixture.h"
#include "DebugMessage.h"
#include "MyMidiClientZel.h"
#include "MyMidiPort.h"
#include "VirtualMidi.h"

namespace {

using Instruments = std::vector<std::pair<int32_t, std::string>>;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Counts the times a file of the given name is put in place in a folder: the
// framework writes a temporary file and then links or renames it there.
class WriteCounter {
 public:
  WriteCounter(const std::string& folder, std::string name) : name_(std::move(name)) {
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ >= 0 && inotify_add_watch(fd_, folder.c_str(), IN_CREATE | IN_MOVED_TO) < 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~WriteCounter() {
    if (fd_ >= 0) close(fd_);
  }
  bool Works() const { return fd_ >= 0; }
  int Count() {
    alignas(inotify_event) char buffer[8192];
    for (;;) {
      const ssize_t got = read(fd_, buffer, sizeof buffer);
      if (got <= 0) break;
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->len > 0 && name_ == event->name) ++count_;
        at += ssize_t(sizeof(inotify_event) + event->len);
      }
    }
    return count_;
  }

 private:
  int fd_ = -1;
  std::string name_;
  int count_ = 0;
};

class WindowLifeTest : public coretest::MidiCoreTest {
 protected:
  // The window as the start-up sequence makes it: through the accessor, which
  // raises Open.
  rb::Ref<Window1> Start(const Instruments& instruments) {
    coretest::TheRecording().SetInstruments(instruments);
    rb::Ref<Window1> w = Window1Accessor();
    windows_.push_back(w);
    return w;
  }

  std::vector<std::string> Rows(const rb::Ref<Window1>& w) const {
    std::vector<std::string> rows;
    for (int i = 0; i < w->InstrumentsList()->ListCount(); ++i)
      rows.push_back(w->InstrumentsList()->List(i).Bytes());
    return rows;
  }

  void WritePreferences(const std::string& text) const {
    std::filesystem::create_directories(std::filesystem::path(PreferencesFilePath()).parent_path());
    std::ofstream(PreferencesFilePath(), std::ios::binary) << text;
  }

  // A start-up failure quits the application; the runtime cannot be started
  // again in one process (ctest runs each test in its own).
  bool RuntimeAlreadyQuit() const { return rb::IsQuitting(); }
};

TEST_F(WindowLifeTest, StartUpFillsTheListSelectsTheDefaultBindsPresetsAndSpacesButtons) {
  rb::Ref<Window1> w = Start(coretest::SampleInstruments());
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(Rows(w), (std::vector<std::string>{"Banjo", "Cello", "E.Piano 1", "Flute", "Harp", "Jazz", "Oboe",
                                               "Organ 1", "Piano 1", "Violin"}));
  for (int i = 0; i < w->InstrumentsList()->ListCount(); ++i) {
    for (const auto& [id, name] : coretest::SampleInstruments())
      if (name == w->InstrumentsList()->List(i).Bytes()) {
        EXPECT_EQ(w->InstrumentsList()->RowTag(i).IntegerValue(), id);
      }
  }
  EXPECT_EQ(w->InstrumentsList()->Text().Bytes(), "Organ 1");
  const std::vector<std::string> presets = {"", "Organ 1", "Piano 1", "E.Piano 1", "Banjo", "Cello", "Jazz"};
  for (int k = 1; k <= 6; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(w->Preset(k)->HelpTag().Bytes(), presets[size_t(k)]);
    EXPECT_EQ(w->InstrumentsList()->List(w->PresetValues(k)).Bytes(), presets[size_t(k)]);
    EXPECT_TRUE(w->Preset(k)->Bold());
  }
  const std::vector<int> lefts = {27, 62, 97, 132, 167, 202};
  for (int k = 1; k <= 6; ++k) EXPECT_EQ(w->Preset(k)->Left(), lefts[size_t(k - 1)]) << k;
  ASSERT_TRUE(w->Client);
  ASSERT_TRUE(w->port);
  EXPECT_NE(w->port->Handle(), 0);
  EXPECT_EQ(w->Warnings()->Text().Bytes(), " No keyboard found");
  EXPECT_EQ(w->InputPlayer(), w->player.get());
  EXPECT_EQ(coretest::TheRecording().CallsOf("Init").size(), 1u);
}

// Every call the window's Open makes on the synthesizer, in order: the
// player is started, the stored tuning and volume go out, the instruments are
// collected (each name asked for by its ID) and only then is the default
// instrument selected.
TEST_F(WindowLifeTest, StartUpTalksToTheSynthesizerInItsOrder) {
  WritePreferences(
      "<Volume>90</Volume><Pitch>-3</Pitch><Transpose>-2</Transpose>"
      "<DefaultInstrumentName>Organ 1</DefaultInstrumentName>");
  rb::Ref<Window1> w = Start({{7, "Harp"}, {3, "Organ 1"}});
  std::vector<std::string> calls;
  for (const RecordedCall& c : coretest::TheRecording().Calls()) {
    std::string call = c.member;
    for (int32_t i = 0; i < c.argCount; ++i) {
      call += i == 0 ? ' ' : ',';
      call += std::to_string(c.args[i]);
    }
    calls.push_back(call);
  }
  // The five events of one registered-parameter value (2 coarse, 1 fine).
  auto tuning = [](int parameter, int value) {
    return std::vector<std::string>{"SendMidiEvent 176,101,0,0",
                                    "SendMidiEvent 176,100," + std::to_string(parameter) + ",0",
                                    "SendMidiEvent 176,6," + std::to_string(value) + ",0",
                                    "SendMidiEvent 176,101,127,0", "SendMidiEvent 176,100,127,0"};
  };
  std::vector<std::string> expected = {"Init"};
  for (const auto& part : {tuning(2, 66), tuning(2, 66), tuning(1, 3)})
    expected.insert(expected.end(), part.begin(), part.end());
  const std::vector<std::string> rest = {
      "SendMidiEvent 176,7,90,0",
      "InstrumentCount",
      "InstrumentID 0",
      "InstrumentName 7",
      "InstrumentID 1",
      "InstrumentName 3",
      "InstrumentIDOnChannel.Set 0,3",
  };
  expected.insert(expected.end(), rest.begin(), rest.end());
  EXPECT_EQ(calls, expected);
  EXPECT_TRUE(w->Preset(1)->Bold());
  EXPECT_TRUE(messages_.empty());
}

TEST_F(WindowLifeTest, TheInstrumentListFollowsTheSynthesizersNames) {
  struct Case {
    const char* what;
    Instruments instruments;
    std::vector<std::string> rows;
    std::vector<std::pair<std::string, int32_t>> tags;  // row text, expected ID
  };
  const std::vector<Case> cases = {
      {"names equal after trimming keep the lower index's ID",
       {{0x11, "Piano 1 "}, {0x22, " Piano 1"}, {0x33, "Cello"}, {0x44, "Piano 1"}},
       {"Cello", "Piano 1"},
       {{"Piano 1", 0x11}, {"Cello", 0x33}}},
      {"an empty name sorts first", {{5, "Harp"}, {6, "  "}, {7, "Banjo"}}, {"", "Banjo", "Harp"}, {{"", 6}}},
      {"a name unreadable by ID is empty", {{9, ""}, {8, "Oboe"}}, {"", "Oboe"}, {{"", 9}}},
      {"no instruments: an empty list", {}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    rb::Ref<Window1> w = Start(c.instruments);
    EXPECT_EQ(Rows(w), c.rows);
    for (const auto& [text, id] : c.tags) {
      for (int i = 0; i < w->InstrumentsList()->ListCount(); ++i)
        if (w->InstrumentsList()->List(i).Bytes() == text) {
          EXPECT_EQ(w->InstrumentsList()->RowTag(i).IntegerValue(), id);
        }
    }
    for (rb::Ref<Window1>& open : windows_) CloseQuietly(open);
    windows_.clear();
  }
}

TEST_F(WindowLifeTest, ADefaultNameThatIsNotListedSelectsNothingAndSendsNoInstrument) {
  rb::Ref<Window1> w = Start({{1, "Flute"}, {2, "Harp"}});
  EXPECT_EQ(w->InstrumentsList()->ListIndex(), -1);
  EXPECT_TRUE(coretest::TheRecording().CallsOf("InstrumentIDOnChannel.Set").empty());
  for (int k = 1; k <= 6; ++k) EXPECT_FALSE(w->Preset(k)->Bold()) << k;
}

TEST_F(WindowLifeTest, TwoPresetsWithOneNameBindOnlyTheLowerOne) {
  WritePreferences(
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<chimewickprefs version=\"1.0\">\n"
      "<DefaultInstrumentName>Harp</DefaultInstrumentName>\n"
      "<Preset1>Flute</Preset1>\n<Preset2>Harp</Preset2>\n<Preset3>Harp</Preset3>\n"
      "<Preset4>Tuba</Preset4>\n<Preset5></Preset5>\n<Preset6>Flute</Preset6>\n</chimewickprefs>\n");
  rb::Ref<Window1> w = Start({{1, "Flute"}, {2, "Harp"}});
  EXPECT_EQ(w->InstrumentsList()->Text().Bytes(), "Harp");
  EXPECT_EQ(w->Preset(1)->HelpTag().Bytes(), "Flute");
  EXPECT_EQ(w->PresetValues(1), 0);
  EXPECT_EQ(w->Preset(2)->HelpTag().Bytes(), "Harp");
  EXPECT_EQ(w->PresetValues(2), 1);
  for (int k : {3, 4, 5, 6}) {
    SCOPED_TRACE(k);
    EXPECT_EQ(w->Preset(k)->HelpTag().Bytes(), "");
    EXPECT_EQ(w->PresetValues(k), 0);
    EXPECT_FALSE(w->Preset(k)->Bold());
  }
}

TEST_F(WindowLifeTest, StartUpFailuresShowTheirMessageQuitAndLeaveThePreferencesAlone) {
  if (RuntimeAlreadyQuit())
    GTEST_SKIP() << "the runtime already quit in this process; run this test on its own";
  const std::string original =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<chimewickprefs version=\"1.0\">\n"
      "<Transpose>3</Transpose>\n<Volume>99</Volume>\n</chimewickprefs>\n";
  WritePreferences(original);
  // The synthesizer's SoundFont cannot be loaded.
  coretest::TheRecording().setInitResult(-10871);
  setenv("CHIMEWICK_SOUNDFONT", "/nonexistent/Font.sf2", 1);
  rb::Ref<Window1> w = Start(coretest::SampleInstruments());
  unsetenv("CHIMEWICK_SOUNDFONT");
  EXPECT_EQ(messages_, (std::vector<std::string>{"Chimewick could not start its synthesizer: the SoundFont "
                                                 "/nonexistent/Font.sf2 is missing or unreadable."}));
  EXPECT_TRUE(rb::IsQuitting());
  EXPECT_EQ(w->InstrumentsList()->ListCount(), 0);
  EXPECT_EQ(w->InputPlayer(), nullptr);
  // However the framework closes the window after that quit, no close writes.
  w->RaiseEvent<void>("Close");
  EXPECT_EQ(ReadFile(PreferencesFilePath()), original);
}

TEST_F(WindowLifeTest, NoPlayerObjectShowsCannotCreatePlayer) {
  if (RuntimeAlreadyQuit())
    GTEST_SKIP() << "the runtime already quit in this process; run this test on its own";
  const std::string original = "<Volume>12</Volume>\n";
  WritePreferences(original);
  rb::ResetPluginRegistryForTesting();  // no plug-in registers the class now
  _InitPluginEntrypoints();
  rb::Ref<Window1> w = Start(coretest::SampleInstruments());
  rb::LoadPlugin(CHIMEWICK_RECORDING_PLUGIN);
  _InitPluginEntrypoints();
  EXPECT_EQ(messages_, (std::vector<std::string>{"Cannot create player"}));
  EXPECT_FALSE(w->player);
  EXPECT_TRUE(rb::IsQuitting());
  w->RaiseEvent<void>("Close");
  EXPECT_EQ(ReadFile(PreferencesFilePath()), original);
}

TEST_F(WindowLifeTest, NoClientObjectShowsCouldNotCreateInput) {
  if (RuntimeAlreadyQuit())
    GTEST_SKIP() << "the runtime already quit in this process; run this test on its own";
  const std::string original = "<Volume>12</Volume>\n";
  WritePreferences(original);
  MyMidiClientZel::SetRefuseNewForTesting(true);
  rb::Ref<Window1> w = Start(coretest::SampleInstruments());
  EXPECT_EQ(messages_, (std::vector<std::string>{"Could not create input"}));
  EXPECT_FALSE(w->Client);
  EXPECT_FALSE(w->player);
  EXPECT_TRUE(rb::IsQuitting());
  w->RaiseEvent<void>("Close");
  EXPECT_EQ(ReadFile(PreferencesFilePath()), original);
}

// A quit that arrives while a start-up message shows (a logout, SIGTERM)
// ends the start-up there: the window closes without writing, and nothing
// makes a second window, MIDI client or synthesizer on the way out.
TEST_F(WindowLifeTest, ASigtermWhileAStartUpMessageShowsEndsStartUpWithOneWindow) {
  if (RuntimeAlreadyQuit())
    GTEST_SKIP() << "the runtime already quit in this process; run this test on its own";
  // A stored transposition would move a slider, whose handler reaches the
  // window through the accessor.
  const std::string original =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<chimewickprefs version=\"1.0\">\n"
      "<Transpose>3</Transpose>\n<Pitch>-5</Pitch>\n<Volume>99</Volume>\n</chimewickprefs>\n";
  WritePreferences(original);
  setenv("CHIMEWICK_MIDI", "none", 1);  // the client cannot start: a message shows
  rb::QuitOnTerminationSignals();
  // The box is up while the hook runs: the signal arrives, and the box's
  // event loop serves it, as a real box's would.
  rb::SetMsgBoxHook([this](const rb::String& text) {
    messages_.push_back(text.Bytes());
    if (messages_.size() != 1) return;
    ::kill(::getpid(), SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!rb::IsQuitting() && std::chrono::steady_clock::now() < deadline) rb::ProcessEvents(10);
  });
  rb::Ref<Window1> w = Start(coretest::SampleInstruments());

  EXPECT_TRUE(rb::IsQuitting());
  ASSERT_EQ(messages_.size(), 1u) << "no message after the quit began";
  EXPECT_EQ(messages_[0].rfind("Chimewick initialization failed: ", 0), 0u) << messages_[0];
  EXPECT_FALSE(w->IsOpen()) << "the quit closed the window";
  EXPECT_FALSE(rb::FindImplicitWindow("Window1.Window1")) << "no second main window is open";
  EXPECT_EQ(Window1Accessor(), w) << "the accessor makes no window once the quit began";
  EXPECT_TRUE(coretest::TheRecording().Calls().empty()) << "no synthesizer was made or started";
  EXPECT_EQ(ReadFile(PreferencesFilePath()), original);
}

// Once the quit began, the accessor makes no main window even when the one
// that closed is gone (finalisation released it): it gives nil.
TEST_F(WindowLifeTest, AfterTheQuitTheAccessorMakesNoWindowAlsoOnceTheMainWindowIsGone) {
  if (RuntimeAlreadyQuit())
    GTEST_SKIP() << "the runtime already quit in this process; run this test on its own";
  rb::Ref<Window1> w = Start(coretest::SampleInstruments());
  rb::Quit(0);
  ASSERT_TRUE(rb::IsQuitting());
  ASSERT_FALSE(w->IsOpen());
  Forget(w);
  w.reset();
  rb::ReleaseWindowLists();
  ASSERT_EQ(OpenWindow1(), nullptr);
  coretest::TheRecording().clear();

  EXPECT_FALSE(Window1Accessor());
  EXPECT_EQ(OpenWindow1(), nullptr) << "a new main window was made";
  EXPECT_FALSE(rb::FindImplicitWindow("Window1.Window1"));
  EXPECT_TRUE(coretest::TheRecording().Calls().empty()) << "a synthesizer was made on the way out";
}

TEST_F(WindowLifeTest, TheCloseBoxHidesTheWindowWhileMidiPlaysOn) {
  const int32_t source = VirtualMidi::AddSource("Hidden keyboard");
  rb::Ref<Window1> w = Start(coretest::SampleInstruments());
  WriteCounter writes(std::filesystem::path(PreferencesFilePath()).parent_path().string(), "Chimewick.prefs");
  EXPECT_FALSE(w->Close());
  EXPECT_TRUE(w->IsOpen());
  EXPECT_FALSE(w->Visible());

  coretest::TheRecording().clear();
  VirtualMidi::Send(source, {0x90, 0x40, 0x50});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (coretest::TheRecording().MidiEvents().empty() && std::chrono::steady_clock::now() < deadline)
    rb::ProcessEvents(5);
  EXPECT_EQ(coretest::TheRecording().MidiEvents(),
            (std::vector<std::vector<int32_t>>{{0x90, 0x40, 0x50, 0}}));
  EXPECT_FALSE(std::filesystem::exists(PreferencesFilePath()));
  if (writes.Works()) {
    EXPECT_EQ(writes.Count(), 0);
  }

  // What the application's Activate does.
  const int presetBefore = w->PresetValues(3);
  Window1Accessor()->SetVisible(true);
  EXPECT_EQ(Window1Accessor(), w);
  EXPECT_TRUE(w->Visible());
  EXPECT_EQ(w->PresetValues(3), presetBefore);
  EXPECT_EQ(w->InstrumentsList()->Text().Bytes(), "Organ 1");
}

TEST_F(WindowLifeTest, QuittingWritesThePreferencesExactlyOnce) {
  if (RuntimeAlreadyQuit())
    GTEST_SKIP() << "the runtime already quit in this process; run this test on its own";
  rb::Ref<Window1> w = Start(coretest::SampleInstruments());
  w->TransposeSlider()->SetValue(-2);
  w->Volume = 77;
  WriteCounter writes(std::filesystem::path(PreferencesFilePath()).parent_path().string(), "Chimewick.prefs");
  rb::Quit(0);
  EXPECT_FALSE(w->IsOpen());
  const std::string saved = ReadFile(PreferencesFilePath());
  EXPECT_NE(saved.find("<Transpose>-2</Transpose>"), std::string::npos) << saved;
  EXPECT_NE(saved.find("<Volume>77</Volume>"), std::string::npos) << saved;
  EXPECT_NE(saved.find("<DefaultInstrumentName>Organ 1</DefaultInstrumentName>"), std::string::npos) << saved;
  // A second close of the same window (the framework's or anyone's) writes nothing more.
  w->RaiseEvent<void>("Close");
  if (!writes.Works()) GTEST_SKIP() << "inotify is not available to count the writes";
  EXPECT_EQ(writes.Count(), 1);
}

TEST_F(WindowLifeTest, TheMouseWheelOverTheWindowChangesNothing) {
  rb::Ref<Window1> w = Start(coretest::SampleInstruments());
  const int32_t row = w->InstrumentsList()->ListIndex();
  coretest::TheRecording().clear();
  EXPECT_FALSE(w->RaiseEvent<bool>("MouseWheel", 10, 200, 0, 3));
  EXPECT_EQ(w->InstrumentsList()->ListIndex(), row);
  EXPECT_TRUE(coretest::TheRecording().Calls().empty());
}

}  // namespace
