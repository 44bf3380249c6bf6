#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <QThread>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "FileTypes.h"
#include "MenuBar1.h"
#include "PlaybackEntrypoints.h"
#include "ProcessLife.h"
#include "ProjectPictures.h"
#include "Resources.h"
#include "ShellTestSupport.h"
#include "TemporaryFolder.h"
#include "rb/Controls.h"
#include "rb/PluginHost.h"
#include "rb/Runtime.h"
#include "rb/Window.h"

namespace {

const char* const kPlaybackEntryNames[] = {
    "MidiPlaybackZel.__exit",
    "MidiPlaybackZel.Callback as integer",
    "MidiPlaybackZel.Init as boolean",
    "MidiPlaybackZel.SendMidiEvent(Status as integer, Data1 as integer, Data2 as integer, OffsetSampleFrame "
    "as integer)",
    "MidiPlaybackZel.InstrumentCount as integer",
    "MidiPlaybackZel.InstrumentID(index as integer) as integer",
    "MidiPlaybackZel.InstrumentName(index as integer) as string",
    "MidiPlaybackZel.CPULoad as single",
    "MidiPlaybackZel.InstrumentIDOnChannel(Channel as integer) as integer",
    "MidiPlaybackZel.InstrumentIDOnChannel(Channel as integer) as integer.Set",
};

bool LoadRealPlugin() {
  const std::string path = rb::DefaultPluginFolder() + "/PlaybackPlugin.so";
  return std::filesystem::exists(path) && rb::LoadPlugin(path);
}

TEST(StartUp, TheEntryTableBindsAllTenPlaybackNames) {
  if (!LoadRealPlugin()) GTEST_SKIP() << "the playback plug-in is not built";
  _InitPluginEntrypoints();
  auto& table = PluginEntrypoints();
  ASSERT_EQ(table.Size(), std::size(kPlaybackEntryNames));
  for (size_t i = 0; i < table.Size(); ++i) {
    EXPECT_EQ(table.Name(i), kPlaybackEntryNames[i]);
    EXPECT_TRUE(table.IsBound(i)) << kPlaybackEntryNames[i];
  }
}

// The playback class record as a host built elsewhere reads it: plain words
// at their indexes (pointer-sized on this build), with the values the record
// format gives, never through the plug-in's own declaration of the record.
TEST(StartUp, ThePlaybackClassRecordHoldsItsValuesAtTheirWordIndexes) {
  if (!LoadRealPlugin()) GTEST_SKIP() << "the playback plug-in is not built";
  const auto* words = reinterpret_cast<const uintptr_t*>(rb::FindPluginClass("MidiPlaybackZel"));
  ASSERT_NE(words, nullptr);
  const auto text = [](uintptr_t word) {
    return word == 0 ? std::string("(none)") : std::string(reinterpret_cast<const char*>(word));
  };
  const auto entry = [](const std::string& name) {
    return reinterpret_cast<uintptr_t>(
        rb::RuntimeLookupPluginEntrypoint(("MidiPlaybackZel." + name).c_str()));
  };
  EXPECT_EQ(words[0], 9u) << "record version";
  EXPECT_EQ(text(words[1]), "MidiPlaybackZel");
  EXPECT_EQ(words[2], 0u) << "no superclass";
  EXPECT_EQ(words[3], 92u) << "instance data size";
  EXPECT_NE(words[4], 0u) << "the host wrote the instance data offset";
  EXPECT_EQ(words[5], 0u) << "no constructor";
  EXPECT_NE(words[6], 0u);
  EXPECT_EQ(words[6], entry("__exit")) << "the destructor";
  EXPECT_EQ(words[8], 2u) << "property count";
  EXPECT_EQ(words[10], 8u) << "method count";
  for (int i = 11; i <= 19; ++i) EXPECT_EQ(words[i], 0u) << "word " << i;
  EXPECT_EQ(words[20], 4u) << "class flags";
  for (int i = 21; i <= 31; ++i) EXPECT_EQ(words[i], 0u) << "word " << i;

  // Method entries of four words: function, setter, declaration, flags.
  const auto* methods = reinterpret_cast<const uintptr_t*>(words[9]);
  ASSERT_NE(methods, nullptr);
  for (size_t i = 0; i < 8; ++i) {
    const uintptr_t* m = methods + 4 * i;
    const std::string declaration = text(m[2]);
    EXPECT_EQ("MidiPlaybackZel." + declaration, kPlaybackEntryNames[i + 1]) << "entry " << i;
    EXPECT_EQ(m[0], entry(declaration)) << declaration;
    EXPECT_EQ(m[1], i == 7 ? entry(declaration + ".Set") : 0u) << declaration;
    EXPECT_EQ(m[3], 4u) << declaration;
  }
  // Property entries of ten words: group, name, type, flags, getter, setter,
  // field offset and three zeros.
  const auto* properties = reinterpret_cast<const uintptr_t*>(words[7]);
  ASSERT_NE(properties, nullptr);
  const struct {
    const char* name;
    uintptr_t offset;
  } expected[] = {{"Handle", 0}, {"Lasterror", 4}};
  for (size_t i = 0; i < 2; ++i) {
    const uintptr_t* p = properties + 10 * i;
    EXPECT_EQ(p[0], 0u) << "no group";
    EXPECT_EQ(text(p[1]), expected[i].name);
    EXPECT_EQ(text(p[2]), "Integer");
    EXPECT_EQ(p[3], 6u) << expected[i].name;
    EXPECT_EQ(p[4], ~uintptr_t{0}) << "getter -1: the host reads the field";
    EXPECT_EQ(p[5], 0u) << "read-only";
    EXPECT_EQ(p[6], expected[i].offset);
    EXPECT_EQ(p[7] | p[8] | p[9], 0u);
  }
}

TEST(StartUp, OneChangedCharacterLeavesTheEntryUnboundAndItsCallFailsInOrder) {
  if (!LoadRealPlugin()) GTEST_SKIP() << "the playback plug-in is not built";
  struct Case {
    const char* name;
  };
  const Case changed[] = {
      {"MidiPlaybackZel.Init as Boolean"},
      {"MidiPlaybackZel.InstrumentName(Index as integer) as string"},
      {"MidiPlaybackZel.SendMidiEvent(Status as integer, Data1 as integer, Data2 as integer, "
       "OffsetSampleFrame as integer) "},
      {"MidiPlaybackZel.InstrumentIDOnChannel(Channel as integer) as integer.set"},
      {"midiPlaybackZel.__exit"}};
  for (const auto& c : changed) {
    rb::PluginEntrypointTable table({c.name});
    table.Bind();
    EXPECT_FALSE(table.IsBound(0)) << c.name;
    EXPECT_THROW(table.Entry(0), rb::UnboundEntrypointException) << c.name;
  }
}

// Finalisation as it really happens: a probe bound to each object that
// finalisation releases records the object's label when the object goes. A
// window held only by the list of implicit windows and one held only by the
// list of windows show when each list goes.
std::vector<std::string> FinaliseWatched() {
  auto order = std::make_shared<std::vector<std::string>>();
  struct Probe {
    std::shared_ptr<std::vector<std::string>> order;
    std::string label;
    ~Probe() { order->push_back(label); }
  };
  const auto watch = [&](rb::Object& object, const char* label) {
    auto probe = std::make_shared<Probe>(order, label);
    object.SetHandler<void()>("ReleaseProbe", [probe] {});
  };
  chimewick::InitResources();
  watch(*ambersolid48kb(), "ambersolid48kb");
  watch(*mask48(), "mask48");
  auto implicitOnly = rb::New<rb::Window>();
  rb::RegisterImplicitWindow("ReleaseProbe.Window", implicitOnly);
  watch(*implicitOnly, "implicit windows");
  implicitOnly.reset();
  auto openOnly = rb::New<rb::Window>();
  openOnly->Construct();
  watch(*openOnly, "windows");
  openOnly.reset();
  watch(*FileTypes(), "FileTypes");
  watch(*MenuBar1Accessor(), "MenuBar1");
  // Other holders let go first: the application object (of the menubar)
  // and the main window's canvas (of the icon).
  rb::RuntimeRegisterAppObject(nullptr);
  if (auto main = rb::FindImplicitWindow("Window1.Window1"))
    main->Find<rb::Canvas>("Canvas1")->SetBackdrop(nullptr);

  Finalise();
  return *order;
}

const std::vector<std::string> kFinalisationOrder = {"ambersolid48kb", "mask48",    "implicit windows",
                                                     "windows",        "FileTypes", "MenuBar1"};

TEST(StartUp, AnExceptionThrownInsideTheEventLoopReachesTheHandlerAndFinalisationReleasesInOrder) {
  const rb::Ref<rb::Application> shellApp = rb::RuntimeApp();
  std::vector<std::string> steps;
  bool thrownInsideTheLoop = false;
  SetProcessLifeObserverForTesting([&](std::string_view step) {
    steps.emplace_back(step);
    if (step != "RuntimeRun") return;
    rb::PostToEventLoop([&] {
      thrownInsideTheLoop = QThread::currentThread()->loopLevel() > 0;
      throw rb::RuntimeException("escaped from the event loop");
    });
  });
  ShownMessages().clear();
  _Main();
  SetProcessLifeObserverForTesting(nullptr);

  EXPECT_TRUE(thrownInsideTheLoop) << "the exception came from a handler the running loop called";
  ASSERT_EQ(ShownMessages().size(), 1u) << "the unhandled-exception handler shows the message";
  EXPECT_NE(ShownMessages().back().find("escaped from the event loop"), std::string::npos);
  const std::vector<std::string> started = {
      "RuntimeInitExternalClasses",  "_InitPluginEntrypoints", "_InitFileTypes", "_NewAppInstance",
      "_ApplicationAddMenuHandlers", "_MakeDefaultView",       "RuntimeRun"};
  EXPECT_EQ(steps, started);
  EXPECT_EQ(FinaliseWatched(), kFinalisationOrder);
  rb::RuntimeRegisterAppObject(shellApp);
}

TEST(StartUp, AnExceptionOfNoKnownKindFromStartUpStillReachesTheHandlerAndFinalisationRuns) {
  const rb::Ref<rb::Application> shellApp = rb::RuntimeApp();
  std::vector<std::string> steps;
  SetProcessLifeObserverForTesting([&](std::string_view step) {
    steps.emplace_back(step);
    if (step == "_MakeDefaultView") throw 42;
  });
  ShownMessages().clear();
  _Main();
  SetProcessLifeObserverForTesting(nullptr);

  EXPECT_EQ(ShownMessages().size(), 1u) << "the unhandled-exception handler shows one message";
  const std::vector<std::string> started = {
      "RuntimeInitExternalClasses",  "_InitPluginEntrypoints", "_InitFileTypes", "_NewAppInstance",
      "_ApplicationAddMenuHandlers", "_MakeDefaultView"};
  EXPECT_EQ(steps, started) << "the event loop never starts";
  EXPECT_EQ(FinaliseWatched(), kFinalisationOrder);
  rb::RuntimeRegisterAppObject(shellApp);
}

TEST(StartUp, AStartWhileRunningActivatesTheRunningInstance) {
  if (rb::IsQuitting()) GTEST_SKIP() << "an earlier test in this process quit the runtime";
  const rb::Ref<rb::Application> previous = rb::RuntimeApp();
  auto app = rb::New<rb::Application>();
  int activations = 0;
  app->SetHandler<void()>("Activate", [&] { ++activations; });
  rb::RuntimeRegisterAppObject(app);
  const rb::String id = "ChimewickTest-" + std::to_string(::getpid());
  EXPECT_TRUE(rb::ClaimSingleInstance(id)) << "the first claim runs";
  EXPECT_FALSE(rb::ClaimSingleInstance(id)) << "a second start hands over and ends";
  for (int i = 0; i < 40 && activations == 0; ++i) rb::ProcessEvents(25);
  EXPECT_EQ(activations, 1);
  rb::RuntimeRegisterAppObject(previous);
}

// The real program, headless: it starts, shows its window, quits through
// File > Quit (chosen when the window system asks it to end, as a logout
// does) and writes its preferences.
TEST(WholeProgram, StartsHeadlessQuitsAndWritesItsPreferencesOnce) {
  const chimewick_test::TemporaryFolder folder("run");
  const std::filesystem::path& config = folder.path();
  const auto log = config / "stderr.txt";

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("CHIMEWICK_AUDIO_OUTPUT", "null", 1);
    setenv("CHIMEWICK_MIDI", "virtual", 1);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) dup2(fd, 2);
    execl(CHIMEWICK_EXECUTABLE, CHIMEWICK_EXECUTABLE, static_cast<char*>(nullptr));
    _exit(127);
  }
  const auto prefs = config / "Chimewick.prefs";
  // Let it start and fill its list, then ask it to end.
  std::this_thread::sleep_for(std::chrono::seconds(3));
  EXPECT_FALSE(std::filesystem::exists(prefs)) << "nothing is written before quitting";

  // Started again, it hands over to the running one and ends at once.
  const pid_t second = fork();
  ASSERT_GE(second, 0);
  if (second == 0) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    execl(CHIMEWICK_EXECUTABLE, CHIMEWICK_EXECUTABLE, static_cast<char*>(nullptr));
    _exit(127);
  }
  int secondStatus = -1;
  for (int i = 0; i < 100 && waitpid(second, &secondStatus, WNOHANG) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(WIFEXITED(secondStatus) && WEXITSTATUS(secondStatus) == 0) << "the second start ends by itself";
  if (!WIFEXITED(secondStatus)) {
    kill(second, SIGKILL);
    waitpid(second, &secondStatus, 0);
  }
  kill(child, SIGTERM);
  int status = 0;
  for (int i = 0; i < 200 && waitpid(child, &status, WNOHANG) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (waitpid(child, &status, WNOHANG) == 0 && !WIFEXITED(status)) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    FAIL() << "the program did not quit";
  }
  std::ifstream errors(log);
  std::stringstream errorText;
  errorText << errors.rdbuf();
  ASSERT_TRUE(WIFEXITED(status)) << errorText.str();
  EXPECT_EQ(WEXITSTATUS(status), 0) << errorText.str();

  std::ifstream file(prefs);
  ASSERT_TRUE(file) << "preferences written at quit\n" << errorText.str();
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 13u);
  EXPECT_EQ(lines[0], "<?xml version=\"1.0\" encoding=\"utf-8\"?>");
  EXPECT_EQ(lines[4], "<DefaultInstrumentName>Organ 1</DefaultInstrumentName>");
  EXPECT_EQ(lines[12], "</chimewickprefs>");
}

