// How long a note-on takes from a MIDI source to the synthesizer through the
// main window's port, with the event loop idle and with it blocked by a
// modal message box. Prints p50, p99 and the maximum in microseconds.
//
// Two roads are timed:
// - the MIDI input thread (asynchronous delivery, as a keyboard plays) up to
//   the moment SendMidiEvent is entered, with a probe plug-in that only notes
//   the time;
// - the same on the sender's thread (synchronous delivery): the handler's own
//   cost without the thread hand-over;
// - the whole handler into the real synthesizer (synchronous delivery: the
//   source's send returns when Event_Read and FluidSynth's note-on are done).
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "DebugMessage.h"
#include "PlaybackEntrypoints.h"
#include "Resources.h"
#include "TemporaryFolder.h"
#include "VirtualMidi.h"
#include "Window1.h"
#include "rb/Dialogs.h"
#include "rb/PluginHost.h"
#include "rb/Runtime.h"
#include "rb/Window.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kNotes = 10000;

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

using ProbeArrivalsFn = uint64_t (*)(int64_t*);

struct Figures {
  double p50 = 0, p99 = 0, max = 0;
  int samples = 0;
};

Figures Summarise(std::vector<double> us) {
  Figures f;
  if (us.empty()) return f;
  std::sort(us.begin(), us.end());
  f.samples = int(us.size());
  f.p50 = us[us.size() / 2];
  f.p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
  f.max = us.back();
  return f;
}

// Plays one note, on and off, and gives the time of its note-on in
// microseconds (negative when it never arrived).
using TimeOneNote = std::function<double(int32_t source, uint8_t note)>;

