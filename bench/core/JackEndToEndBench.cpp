// Chimewick beside FluidSynth's own command line (fluidsynth -a jack -m jack,
// reverb off, program 16) on one private JACK server (dummy driver, 48 kHz)
// at periods of 64, 128 and 256 frames, both measured in the same run by the
// same probe: a keyboard client and a listening client with the synthesizer
// between them (keys -> synthesizer -> ears, no loop in the graph).
//
//   latency   frames from a note-on (at frame 0 of a cycle) to the first frame
//             of its sound, over 100 notes; notes heard a period or more late
//   start     from the program's start to both its JACK ports registered
//             (MIDI input and audio output)
//   idle      CPU (% of one core) with no MIDI, and wake-ups per second of
//             each thread
//   xruns     under bursts of 128 note-ons in one cycle
//
// Usage: bench_jack_end_to_end [idle seconds, default 20]. Skips with the
// reason where jackd or fluidsynth cannot run.
#include <fcntl.h>
#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "JackServer.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kRate = 48000;
constexpr int kNotes = 100;
constexpr int kBursts = 10;
constexpr const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

// The probe's two clients.
class Probe {
 public:
  bool open() {
    keys_ = jack_client_open("probe-keys", JackNoStartServer, nullptr);
    ears_ = jack_client_open("probe-ears", JackNoStartServer, nullptr);
    if (keys_ == nullptr || ears_ == nullptr) return false;
    out_ = jack_port_register(keys_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    in_ = jack_port_register(ears_, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(keys_, &Probe::play, this);
    jack_set_process_callback(ears_, &Probe::listen, this);
    jack_set_xrun_callback(
        ears_,
        [](void* arg) {
          static_cast<Probe*>(arg)->xruns_.fetch_add(1);
          return 0;
        },
        this);
    return out_ != nullptr && in_ != nullptr && jack_activate(keys_) == 0 && jack_activate(ears_) == 0;
  }
  ~Probe() {
    if (keys_ != nullptr) jack_client_close(keys_);
    if (ears_ != nullptr) jack_client_close(ears_);
  }

  jack_client_t* client() const { return keys_; }
  const char* keysName() const { return jack_port_name(out_); }
  const char* earsName() const { return jack_port_name(in_); }
  bool keysConnected() const { return jack_port_connected(out_) > 0; }

  // Plays count messages (of three bytes) at frame 0 of the keys' next cycle.
  void send(const std::vector<std::array<uint8_t, 3>>& messages) {
    count_ = std::min(messages.size(), queue_.size());
    std::copy_n(messages.begin(), count_, queue_.begin());
    pending_.store(true, std::memory_order_release);
  }
  bool sent() const { return !pending_.load(std::memory_order_acquire); }
  jack_nframes_t playedAt() const { return playedAt_.load(std::memory_order_acquire); }
  int64_t heardAt() const { return heardAt_.load(std::memory_order_acquire); }
  void arm() {
    heardAt_.store(-1, std::memory_order_release);
    armed_.store(true, std::memory_order_release);
  }
  uint32_t quietCycles() const { return quiet_.load(std::memory_order_acquire); }
  int xruns() const { return xruns_.load(); }

 private:
  static int play(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<Probe*>(arg);
    void* buffer = jack_port_get_buffer(self->out_, frames);
    jack_midi_clear_buffer(buffer);
    if (self->pending_.load(std::memory_order_acquire)) {
      for (size_t i = 0; i < self->count_; ++i) {
        // Program change and channel pressure have one data byte.
        const uint8_t kind = self->queue_[i][0] & 0xF0;
        jack_midi_event_write(buffer, 0, self->queue_[i].data(), kind == 0xC0 || kind == 0xD0 ? 2 : 3);
      }
      self->playedAt_.store(jack_last_frame_time(self->keys_), std::memory_order_release);
      self->pending_.store(false, std::memory_order_release);
    }
    return 0;
  }
  static int listen(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<Probe*>(arg);
    const auto* samples = static_cast<const float*>(jack_port_get_buffer(self->in_, frames));
    float peak = 0;
    jack_nframes_t first = frames;
    for (jack_nframes_t i = 0; i < frames; ++i) {
      const float level = std::fabs(samples[i]);
      peak = std::max(peak, level);
      if (first == frames && level > 1e-3f) first = i;
    }
    self->quiet_.store(peak < 1e-4f ? self->quiet_.load(std::memory_order_relaxed) + 1 : 0,
                       std::memory_order_release);
    if (first < frames && self->armed_.load(std::memory_order_acquire)) {
      self->heardAt_.store(int64_t(jack_last_frame_time(self->ears_)) + first, std::memory_order_release);
      self->armed_.store(false, std::memory_order_release);
    }
    return 0;
  }

  jack_client_t* keys_ = nullptr;
  jack_client_t* ears_ = nullptr;
  jack_port_t* out_ = nullptr;
  jack_port_t* in_ = nullptr;
  std::array<std::array<uint8_t, 3>, 256> queue_{};
  size_t count_ = 0;
  std::atomic<bool> pending_{false};
  std::atomic<jack_nframes_t> playedAt_{0};
  std::atomic<int64_t> heardAt_{-1};
  std::atomic<bool> armed_{false};
  std::atomic<uint32_t> quiet_{0};
  std::atomic<int> xruns_{0};
};

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

std::vector<std::string> ports(jack_client_t* client, const std::string& pattern, const char* type,
                               unsigned long flags) {
  std::vector<std::string> names;
  if (const char** list = jack_get_ports(client, pattern.c_str(), type, flags)) {
    for (const char** n = list; *n != nullptr; ++n) names.emplace_back(*n);
    jack_free(list);
  }
  return names;
}

struct Result {
  bool ran = false;
  std::string why;
  std::vector<int64_t> latencies;
  int late = 0;
  double startMs = 0;
  double idleCpuPercent = 0;
  double wakeupsPerSecond = 0;
  std::vector<std::pair<std::string, double>> threads;  // name (tid): wake-ups a second
  int xruns = 0;
};

// One synthesizer program on the running server.
struct Contender {
  std::string label;
  std::vector<std::string> argv;
  std::string clientPattern;  // its JACK clients' port names begin so
  bool connectsSourcesItself;
};

Result measure(const Contender& who, Probe& probe, int period, int idleSeconds) {
  Result r;
  std::fprintf(stderr, "period %d: %s...\n", period, who.label.c_str());
  const auto started = Clock::now();
  int input = -1;  // fluidsynth reads its shell from standard input and ends with it
  const pid_t pid = bench::Spawn(who.argv, "/dev/null", &input);
  struct CloseInput {
    int fd;
    ~CloseInput() {
      if (fd >= 0) ::close(fd);
    }
  } closeInput{input};
  if (pid <= 0) {
    r.why = "does not start";
    return r;
  }
  // Start: both its ports are there.
  std::string midiIn, audioOut;
  const bool up = waitFor(
      [&] {
        const auto midi = ports(probe.client(), who.clientPattern, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput);
        const auto audio =
            ports(probe.client(), who.clientPattern, JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
        if (midi.empty() || audio.empty()) return false;
        midiIn = midi.front();
        audioOut = audio.front();
        return true;
      },
      20s);
  r.startMs = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
  if (!up) {
    r.why = "its JACK ports never appeared";
    bench::Stop(pid);
    return r;
  }
  if (who.connectsSourcesItself) {
    if (!waitFor([&] { return probe.keysConnected(); }, 10s)) r.why = "it did not connect the probe's keys";
  } else {
    jack_connect(probe.client(), probe.keysName(), midiIn.c_str());
  }
  jack_connect(probe.client(), audioOut.c_str(), probe.earsName());
  // Program 16 (Organ 1) on the first channel, which sustains while held;
  // once the new connections carry (a message sent in the cycle they are
  // made may be lost), and again to be sure.
  for (int i = 0; i < 2; ++i) {
    std::this_thread::sleep_for(300ms);
    probe.send({{0xC0, 16, 0}});
    waitFor([&] { return probe.sent(); }, 2s);
  }
  std::this_thread::sleep_for(100ms);

  int unheard = 0;
  for (int i = 0; i < kNotes && unheard < 3; ++i) {
    const uint8_t note = uint8_t(60 + i % 12);
    if (!waitFor([&] { return probe.quietCycles() > 10; }, 5s)) break;
    probe.arm();
    probe.send({{0x90, note, 100}});
    if (!waitFor([&] { return probe.heardAt() >= 0; }, 3s)) {
      r.latencies.push_back(-1);
      ++unheard;
      continue;
    }
    const int64_t latency = probe.heardAt() - int64_t(probe.playedAt());
    r.latencies.push_back(latency);
    if (latency >= period) ++r.late;
    probe.send({{0x80, note, 0}});
    waitFor([&] { return probe.sent(); }, 2s);
  }

  // Idle: no MIDI for a while.
  std::this_thread::sleep_for(1s);
  const double cpuBefore = bench::CpuSeconds(pid);
  const auto threadsBefore = bench::Threads(pid);
  const auto idleStart = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
  const double seconds = std::chrono::duration<double>(Clock::now() - idleStart).count();
  r.idleCpuPercent = 100.0 * (bench::CpuSeconds(pid) - cpuBefore) / seconds;
  const auto threadsAfter = bench::Threads(pid);
  for (const auto& [tid, after] : threadsAfter) {
    const auto before = threadsBefore.find(tid);
    const long woken = after.switches - (before == threadsBefore.end() ? 0 : before->second.switches);
    r.wakeupsPerSecond += double(woken) / seconds;
    if (woken > 0)
      r.threads.emplace_back(after.name + " (" + std::to_string(tid) + ")", double(woken) / seconds);
  }
  std::sort(r.threads.begin(), r.threads.end(),
            [](const auto& a, const auto& b) { return a.second > b.second; });

  // Bursts of 128 note-ons in one cycle, and their note-offs.
  const int xrunsBefore = probe.xruns();
  for (int b = 0; b < kBursts; ++b) {
    std::vector<std::array<uint8_t, 3>> on, off;
    for (uint8_t n = 0; n < 128; ++n) {
      on.push_back({0x90, n, 100});
      off.push_back({0x80, n, 0});
    }
    probe.send(on);
    waitFor([&] { return probe.sent(); }, 2s);
    std::this_thread::sleep_for(100ms);
    probe.send(off);
    waitFor([&] { return probe.sent(); }, 2s);
    std::this_thread::sleep_for(200ms);
  }
  r.xruns = probe.xruns() - xrunsBefore;
  bench::Stop(pid);
  r.ran = true;
  return r;
}

std::string latencyFigures(const Result& r) {
  std::vector<int64_t> heard;
  for (int64_t l : r.latencies)
    if (l >= 0) heard.push_back(l);
  if (heard.empty()) return "none heard";
  std::sort(heard.begin(), heard.end());
  std::ostringstream text;
  text << heard.front() << " / " << heard[heard.size() / 2] << " / " << heard.back();
  if (heard.size() != r.latencies.size()) text << " (" << r.latencies.size() - heard.size() << " unheard)";
  return text.str();
}

}  // namespace

int main(int argc, char** argv) {
  const int idleSeconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  char folder[] = "/tmp/chimewick-bench-jack-XXXXXX";
  if (mkdtemp(folder) == nullptr) return 1;
  setenv("XDG_CONFIG_HOME", folder, 1);  // a fresh start: the default instrument, Organ 1
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("CHIMEWICK_MIDI", "jack", 1);
  setenv("CHIMEWICK_AUDIO_OUTPUT", "jack", 1);

  const std::vector<Contender> contenders = {
      {"Chimewick", {CHIMEWICK_PROGRAM}, "^Chimewick", true},
      {"fluidsynth",
       // Its JACK MIDI and audio share one client (the same id, its default),
       // so it reads a cycle's MIDI in that cycle's audio callback.
       {"fluidsynth", "-a", "jack", "-m", "jack", "-R", "0", "-r", std::to_string(kRate), kSoundFont},
       "^fluidsynth",
       false},
  };
  std::printf("JACK end to end: Chimewick and fluidsynth on one private jackd -d dummy -r %d\n", kRate);
  std::printf("(latency in frames, min / median / max over %d notes; idle over %d s)\n", kNotes, idleSeconds);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  for (const int period : {64, 128, 256}) {
    bench::JackServer server(period, kRate);
    if (!server.running()) {
      std::printf("period %d: skipped, jackd -d dummy did not start here\n", period);
      continue;
    }
    std::vector<Result> results;
    {
      Probe probe;
      if (!probe.open()) {
        std::printf("period %d: skipped, the probe's clients did not open\n", period);
        continue;
      }
      for (const Contender& who : contenders) results.push_back(measure(who, probe, period, idleSeconds));
    }
    std::printf("\nperiod %d frames (%.1f ms)%*s%-16s %-16s\n", period, 1000.0 * period / kRate, 18, "",
                contenders[0].label.c_str(), contenders[1].label.c_str());
    auto row = [&](const char* what, const std::function<std::string(const Result&)>& figure) {
      std::printf("  %-38s", what);
      for (const Result& r : results)
        std::printf(" %-16s", r.ran ? figure(r).c_str() : ("- " + r.why).c_str());
      std::printf("\n");
    };
    row("latency, frames", latencyFigures);
    row("notes a period or more late",
        [](const Result& r) { return std::to_string(r.late) + " of " + std::to_string(r.latencies.size()); });
    row("start to both JACK ports, ms",
        [](const Result& r) { return std::to_string(int(std::lround(r.startMs))); });
    row("idle CPU, % of a core", [](const Result& r) {
      char text[32];
      std::snprintf(text, sizeof text, "%.2f", r.idleCpuPercent);
      return std::string(text);
    });
    row("idle wake-ups a second, all threads",
        [](const Result& r) { return std::to_string(int(std::lround(r.wakeupsPerSecond))); });
    row("xruns in 10 bursts of 128 note-ons", [](const Result& r) { return std::to_string(r.xruns); });
    for (size_t i = 0; i < results.size(); ++i) {
      std::printf("  %s threads woken when idle (a second):", contenders[i].label.c_str());
      for (const auto& [name, rate] : results[i].threads) std::printf(" %s %.1f;", name.c_str(), rate);
      std::printf("\n");
    }
  }
  std::filesystem::remove_all(folder);
  return 0;
}
