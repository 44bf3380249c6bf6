// What every core test stands on: the runtime started offscreen once per
// process, the recording double of the playback plug-in loaded and bound,
// message boxes and the browser taken over, a fresh preferences folder and
// the keyboard state reset for each test, and ways to make a main window.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DebugMessage.h"
#include "MyMidiClientZel.h"
#include "MyMidiPort.h"
#include "PlaybackEntrypoints.h"
#include "ProjectPictures.h"
#include "RecordingPlaybackApi.h"
#include "Resources.h"
#include "TemporaryFolder.h"
#include "VirtualMidi.h"
#include "Window1.h"
#include "rb/Dialogs.h"
#include "rb/Files.h"
#include "rb/Keyboard.h"
#include "rb/PluginHost.h"
#include "rb/Runtime.h"
#include "rb/Window.h"

namespace coretest {

// The recording double's test functions, found in the loaded library.
struct Recording {
  RecordingCallCountFn callCount = nullptr;
  RecordingCopyCallsFn copyCalls = nullptr;
  RecordingClearFn clear = nullptr;
  RecordingSetInstrumentsFn setInstruments = nullptr;
  RecordingSetInitResultFn setInitResult = nullptr;
  RecordingLiveObjectsFn liveObjects = nullptr;
  RecordingSetDestroyHookFn setDestroyHook = nullptr;
  RecordingResetFn reset = nullptr;

  std::vector<RecordedCall> Calls() const {
    std::vector<RecordedCall> calls(static_cast<size_t>(callCount()));
    calls.resize(size_t(copyCalls(calls.data(), int32_t(calls.size()))));
    return calls;
  }
  // The calls of one member, in order.
  std::vector<RecordedCall> CallsOf(const std::string& member) const {
    std::vector<RecordedCall> picked;
    for (const RecordedCall& c : Calls())
      if (member == c.member) picked.push_back(c);
    return picked;
  }
  // The data bytes of the SendMidiEvent calls: (status, data1, data2, offset).
  std::vector<std::vector<int32_t>> MidiEvents() const {
    std::vector<std::vector<int32_t>> events;
    for (const RecordedCall& c : CallsOf("SendMidiEvent"))
      events.push_back({c.args[0], c.args[1], c.args[2], c.args[3]});
    return events;
  }
  void SetInstruments(const std::vector<std::pair<int32_t, std::string>>& list) const {
    std::vector<int32_t> ids;
    std::vector<const char*> names;
    for (const auto& [id, name] : list) {
      ids.push_back(id);
      names.push_back(name.c_str());
    }
    setInstruments(int32_t(list.size()), ids.data(), names.data());
  }
};

inline const Recording& TheRecording() {
  static const Recording recording = [] {
    void* library = dlopen(CHIMEWICK_RECORDING_PLUGIN, RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr) throw std::runtime_error("the recording plug-in is not loaded");
    auto find = [library](const char* name) {
      void* symbol = dlsym(library, name);
      if (symbol == nullptr) throw std::runtime_error(std::string("missing ") + name);
      return symbol;
    };
    Recording r;
    r.callCount = reinterpret_cast<RecordingCallCountFn>(find(RECORDING_CALL_COUNT));
    r.copyCalls = reinterpret_cast<RecordingCopyCallsFn>(find(RECORDING_COPY_CALLS));
    r.clear = reinterpret_cast<RecordingClearFn>(find(RECORDING_CLEAR));
    r.setInstruments = reinterpret_cast<RecordingSetInstrumentsFn>(find(RECORDING_SET_INSTRUMENTS));
    r.setInitResult = reinterpret_cast<RecordingSetInitResultFn>(find(RECORDING_SET_INIT_RESULT));
    r.liveObjects = reinterpret_cast<RecordingLiveObjectsFn>(find(RECORDING_LIVE_OBJECTS));
    r.setDestroyHook = reinterpret_cast<RecordingSetDestroyHookFn>(find(RECORDING_SET_DESTROY_HOOK));
    r.reset = reinterpret_cast<RecordingResetFn>(find(RECORDING_RESET));
    dlclose(library);  // the host keeps its own reference
    return r;
  }();
  return recording;
}

// Starts the runtime offscreen and loads the recording plug-in, once per
// process.
inline void StartRuntimeOnce() {
  static const bool started = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("CHIMEWICK_AUDIO_OUTPUT", "null", 0);
    setenv("CHIMEWICK_MIDI", "virtual", 0);
    static int argc = 1;
    static char name[] = "test_core";
    static char* argv[] = {name, nullptr};
    if (!rb::RuntimeIsInitialised()) rb::RuntimeInit(argc, argv);
    chimewick::InitResources();
    if (!rb::LoadPlugin(CHIMEWICK_RECORDING_PLUGIN))
      throw std::runtime_error("cannot load the recording plug-in");
    _InitPluginEntrypoints();
    return true;
  }();
  (void)started;
}

// Ends the runtime after the last test, while Qt's own globals still
// stand: the pictures and windows go first, then the application.
class RuntimeEnvironment : public ::testing::Environment {
 public:
  void TearDown() override {
    if (!rb::RuntimeIsInitialised()) return;
    ReleaseProjectPictures();
    rb::ReleaseWindowLists();
    rb::ProcessEvents();
    rb::RuntimeExit();
  }
};

inline const ::testing::Environment* const kRuntimeEnvironment =
    ::testing::AddGlobalTestEnvironment(new RuntimeEnvironment);  // gtest owns it