// The real program, headless, with no MIDI service: it shows "Chimewick
// initialization failed" in a real message box, and the window system asks
// it to end (SIGTERM, as a logout does) while that box is up. It ends at once
// with code 0, makes no second window (with its MIDI client and synthesizer)
// and leaves the preferences as they were (they would move a slider).
TEST(WholeProgram, ASigtermWhileTheStartUpMessageShowsEndsItWithoutASecondWindow) {
  const chimewick_test::TemporaryFolder folder("sigterm");
  const std::filesystem::path& config = folder.path();
  const auto prefs = config / "Chimewick.prefs";
  const std::string original =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<chimewickprefs version=\"1.0\">\n"
      "<Transpose>4</Transpose>\n<Pitch>-9</Pitch>\n</chimewickprefs>\n";
  std::ofstream(prefs, std::ios::binary) << original;
  const auto log = config / "stderr.txt";
  const auto heard = config / "heard.wav";  // a synthesizer that starts writes it

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("CHIMEWICK_AUDIO_OUTPUT", ("wav:" + heard.string()).c_str(), 1);
    setenv("CHIMEWICK_MIDI", "none", 1);  // names no service: the MIDI client cannot start
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) dup2(fd, 2);
    execl(CHIMEWICK_EXECUTABLE, CHIMEWICK_EXECUTABLE, static_cast<char*>(nullptr));
    _exit(127);
  }
  const auto readLog = [&] {
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  };
  // The MIDI layer names its setting when it refuses it, just before the box
  // shows; then the box is up.
  for (int i = 0; i < 200 && readLog().find("CHIMEWICK_MIDI") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  kill(child, SIGTERM);

  int status = 0;
  for (int i = 0; i < 200 && waitpid(child, &status, WNOHANG) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  if (waitpid(child, &status, WNOHANG) == 0) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    FAIL() << "the program did not end: a second message box or window waits\n" << readLog();
  }
  ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal, not by its quit\n" << readLog();
  EXPECT_EQ(WEXITSTATUS(status), 0) << readLog();
  // One MIDI client tried to start (each names the setting it refuses), and
  // no synthesizer started (it would have written its WAV file).
  const std::string said = readLog();
  size_t midiClients = 0;
  for (size_t at = said.find("CHIMEWICK_MIDI"); at != std::string::npos;
       at = said.find("CHIMEWICK_MIDI", at + 1))
    ++midiClients;
  EXPECT_EQ(midiClients, 1u) << said;
  EXPECT_FALSE(std::filesystem::exists(heard)) << "a synthesizer started\n" << said;
  std::ifstream file(prefs, std::ios::binary);
  std::stringstream kept;
  kept << file.rdbuf();
  EXPECT_EQ(kept.str(), original) << "the preferences stay as they were";
}

}  // namespace
