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
#include "PlaybackClassWords.h"
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

bool LoadRealPlugin() { return rb::LoadPlugin(rb::DefaultPluginFolder() + "/PlaybackPlugin.so"); }

TEST(StartUp, TheEntryTableBindsAllTenPlaybackNames) {
  ASSERT_TRUE(LoadRealPlugin());
  _InitPluginEntrypoints();
  auto& table = PluginEntrypoints();
  const std::vector<std::string> names = chimewick_test::PlaybackEntryNames();
  ASSERT_EQ(table.Size(), names.size());
  for (size_t i = 0; i < table.Size(); ++i) {
    EXPECT_EQ(table.Name(i), names[i]);
    EXPECT_TRUE(table.IsBound(i)) << names[i];
  }
}

// The playback class record as the program's host registered it, read as a
// host built elsewhere reads it: plain words at their indexes.
TEST(StartUp, ThePlaybackClassRecordHoldsItsValuesAtTheirWordIndexes) {
  ASSERT_TRUE(LoadRealPlugin());
  chimewick_test::ExpectPlaybackClassRecordWords();
}

TEST(StartUp, OneChangedCharacterLeavesTheEntryUnboundAndItsCallFailsInOrder) {
  ASSERT_TRUE(LoadRealPlugin());
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
  const chimewick_test::TemporaryFolder config("sigterm");
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
    setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
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
