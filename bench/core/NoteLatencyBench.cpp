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
//   source's send returns when Event_Read and FluidSynth's note-on are done);
// - a JACK source (another client on a private jackd -d dummy, period 64)
//   to SendMidiEvent entered on the program's JACK real-time thread, in the
//   cycle the source wrote the note.
#include <dlfcn.h>
#include <jack/jack.h>
#include <jack/midiport.h>
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
#include "JackKeysAndEars.h"
#include "JackServer.h"
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

// The floor under the JACK road: a bare client with one MIDI input that only
// notes when a cycle brings it something (JACK's own hand-over from one
// client to the next, with nothing of ours on the way).
class JackFloor {
 public:
  bool open(const char* source) {
    client_ = jack_client_open("bench-floor", JackNoStartServer, nullptr);
    if (client_ == nullptr) return false;
    in_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(client_, &JackFloor::process, this);
    return in_ != nullptr && jack_activate(client_) == 0 &&
           jack_connect(client_, source, jack_port_name(in_)) == 0;
  }
  ~JackFloor() {
    if (client_ != nullptr) jack_client_close(client_);
  }
  uint64_t arrivals(int64_t* lastNs) const {
    const uint64_t n = arrivals_.load(std::memory_order_acquire);
    if (lastNs != nullptr) *lastNs = lastNs_.load(std::memory_order_relaxed);
    return n;
  }

 private:
  static int process(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<JackFloor*>(arg);
    const int64_t now = NowNs();
    void* buffer = jack_port_get_buffer(self->in_, frames);
    const uint32_t count = jack_midi_get_event_count(buffer);
    if (count == 0) return 0;
    self->lastNs_.store(now, std::memory_order_relaxed);
    self->arrivals_.fetch_add(count, std::memory_order_release);
    return 0;
  }
  jack_client_t* client_ = nullptr;
  jack_port_t* in_ = nullptr;
  std::atomic<uint64_t> arrivals_{0};
  std::atomic<int64_t> lastNs_{0};
};

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

  // Road 3: a JACK source, another client on a private server, whose note is
  // delivered in the same cycle on the program's JACK real-time thread.
  {
    bench::JackServer server(64, 48000);
    if (!server.running()) {
      std::printf("JACK: skipped, jackd -d dummy did not start here\n");
    } else {
      setenv("CHIMEWICK_MIDI", "jack", 1);
      chimewick_test::JackKeys keys;
      if (!keys.open("bench-keys")) {
        std::printf("JACK: skipped, the keyboard's client did not open\n");
      } else {
        {
          JackFloor floor;
          if (floor.open(keys.name())) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            const TimeOneNote timeFloor = [&](int32_t, uint8_t note) -> double {
              const uint64_t before = floor.arrivals(nullptr);
              keys.send({{0x90, note, 100}, {0x80, note, 0}});
              int64_t arrived = 0;
              const int64_t giveUp = NowNs() + 1'000'000'000;
              while (floor.arrivals(&arrived) < before + 2) {
                if (NowNs() > giveUp) return -1.0;
              }
              return double(arrived - keys.playedAtNs()) / 1000.0;
            };
            Print("JACK source -> a bare JACK client (JACK's own part)", "idle",
                  Measure(0, timeFloor, false));
          }
        }
        rb::Ref<Window1> w = Window1Accessor();
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (!keys.connected() && Clock::now() < deadline) rb::ProcessEvents(5);
        // A message in the cycle a connection is made may be lost: settle.
        const auto settle = Clock::now() + std::chrono::milliseconds(300);
        while (Clock::now() < settle) rb::ProcessEvents(5);
        const TimeOneNote timeJack = [&](int32_t, uint8_t note) -> double {
          const uint64_t before = probeArrivals(nullptr);
          keys.send({{0x90, note, 100}, {0x80, note, 0}});  // at frame 0 of the keys' next cycle
          int64_t arrived = 0;
          const int64_t giveUp = NowNs() + 1'000'000'000;
          while (probeArrivals(&arrived) < before + 2) {
            if (NowNs() > giveUp) return -1.0;
          }
          // The note-on's arrival is not kept apart from the note-off's: both
          // come in one Read, the note-on first, microseconds apart.
          return double(arrived - keys.playedAtNs()) / 1000.0;
        };
        Print("JACK source -> real-time thread -> SendMidiEvent", "idle", Measure(0, timeJack, false));
        Print("JACK source -> real-time thread -> SendMidiEvent", "blocked", Measure(0, timeJack, true));
        w->RemoveHandler("CancelClose");
        w->RemoveHandler("Close");
        w->Close();
        w.reset();
      }
      setenv("CHIMEWICK_MIDI", "virtual", 1);
    }
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
