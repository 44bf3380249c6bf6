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

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "JackKeysAndEars.h"
#include "JackServer.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kRate = 48000;
constexpr int kNotes = 100;
constexpr int kBursts = 10;
constexpr const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

using chimewick_test::JackKeysAndEars;

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

Result measure(const Contender& who, JackKeysAndEars& probe, int period, int idleSeconds) {
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
        const auto midi =
            ports(probe.keys.client(), who.clientPattern, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput);
        const auto audio =
            ports(probe.keys.client(), who.clientPattern, JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
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
    if (!waitFor([&] { return probe.keys.connected(); }, 10s)) r.why = "it did not connect the probe's keys";
  } else {
    jack_connect(probe.keys.client(), probe.keys.name(), midiIn.c_str());
  }
  jack_connect(probe.keys.client(), audioOut.c_str(), probe.ears.name());
  // Program 16 (Organ 1) on the first channel, which sustains while held;
  // once the new connections carry (a message sent in the cycle they are
  // made may be lost), and again to be sure.
  for (int i = 0; i < 2; ++i) {
    std::this_thread::sleep_for(300ms);
    probe.keys.send({{0xC0, 16, 0}});
    waitFor([&] { return probe.keys.sent(); }, 2s);
  }
  std::this_thread::sleep_for(100ms);

  int unheard = 0;
  for (int i = 0; i < kNotes && unheard < 3; ++i) {
    const uint8_t note = uint8_t(60 + i % 12);
    if (!waitFor([&] { return probe.ears.quietCycles() > 10; }, 5s)) break;
    probe.ears.arm();
    probe.keys.send({{0x90, note, 100}});
    if (!waitFor([&] { return probe.ears.heardAt() >= 0; }, 3s)) {
      r.latencies.push_back(-1);
      ++unheard;
      continue;
    }
    const int64_t latency = probe.latency();
    r.latencies.push_back(latency);
    if (latency >= period) ++r.late;
    probe.keys.send({{0x80, note, 0}});
    waitFor([&] { return probe.keys.sent(); }, 2s);
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
  const int xrunsBefore = probe.ears.xruns();
  for (int b = 0; b < kBursts; ++b) {
    std::vector<chimewick_test::JackKeys::Message> on, off;
    for (uint8_t n = 0; n < 128; ++n) {
      on.push_back({0x90, n, 100});
      off.push_back({0x80, n, 0});
    }
    probe.keys.send(on);
    waitFor([&] { return probe.keys.sent(); }, 2s);
    std::this_thread::sleep_for(100ms);
    probe.keys.send(off);
    waitFor([&] { return probe.keys.sent(); }, 2s);
    std::this_thread::sleep_for(200ms);
  }
  r.xruns = probe.ears.xruns() - xrunsBefore;
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
      JackKeysAndEars probe;
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
