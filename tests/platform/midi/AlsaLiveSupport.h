// What the live tests of the ALSA backend play with on a real sequencer:
// sequencer clients of the test's own (a keyboard program, a player writing
// straight to a port, a patchbay), and the USB MIDI keyboard that the test
// machine makes with the kernel's USB gadget (see vm/vm-init.sh).
#pragma once

#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace alsa_live {

using Bytes = std::vector<uint8_t>;

inline bool haveSequencer() { return access("/dev/snd/seq", R_OK | W_OK) == 0; }

constexpr int32_t handleOf(int client, int port) { return (client << 16) | port; }

// A sequencer client of the test's own.
class SeqClient {
 public:
  // Opens a client named name; with an output port named after it, readable
  // and subscribable (a source) when source is true, else readable only.
  explicit SeqClient(const std::string& name, bool withPort = true, bool source = true) {
    snd_seq_t* raw = nullptr;
    if (snd_seq_open(&raw, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0) return;
    seq_.reset(raw);
    snd_seq_set_client_name(raw, name.c_str());
    snd_midi_event_t* encoder = nullptr;
    if (snd_midi_event_new(4096, &encoder) == 0) encoder_.reset(encoder);
    if (withPort) {
      const unsigned caps = SND_SEQ_PORT_CAP_READ | (source ? SND_SEQ_PORT_CAP_SUBS_READ : 0);
      port_ = snd_seq_create_simple_port(raw, (name + " out").c_str(), caps,
                                         SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    }
  }

  bool ok() const { return seq_ && encoder_ && port_ >= 0; }
  int client() const { return seq_ ? snd_seq_client_id(seq_.get()) : -1; }
  int32_t handle() const { return handleOf(client(), port_); }

  // Sends MIDI bytes from the port: to its subscribers, or straight to dest
  // (a port that never subscribed to it). Waits until the kernel has them.
  void send(const Bytes& bytes, std::optional<int32_t> dest = std::nullopt) {
    snd_midi_event_reset_encode(encoder_.get());
    for (uint8_t b : bytes) {
      snd_seq_event_t ev;
      snd_seq_ev_clear(&ev);
      if (snd_midi_event_encode_byte(encoder_.get(), b, &ev) != 1) continue;
      snd_seq_ev_set_source(&ev, port_);
      if (dest)
        snd_seq_ev_set_dest(&ev, *dest >> 16, *dest & 0xFFFF);
      else
        snd_seq_ev_set_subs(&ev);
      snd_seq_ev_set_direct(&ev);
      snd_seq_event_output_direct(seq_.get(), &ev);
    }
  }

  // As a patchbay: connects or disconnects sender to dest.
  int patch(bool connect, int32_t sender, int32_t dest) {
    snd_seq_port_subscribe_t* sub = nullptr;
    snd_seq_port_subscribe_alloca(&sub);
    const snd_seq_addr_t s{uint8_t(sender >> 16), uint8_t(sender & 0xFF)};
    const snd_seq_addr_t d{uint8_t(dest >> 16), uint8_t(dest & 0xFF)};
    snd_seq_port_subscribe_set_sender(sub, &s);
    snd_seq_port_subscribe_set_dest(sub, &d);
    return connect ? snd_seq_subscribe_port(seq_.get(), sub) : snd_seq_unsubscribe_port(seq_.get(), sub);
  }

  // Every client of the sequencer with its ports, as a patchbay sees them.
  struct Port {
    int port;
    std::string name;
    unsigned capability;
  };
  struct Client {
    int client;
    std::string name;
    bool kernel;
    std::vector<Port> ports;
  };
  std::vector<Client> clients() {
    std::vector<Client> list;
    snd_seq_client_info_t* c = nullptr;
    snd_seq_port_info_t* p = nullptr;
    snd_seq_client_info_alloca(&c);
    snd_seq_port_info_alloca(&p);
    snd_seq_client_info_set_client(c, -1);
    while (snd_seq_query_next_client(seq_.get(), c) >= 0) {
      Client entry{snd_seq_client_info_get_client(c),
                   snd_seq_client_info_get_name(c),
                   snd_seq_client_info_get_type(c) == SND_SEQ_KERNEL_CLIENT,
                   {}};
      snd_seq_port_info_set_client(p, entry.client);
      snd_seq_port_info_set_port(p, -1);
      while (snd_seq_query_next_port(seq_.get(), p) >= 0)
        entry.ports.push_back({snd_seq_port_info_get_port(p), snd_seq_port_info_get_name(p),
                               snd_seq_port_info_get_capability(p)});
      list.push_back(std::move(entry));
    }
    return list;
  }

  // How many subscribers write to the port at handle.
  int writersOf(int32_t handle) {
    snd_seq_query_subscribe_t* query = nullptr;
    snd_seq_query_subscribe_alloca(&query);
    const snd_seq_addr_t root{uint8_t(handle >> 16), uint8_t(handle & 0xFF)};
    snd_seq_query_subscribe_set_root(query, &root);
    snd_seq_query_subscribe_set_type(query, SND_SEQ_QUERY_SUBS_WRITE);
    snd_seq_query_subscribe_set_index(query, 0);
    int count = 0;
    while (snd_seq_query_port_subscribers(seq_.get(), query) >= 0) {
      ++count;
      snd_seq_query_subscribe_set_index(query, snd_seq_query_subscribe_get_index(query) + 1);
    }
    return count;
  }

  // Leaves the sequencer: its port and client exit.
  void close() { seq_.reset(); }

 private:
  struct SeqCloser {
    void operator()(snd_seq_t* s) const noexcept { snd_seq_close(s); }
  };
  struct EncoderFree {
    void operator()(snd_midi_event_t* e) const noexcept { snd_midi_event_free(e); }
  };
  std::unique_ptr<snd_seq_t, SeqCloser> seq_;
  std::unique_ptr<snd_midi_event_t, EncoderFree> encoder_;
  int port_ = -1;
};

// The test machine's USB MIDI keyboard: plugging binds the USB gadget to the
// device controller of dummy_hcd, so that snd-usb-audio finds a keyboard;
// keys are bytes written to the gadget's own MIDI device.
class UsbKeys {
 public:
  // The keyboard that the environment describes (CHIMEWICK_TEST_USB_*), if any.
  static std::unique_ptr<UsbKeys> fromEnvironment() {
    const char* gadget = std::getenv("CHIMEWICK_TEST_USB_GADGET");
    const char* udc = std::getenv("CHIMEWICK_TEST_USB_UDC");
    const char* card = std::getenv("CHIMEWICK_TEST_USB_CARD");
    const char* name = std::getenv("CHIMEWICK_TEST_USB_NAME");
    if (!gadget || !udc || !card || !name || access(gadget, W_OK) != 0) return nullptr;
    return std::unique_ptr<UsbKeys>(new UsbKeys(gadget, udc, card, name));
  }

  const std::string& name() const { return name_; }

  bool plug() { return writeFile(gadget_ + "/UDC", udc_); }
  bool unplug() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    return writeFile(gadget_ + "/UDC", "");
  }

  // Plays bytes on the keyboard (opening its device at the first call).
  bool play(const Bytes& bytes) {
    if (fd_ < 0) {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while ((fd_ = ::open(devicePath().c_str(), O_WRONLY | O_CLOEXEC)) < 0 &&
             std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (fd_ < 0) return false;
    }
    return ::write(fd_, bytes.data(), bytes.size()) == ssize_t(bytes.size());
  }

  ~UsbKeys() {
    if (fd_ >= 0) ::close(fd_);
  }
  UsbKeys(const UsbKeys&) = delete;
  UsbKeys& operator=(const UsbKeys&) = delete;

 private:
  UsbKeys(std::string gadget, std::string udc, std::string card, std::string name)
      : gadget_(std::move(gadget)), udc_(std::move(udc)), card_(std::move(card)), name_(std::move(name)) {}

  static bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text << '\n';
    out.flush();
    return bool(out);
  }

  // The gadget side's raw MIDI device: /proc/asound/<card id> links to cardN.
  std::string devicePath() const {
    char target[64] = {};
    const ssize_t n = ::readlink(("/proc/asound/" + card_).c_str(), target, sizeof target - 1);
    if (n <= 4) return "/dev/snd/none";
    return "/dev/snd/midiC" + std::string(target + 4, size_t(n - 4)) + "D0";
  }

  std::string gadget_, udc_, card_, name_;
  int fd_ = -1;
};

// The notes a run of packets leaves down, by status & 0x0F << 8 | note.
inline std::vector<int> notesLeftDown(const std::vector<Bytes>& packets) {
  std::vector<int> down;
  for (const Bytes& p : packets) {
    if (p.size() < 3) continue;
    const int kind = p[0] & 0xF0, key = ((p[0] & 0x0F) << 8) | p[1];
    std::erase(down, key);
    if (kind == 0x90 && p[2] > 0) down.push_back(key);
  }
  return down;
}

}  // namespace alsa_live
