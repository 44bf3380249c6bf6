// A MIDI keyboard for live JACK tests, in a process of its own as a real
// keyboard's bridge is: a JACK client named by the first argument with one
// MIDI output "out". Each line on standard input ("90 3c 64") is sent as one
// message at the start of the next cycle; end of input unplugs it (the client
// closes) and the program ends. With "inactive" as second argument the client
// stays inactive (its port registered) until the line "activate".
#include <jack/jack.h>
#include <jack/midiport.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

namespace {

struct Message {
  std::array<unsigned char, 8> bytes{};
  size_t size = 0;
};

std::array<Message, 1024> messages;
std::atomic<unsigned> head{0};
std::atomic<unsigned> tail{0};
jack_port_t* out = nullptr;

int process(jack_nframes_t frames, void*) {
  void* buffer = jack_port_get_buffer(out, frames);
  jack_midi_clear_buffer(buffer);
  unsigned h = head.load(std::memory_order_relaxed);
  const unsigned t = tail.load(std::memory_order_acquire);
  for (; h != t; ++h) {
    const Message& m = messages[h % messages.size()];
    if (jack_midi_event_write(buffer, 0, m.bytes.data(), m.size) != 0) break;
  }
  head.store(h, std::memory_order_release);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  jack_client_t* client =
      jack_client_open(argv[1], jack_options_t(JackNoStartServer | JackUseExactName), nullptr);
  if (client == nullptr) return 1;
  out = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  jack_set_process_callback(client, process, nullptr);
  if (out == nullptr) return 1;
  const bool inactive = argc > 2 && std::string(argv[2]) == "inactive";
  if (!inactive && jack_activate(client) != 0) return 1;
  for (std::string line; std::getline(std::cin, line);) {
    if (line == "activate") {
      if (jack_activate(client) != 0) return 1;
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
