// A probe on a JACK server that plays a keyboard and listens to speakers:
// the keys (a client with one MIDI output) play messages at frame 0 of their
// next cycle, the ears (another client with one audio input) note when they
// first hear something. With the program under test between them (keys ->
// program -> ears) nothing loops. Header-only, for tests and benchmarks alike
// (no test framework): both link JACK.
#pragma once

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace chimewick_test {

struct JackClientCloser {
  void operator()(jack_client_t* client) const { jack_client_close(client); }
};
using JackClient = std::unique_ptr<jack_client_t, JackClientCloser>;

// A client of its own with one port, the ground of JackKeys and JackEars.
class JackClientWithPort {
 public:
  JackClientWithPort(const JackClientWithPort&) = delete;
  JackClientWithPort& operator=(const JackClientWithPort&) = delete;

  // Closes the client (after a server death too, before any new server).
  // UI thread; waits for the client's thread to end.
  void close() {
    client_.reset();
    port_ = nullptr;
  }
  jack_client_t* client() const { return client_.get(); }
  // The port's full name. Any thread.
  const char* name() const { return jack_port_name(port_); }

 protected:
  JackClientWithPort() = default;
  ~JackClientWithPort() = default;

  // Opens the client as clientName (on the server JACK_DEFAULT_SERVER names)
  // with its port and process callback, not yet active; false when the
  // server does not take them. UI thread; waits for the server.
  bool openWithPort(const char* clientName, const char* portName, const char* type, unsigned long flags,
                    JackProcessCallback process, void* arg) {
    client_.reset(jack_client_open(clientName, JackNoStartServer, nullptr));
    if (client_ == nullptr) return false;
    jack_set_process_callback(client_.get(), process, arg);
    port_ = jack_port_register(client_.get(), portName, type, flags, 0);
    return port_ != nullptr;
  }

  JackClient client_;
  jack_port_t* port_ = nullptr;
};

// A keyboard: one client with a MIDI output that plays the messages it is
// given, all in one cycle, and notes when it played them.
class JackKeys : public JackClientWithPort {
 public:
  using Message = std::array<uint8_t, 3>;
  // The most messages one cycle plays.
  static constexpr std::size_t kMostMessages = 256;

  // Closes the client before what its thread reads goes.
  ~JackKeys() { close(); }

  // Opens the client of that name with its MIDI output "out" and activates
  // it; false when the server does not take it. UI thread; waits.
  bool open(const char* clientName) {
    return openWithPort(clientName, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, &JackKeys::process,
                        this) &&
           jack_activate(client_.get()) == 0;
  }
  // Whether the output has a connection. Any thread.
  bool connected() const { return jack_port_connected(port_) > 0; }

  // Plays messages (up to kMostMessages) at frame 0 of the next cycle;
  // program change and channel pressure go out with their one data byte.
  // UI thread, after sent(); does not wait.
  void send(const std::vector<Message>& messages) {
    count_ = std::min(messages.size(), queue_.size());
    std::copy_n(messages.begin(), count_, queue_.begin());
    pending_.store(true, std::memory_order_release);
  }
  // Whether the last messages sent have been played. Any thread.
  bool sent() const { return !pending_.load(std::memory_order_acquire); }
  // The first frame of the cycle that played the last messages. Any thread.
  jack_nframes_t playedAt() const { return playedAt_.load(std::memory_order_acquire); }
  // The steady clock's time (nanoseconds) at which that cycle began to play
  // them. Any thread.
  int64_t playedAtNs() const { return playedAtNs_.load(std::memory_order_acquire); }
  // The graph runs the keys have taken part in; the keys have no inputs, so
  // each run starts with them. Any thread.
  uint64_t cycles() const { return cycles_.load(std::memory_order_acquire); }
  // The graph run that played the last messages. Any thread.
  uint64_t playedInCycle() const { return playedInCycle_.load(std::memory_order_acquire); }

 private:
  static int process(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<JackKeys*>(arg);
    const uint64_t cycle = self->cycles_.load(std::memory_order_relaxed) + 1;
    self->cycles_.store(cycle, std::memory_order_release);
    void* buffer = jack_port_get_buffer(self->port_, frames);
    jack_midi_clear_buffer(buffer);
    if (!self->pending_.load(std::memory_order_acquire)) return 0;
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    self->playedAtNs_.store(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count(),
                            std::memory_order_release);
    for (std::size_t i = 0; i < self->count_; ++i) {
      const uint8_t kind = self->queue_[i][0] & 0xF0;
      jack_midi_event_write(buffer, 0, self->queue_[i].data(), kind == 0xC0 || kind == 0xD0 ? 2 : 3);
    }
    self->playedAt_.store(jack_last_frame_time(self->client_.get()), std::memory_order_release);
    self->playedInCycle_.store(cycle, std::memory_order_release);
    self->pending_.store(false, std::memory_order_release);
    return 0;
  }

  std::array<Message, kMostMessages> queue_{};
  std::size_t count_ = 0;
  std::atomic<bool> pending_{false};
  std::atomic<jack_nframes_t> playedAt_{0};
  std::atomic<int64_t> playedAtNs_{0};
  std::atomic<uint64_t> cycles_{0};
  std::atomic<uint64_t> playedInCycle_{0};
};

// The ears: one client with an audio input that measures each cycle's peak,
// counts the quiet cycles in a row, and notes the first frame heard once armed.
// It also counts the xruns the server reports.
class JackEars : public JackClientWithPort {
 public:
  // A sample louder than this is heard; a cycle whose peak stays under
  // kQuiet is quiet.
  static constexpr float kHeard = 1e-3f;
  static constexpr float kQuiet = 1e-4f;

  // Closes the client before what its thread reads goes.
  ~JackEars() { close(); }

  // Opens the client of that name with its audio input "in" and activates
  // it; false when the server does not take it. UI thread; waits.
  bool open(const char* clientName) {
    if (!openWithPort(clientName, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, &JackEars::process, this))
      return false;
    jack_set_xrun_callback(
        client_.get(),
        [](void* arg) {
          static_cast<JackEars*>(arg)->xruns_.fetch_add(1);
          return 0;
        },
        this);
    return jack_activate(client_.get()) == 0;
  }
  // Counts graph runs by the keys' count from now on: heardInCycle() says in
  // which run a sound was heard. UI thread, before arm().
  void countCyclesBy(const JackKeys& keys) { keys_ = &keys; }
  // Connects the output port of that full name to the ears. UI thread; waits.
  bool listenTo(const char* port) { return jack_connect(client_.get(), port, name()) == 0; }

  // Forgets what was heard: heardAt() is -1 until the next sound. Any thread.
  void arm() {
    heardAt_.store(-1, std::memory_order_release);
    armed_.store(true, std::memory_order_release);
  }
  // The first frame heard since arm(), or -1. Any thread.
  int64_t heardAt() const { return heardAt_.load(std::memory_order_acquire); }
  // The keys' graph run in which that frame was heard. Any thread, once
  // heardAt() is not -1.
  uint64_t heardInCycle() const { return heardInCycle_.load(std::memory_order_acquire); }
  // Cycles in a row in which nothing was heard. Any thread.
  uint32_t quietCycles() const { return quiet_.load(std::memory_order_acquire); }
  // The loudest sample heard since the client opened. Any thread.
  float loudest() const { return loudest_.load(std::memory_order_acquire); }
  // The xruns the server reported since the client opened. Any thread.
  int xruns() const { return xruns_.load(); }

 private:
  static int process(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<JackEars*>(arg);
    const auto* samples = static_cast<const float*>(jack_port_get_buffer(self->port_, frames));
    float peak = 0;
    jack_nframes_t first = frames;
    for (jack_nframes_t i = 0; i < frames; ++i) {
      const float level = std::fabs(samples[i]);
      peak = std::max(peak, level);
      if (first == frames && level > kHeard) first = i;
    }
    self->loudest_.store(std::max(self->loudest_.load(std::memory_order_relaxed), peak),
                         std::memory_order_release);
    self->quiet_.store(peak < kQuiet ? self->quiet_.load(std::memory_order_relaxed) + 1 : 0,
                       std::memory_order_release);
    if (first < frames && self->armed_.load(std::memory_order_acquire)) {
      if (self->keys_ != nullptr) self->heardInCycle_.store(self->keys_->cycles(), std::memory_order_release);
      self->heardAt_.store(int64_t(jack_last_frame_time(self->client_.get())) + first,
                           std::memory_order_release);
      self->armed_.store(false, std::memory_order_release);
    }
    return 0;
  }

  const JackKeys* keys_ = nullptr;
  std::atomic<int64_t> heardAt_{-1};
  std::atomic<uint64_t> heardInCycle_{0};
  std::atomic<bool> armed_{false};
  std::atomic<uint32_t> quiet_{0};
  std::atomic<float> loudest_{0};
  std::atomic<int> xruns_{0};
};

// Both, as "probe-keys" and "probe-ears".
struct JackKeysAndEars {
  JackKeys keys;
  JackEars ears;

  // Opens and activates both clients. UI thread; waits for the server.
  bool open() {
    ears.countCyclesBy(keys);
    return keys.open("probe-keys") && ears.open("probe-ears");
  }
  // Closes both clients. UI thread; waits for their threads to end.
  void close() {
    keys.close();
    ears.close();
  }
  // The frames from the last messages played to the first sound heard since
  // arm(), or -1 while nothing is heard. Any thread.
  int64_t latency() const {
    const int64_t heard = ears.heardAt();
    return heard < 0 ? -1 : heard - int64_t(keys.playedAt());
  }
  // The graph runs from the one that played the last messages to the one in
  // which they were first heard, once heard. Unlike latency(), a server that
  // runs a cycle late (a loaded machine) does not count here: the frame clock
  // moves on, but the next run waits for the late one to end. Any thread.
  int64_t cyclesLate() const { return int64_t(ears.heardInCycle()) - int64_t(keys.playedInCycle()); }
};

}  // namespace chimewick_test