std::vector<double> PlayNotes(int32_t source, const TimeOneNote& timeNote) {
  std::vector<double> us;
  us.reserve(kNotes);
  for (int i = 0; i < kNotes; ++i) {
    const uint8_t note = uint8_t(48 + i % 24);
    const double t = timeNote(source, note);
    if (t >= 0) us.push_back(t);
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  return us;
}

// Runs the notes on a sender thread while the UI thread either keeps the
// event loop running (idle) or sits in a modal message box (blocked).
Figures Measure(int32_t source, const TimeOneNote& timeNote, bool blockLoop) {
  std::vector<double> us;
  std::atomic<bool> done{false};
  std::thread sender([&] {
    us = PlayNotes(source, timeNote);
    done = true;
  });
  if (blockLoop) {
    // A modal box that never returns to our event loop until the run ends.
    rb::SetMsgBoxHook([&](const rb::String&) {
      while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    rb::MsgBox("Checking for updates...");
    rb::SetMsgBoxHook({});
  } else {
    while (!done) rb::ProcessEvents(1);
  }
  sender.join();
  return Summarise(std::move(us));
}

bool UsePlugin(const std::string& path) {
  rb::ResetPluginRegistryForTesting();
  if (!rb::LoadPlugin(path)) return false;
  _InitPluginEntrypoints();
  return true;
}

// The window as the program starts it, its MIDI connected to one source.
rb::Ref<Window1> StartWindow(int32_t& source) {
  source = VirtualMidi::AddSource("Bench keyboard");
  rb::Ref<Window1> w = Window1Accessor();
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (w->Warnings()->Text().Bytes() != " Bench keyboard" && Clock::now() < deadline) rb::ProcessEvents(5);
  return w;
}

void CloseWindow(rb::Ref<Window1>& w, int32_t source) {
  w->RemoveHandler("CancelClose");
  w->RemoveHandler("Close");
  w->Close();
  w.reset();
  VirtualMidi::RemoveSource(source);
}

void Print(const char* road, const char* loop, const Figures& f) {
  std::printf("%-52s %-8s p50 %8.2f us   p99 %8.2f us   max %9.2f us   (%d notes)\n", road, loop, f.p50,
              f.p99, f.max, f.samples);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("CHIMEWICK_AUDIO_OUTPUT", "null", 0);
  setenv("CHIMEWICK_MIDI", "virtual", 1);
  const chimewick_test::PrivateConfigFolder config("bench-core");  // the user's preferences stay untouched
  rb::RuntimeInit(argc, argv);
  chimewick::InitResources();
  DebugMessageEnableZel(false);
  rb::SetMsgBoxHook([](const rb::String& text) { std::fprintf(stderr, "message: %s\n", text.c_str()); });

  // Road 1: source -> input thread -> Event_Read -> SendMidiEvent entered.
  if (!UsePlugin(CHIMEWICK_PROBE_PLUGIN)) return 1;
  void* probeLibrary = dlopen(CHIMEWICK_PROBE_PLUGIN, RTLD_NOW | RTLD_NOLOAD);
  auto probeArrivals =
      probeLibrary ? reinterpret_cast<ProbeArrivalsFn>(dlsym(probeLibrary, "probe_arrivals")) : nullptr;
  if (probeArrivals == nullptr) return 1;
  VirtualMidi::SetSynchronousDelivery(false);
  {
    int32_t source = 0;
    rb::Ref<Window1> w = StartWindow(source);
    // Waits until the probe has seen one more call than before; its time.
    const auto awaitArrival = [probeArrivals](uint64_t before, int64_t giveUp) -> int64_t {
      int64_t arrived = 0;
      while (probeArrivals(&arrived) == before) {
        if (NowNs() > giveUp) return -1;
      }
      return arrived;
    };
    const TimeOneNote timeAndSettle = [&](int32_t src, uint8_t note) -> double {
      const uint64_t before = probeArrivals(nullptr);
      const int64_t sent = NowNs();
      VirtualMidi::Send(src, {0x90, note, 100});
      const int64_t arrived = awaitArrival(before, sent + 1'000'000'000);
      // The note-off is let through before the next note, so that each
      // timing sees its own note arrive.
      const uint64_t beforeOff = probeArrivals(nullptr);
      VirtualMidi::Send(src, {0x80, note, 0});
      awaitArrival(beforeOff, NowNs() + 1'000'000'000);
      return arrived < 0 ? -1.0 : double(arrived - sent) / 1000.0;
    };
    Print("source -> input thread -> SendMidiEvent", "idle", Measure(source, timeAndSettle, false));
    Print("source -> input thread -> SendMidiEvent", "blocked", Measure(source, timeAndSettle, true));
    // The same without the hand-over to the input thread: the handler's own cost.
    VirtualMidi::SetSynchronousDelivery(true);
    Print("source -> Event_Read -> SendMidiEvent (same thread)", "idle",
          Measure(source, timeAndSettle, false));
    VirtualMidi::SetSynchronousDelivery(false);
    CloseWindow(w, source);
  }

  // Road 2: the whole handler and FluidSynth's note-on, on the sender's thread.
  if (!UsePlugin(CHIMEWICK_REAL_PLUGIN)) {
    std::printf("real synthesizer: skipped (PlaybackPlugin.so does not load)\n");
  } else {
    VirtualMidi::SetSynchronousDelivery(true);
    int32_t source = 0;
    rb::Ref<Window1> w = StartWindow(source);
    const TimeOneNote timeWholeHandler = [](int32_t src, uint8_t note) -> double {
      const int64_t sent = NowNs();
      VirtualMidi::Send(src, {0x90, note, 100});
      const double us = double(NowNs() - sent) / 1000.0;
      VirtualMidi::Send(src, {0x80, note, 0});
      return us;
    };
    Print("Event_Read + SendMidiEvent into FluidSynth", "idle", Measure(source, timeWholeHandler, false));
    Print("Event_Read + SendMidiEvent into FluidSynth", "blocked", Measure(source, timeWholeHandler, true));
    CloseWindow(w, source);
    VirtualMidi::SetSynchronousDelivery(false);
  }
  return 0;
}