// The instruments most tests use: ten distinct names with distinct IDs.
inline std::vector<std::pair<int32_t, std::string>> SampleInstruments() {
  return {
      {0x000000, "Banjo"},   {0x000001, "Cello"},       {0x000002, "E.Piano 1"}, {0x000003, "Flute"},
      {0x000004, "Harp"},    {0x780000 | 0x20, "Jazz"}, {0x000006, "Oboe"},      {0x000107, "Organ 1"},
      {0x000008, "Piano 1"}, {0x000009, "Violin"},
  };
}

class CoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StartRuntimeOnce();
    TheRecording().reset();
    rb::Keyboard::ResetForTesting();
    rb::SetMsgBoxHook([this](const rb::String& text) { messages_.push_back(text.Bytes()); });
    rb::SetShowURLHook([this](const rb::String& address) { urls_.push_back(address.Bytes()); });
    configFolder_ = config_.emplace("core-test").path().string();
  }

  void TearDown() override {
    for (rb::Ref<Window1>& w : windows_) CloseQuietly(w);
    windows_.clear();
    if (otherPlugin_) {
      rb::ResetPluginRegistryForTesting();
      rb::LoadPlugin(CHIMEWICK_RECORDING_PLUGIN);
      _InitPluginEntrypoints();
      otherPlugin_ = false;
    }
    rb::SetMsgBoxHook({});
    rb::SetShowURLHook({});
    rb::Keyboard::ResetForTesting();
    config_.reset();
  }

  // The plug-in at path in place of the recording double for this test: the
  // host loads it and the program's entries are bound to it. The double is
  // back after the test, once the test's windows (and their players) are
  // gone.
  void UsePlugin(const std::string& path) {
    rb::ResetPluginRegistryForTesting();
    otherPlugin_ = true;
    ASSERT_TRUE(rb::LoadPlugin(path)) << path;
    _InitPluginEntrypoints();
  }

  // Where the preferences file of this test lives.
  std::string PreferencesFilePath() const {
    rb::Ref<rb::FolderItem> folder = rb::PreferencesFolder();
    if (!folder) return configFolder_ + "/Chimewick.prefs";
    return folder->Child("Chimewick.prefs")->Path();
  }

  // A main window right after its controls are made: Layout and
  // CreateControls have run, no control's Open and no window Open. It is the
  // accessor's window.
  rb::Ref<Window1> MakeWindowBeforeOpen() {
    rb::Ref<Window1> w = rb::New<Window1>();
    rb::RegisterImplicitWindow("Window1.Window1", w);
    w->RaiseEvent<void>("Layout");
    w->RaiseEvent<void>("CreateControls");
    windows_.push_back(w);
    return w;
  }

  // A fully built main window whose own Open handler is left out: the
  // controls' Open events have run, and the test supplies what the window's
  // Open would: a started player and the instrument list with these rows, in
  // this order, each tagged with its ID. The recording is cleared afterwards.
  rb::Ref<Window1> MakeWindowWithInstruments(const std::vector<std::pair<int32_t, std::string>>& rows) {
    rb::Ref<Window1> w = rb::New<Window1>();
    w->RemoveHandler("Open");
    rb::RegisterImplicitWindow("Window1.Window1", w);
    w->Construct();
    windows_.push_back(w);
    w->SetPlayer(MidiPlaybackZel::New());
    EXPECT_TRUE(w->player);
    if (w->player) w->player->Init();
    for (const auto& [id, name] : rows) {
      w->InstrumentsList()->AddRow(name);
      w->InstrumentsList()->SetRowTag(w->InstrumentsList()->ListCount() - 1, id);
    }
    TheRecording().clear();
    return w;
  }

  rb::Ref<Window1> MakeWindowWithSampleInstruments() {
    return MakeWindowWithInstruments(SampleInstruments());
  }

  // Closes a window without its close handlers (which hide it or quit).
  static void CloseQuietly(rb::Ref<Window1>& w) {
    if (!w) return;
    w->RemoveHandler("CancelClose");
    w->RemoveHandler("Close");
    if (w->IsOpen()) w->Close();
    w.reset();
  }

  // Forgets a window made above, for a test that releases it itself.
  void Forget(const rb::Ref<Window1>& w) {
    std::erase_if(windows_, [&w](const rb::Ref<Window1>& held) { return held == w; });
  }

  std::vector<std::string> messages_;
  std::vector<std::string> urls_;
  std::optional<chimewick_test::PrivateConfigFolder> config_;
  std::string configFolder_;  // the preferences folder of this test
  std::vector<rb::Ref<Window1>> windows_;
  bool otherPlugin_ = false;  // UsePlugin put another plug-in in place
};

// For tests with MIDI input: traces off, and the virtual MIDI service empty
// and delivering on its own input thread, as in the program. Afterwards the
// refusal seams and the service setting are put back and every source goes.
class MidiCoreTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    DebugMessageEnableZel(false);
    VirtualMidi::RemoveAllSources();
    VirtualMidi::SetSynchronousDelivery(false);
  }
  void TearDown() override {
    MyMidiClientZel::SetRefuseNewForTesting(false);
    MyMidiPort::SetRefuseNewForTesting(false);
    setenv("CHIMEWICK_MIDI", "virtual", 1);
    CoreTest::TearDown();
    VirtualMidi::RemoveAllSources();
  }
};

}  // namespace coretest
