// A MIDI keyboard for live JACK tests, in a process of its own as a real
// keyboard's bridge is: a JACK client named by the first argument with one
// MIDI output "out". Each line on standard input ("90 3c 64") is sent as one
// message at the start of the next cycle; end of input unplugs it (the client
// closes) and the program ends. With "inactive" as second argument the client
// stays inactive (its port registered) until the line "activate". The line
// "drop" unregisters the port while the client stays, as a bridge of several
// keyboards (a2jmidid) does when one of them is unplugged. "burst N" sends N
// note-ons, each followed by its note-off, in one cycle; "sysex N" one
// system-exclusive message of N bytes.
#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

namespace {

struct Message {
  std::array<unsigned char, 8> bytes{};
  size_t size = 0;
};

std::array<Message, 1024> messages;
std::atomic<unsigned> head{0};
std::atomic<unsigned> tail{0};
std::atomic<jack_port_t*> out{nullptr};
std::atomic<int> burst{0};
std::atomic<int> sysex{0};
std::array<unsigned char, 60000> sysexBytes;

int process(jack_nframes_t frames, void*) {
  jack_port_t* port = out.load(std::memory_order_acquire);
  if (port == nullptr) return 0;
  void* buffer = jack_port_get_buffer(port, frames);
  jack_midi_clear_buffer(buffer);
  // A burst has a cycle (and the whole buffer) to itself; what else was
  // asked for follows in the next one.
  if (const int n = burst.exchange(0)) {
    for (int i = 0; i < n; ++i) {
      const unsigned char on[3] = {0x90, static_cast<unsigned char>(i % 128), 100};
      const unsigned char off[3] = {0x80, static_cast<unsigned char>(i % 128), 0};
      if (jack_midi_event_write(buffer, 0, on, 3) != 0) break;
      if (jack_midi_event_write(buffer, 0, off, 3) != 0) break;
    }
    return 0;
  }
  unsigned h = head.load(std::memory_order_relaxed);
  const unsigned t = tail.load(std::memory_order_acquire);
  for (; h != t; ++h) {
    const Message& m = messages[h % messages.size()];
    if (jack_midi_event_write(buffer, 0, m.bytes.data(), m.size) != 0) break;
  }
  head.store(h, std::memory_order_release);
  if (const int n = sysex.exchange(0)) jack_midi_event_write(buffer, 0, sysexBytes.data(), size_t(n));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  jack_client_t* client =
      jack_client_open(argv[1], jack_options_t(JackNoStartServer | JackUseExactName), nullptr);
  if (client == nullptr) return 1;
  jack_port_t* port = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  if (port == nullptr) return 1;
  out.store(port);
  jack_set_process_callback(client, process, nullptr);
  const bool inactive = argc > 2 && std::string(argv[2]) == "inactive";
  if (!inactive && jack_activate(client) != 0) return 1;
  for (std::string line; std::getline(std::cin, line);) {
    if (line == "activate") {
      if (jack_activate(client) != 0) return 1;
      continue;
    }
    if (line.rfind("burst ", 0) == 0) {
      burst.store(std::stoi(line.substr(6)));
      continue;
    }
    if (line.rfind("sysex ", 0) == 0) {
      const int n = std::min(std::stoi(line.substr(6)), int(sysexBytes.size()));
      sysexBytes[0] = 0xF0;
      for (int i = 1; i + 1 < n; ++i) sysexBytes[size_t(i)] = static_cast<unsigned char>(i % 128);
      sysexBytes[size_t(n - 1)] = 0xF7;
      sysex.store(n);
      continue;
    }
    if (line == "drop") {
      out.store(nullptr);
      // A cycle that took the port before may still run: let it end.
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      jack_port_unregister(client, port);
      continue;
    }
    std::istringstream in(line);
    Message m;
    for (unsigned value; m.size < m.bytes.size() && in >> std::hex >> value;)
      m.bytes[m.size++] = static_cast<unsigned char>(value);
    if (m.size == 0) continue;
    const unsigned t = tail.load(std::memory_order_relaxed);
    messages[t % messages.size()] = m;
    tail.store(t + 1, std::memory_order_release);
  }
  jack_client_close(client);
  return 0;
}
