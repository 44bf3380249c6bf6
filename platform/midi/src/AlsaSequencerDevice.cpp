// The real sequencer behind the AlsaSequencer seam: /dev/snd/seq through
// alsa-lib, opened non-blocking.
#include <cerrno>

#include "AlsaErrorLog.h"
#include "AlsaSequencer.h"

namespace chimewick::midi {
namespace {

struct SeqDeleter {
  void operator()(snd_seq_t* seq) const noexcept { snd_seq_close(seq); }
};
using SeqHandle = std::unique_ptr<snd_seq_t, SeqDeleter>;

class AlsaSequencerDevice final : public AlsaSequencer {
 public:
  explicit AlsaSequencerDevice(SeqHandle seq)
      : seq_(std::move(seq)), client_(snd_seq_client_id(seq_.get())) {}

  int clientId() override { return client_; }

  int setInputPool(int events) override { return snd_seq_set_client_pool_input(seq_.get(), size_t(events)); }

  int setInputBufferSize(size_t bytes) override { return snd_seq_set_input_buffer_size(seq_.get(), bytes); }

  int createPort(const std::string& name, unsigned capability, unsigned type) override {
    return snd_seq_create_simple_port(seq_.get(), name.c_str(), capability, type);
  }

  int deletePort(int port) override { return snd_seq_delete_simple_port(seq_.get(), port); }

  int connectFrom(int port, int senderClient, int senderPort) override {
    return snd_seq_connect_from(seq_.get(), port, senderClient, senderPort);
  }

  std::vector<AlsaPortListing> ports() override {
    std::vector<AlsaPortListing> list;
    snd_seq_client_info_t* client = nullptr;
    snd_seq_port_info_t* port = nullptr;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(seq_.get(), client) >= 0) {
      const int id = snd_seq_client_info_get_client(client);
      const char* clientName = snd_seq_client_info_get_name(client);
      const bool kernel = snd_seq_client_info_get_type(client) == SND_SEQ_KERNEL_CLIENT;
      snd_seq_port_info_set_client(port, id);
      snd_seq_port_info_set_port(port, -1);
      while (snd_seq_query_next_port(seq_.get(), port) >= 0) {
        const char* portName = snd_seq_port_info_get_name(port);
        list.push_back({id, snd_seq_port_info_get_port(port), snd_seq_port_info_get_capability(port),
                        snd_seq_port_info_get_type(port), kernel, clientName ? clientName : "",
                        portName ? portName : ""});
      }
    }
    return list;
  }

  std::vector<pollfd> pollDescriptors() override {
    const int count = snd_seq_poll_descriptors_count(seq_.get(), POLLIN);
    std::vector<pollfd> fds(size_t(count > 0 ? count : 0));
    if (!fds.empty()) snd_seq_poll_descriptors(seq_.get(), fds.data(), unsigned(fds.size()), POLLIN);
    return fds;
  }

  int eventInput(snd_seq_event_t*& ev) override {
    ev = nullptr;
    const int result = snd_seq_event_input(seq_.get(), &ev);
    if (result >= 0 && ev == nullptr) return -EAGAIN;
    return result;
  }

 private:
  SeqHandle seq_;
  int client_;
};

}  // namespace

std::unique_ptr<AlsaSequencer> openAlsaSequencer(const std::string& name, int32_t& status) {
  routeAlsaErrorsToLog();
  snd_seq_t* raw = nullptr;
  const int err = snd_seq_open(&raw, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
  if (err < 0 || raw == nullptr) {
    status = err < 0 ? err : -ENODEV;
    return nullptr;
  }
  SeqHandle seq(raw);
  snd_seq_set_client_name(seq.get(), name.empty() ? "Chimewick" : name.c_str());
  status = 0;
  return std::make_unique<AlsaSequencerDevice>(std::move(seq));
}

}  // namespace chimewick::midi
