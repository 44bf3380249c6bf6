#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "PlaybackEntrypoints.h"
#include "ProcessLife.h"
#include "ShellTestSupport.h"
#include "TemporaryFolder.h"
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

TEST(StartUp, AnExceptionEscapingTheEventLoopReachesTheHandlerAndFinalisationRunsInOrder) {
  std::vector<std::string> steps;
  SetProcessLifeObserverForTesting([&](std::string_view step) {
    steps.emplace_back(step);
    if (step == "RuntimeRun") throw rb::RuntimeException("escaped from the event loop");
  });
  ShownMessages().clear();
  _Main();
  Finalise();
  SetProcessLifeObserverForTesting(nullptr);

  ASSERT_FALSE(ShownMessages().empty()) << "the unhandled-exception handler shows the message";
  EXPECT_NE(ShownMessages().back().find("escaped from the event loop"), std::string::npos);
  const std::vector<std::string> expected = {"RuntimeInitExternalClasses",
                                             "_InitPluginEntrypoints",
                                             "_InitFileTypes",
                                             "_NewAppInstance",
                                             "_ApplicationAddMenuHandlers",
                                             "_MakeDefaultView",
                                             "RuntimeRun",
                                             "ambersolid48kb",
                                             "mask48",
                                             "implicit windows",
                                             "windows",
                                             "FileTypes",
                                             "MenuBar1"};
  EXPECT_EQ(steps, expected);
}

TEST(StartUp, AnExceptionOfNoKnownKindStillReachesTheHandlerAndFinalisationRuns) {
  std::vector<std::string> steps;
  SetProcessLifeObserverForTesting([&](std::string_view step) {
    steps.emplace_back(step);
    if (step == "_MakeDefaultView") throw 42;
  });
  ShownMessages().clear();
  _Main();
  Finalise();
  SetProcessLifeObserverForTesting(nullptr);

  EXPECT_EQ(ShownMessages().size(), 1u) << "the unhandled-exception handler shows one message";
  const std::vector<std::string> expected = {"RuntimeInitExternalClasses",
                                             "_InitPluginEntrypoints",
                                             "_InitFileTypes",
                                             "_NewAppInstance",
                                             "_ApplicationAddMenuHandlers",
                                             "_MakeDefaultView",
                                             "ambersolid48kb",
                                             "mask48",
                                             "implicit windows",
                                             "windows",
                                             "FileTypes",
                                             "MenuBar1"};
  EXPECT_EQ(steps, expected);
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

}  // namespace
