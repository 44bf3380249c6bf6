// The ALSA sequencer backend. The client is one sequencer client with a
// private port subscribed to System Announce; each input port is a sequencer
// client of its own (same name) with a writable, subscribable port and its
// own input thread, so releasing a port ends exactly its delivery.
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "AlsaEventDecoder.h"
#include "InputThreadPriority.h"
#include "MidiService.h"

namespace chimewick::midi {
namespace {

struct SeqDeleter {
  void operator()(snd_seq_t* seq) const noexcept { snd_seq_close(seq); }
};
using SeqHandle = std::unique_ptr<snd_seq_t, SeqDeleter>;

// Clients of this process, left out of the sources.
struct OwnClients {
  std::mutex mutex;
  std::vector<int> ids;

  void add(int id) {
    std::lock_guard lock(mutex);
    ids.push_back(id);
  }
  void remove(int id) {
    std::lock_guard lock(mutex);
    std::erase(ids, id);
  }
  std::vector<int> snapshot() {
    std::lock_guard lock(mutex);
    return ids;
  }
};

SeqHandle openSequencer(const std::string& name, int32_t& status) {
  snd_seq_t* raw = nullptr;
  const int err = snd_seq_open(&raw, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
  if (err < 0 || raw == nullptr) {
    status = err < 0 ? err : kStatusNoService;
    return nullptr;
  }
  SeqHandle seq(raw);
  snd_seq_set_client_name(seq.get(), name.empty() ? "Chimewick" : name.c_str());
  status = kStatusOk;
  return seq;
}

// Makes a private port of seq that receives System Announce events.
int subscribeAnnounce(snd_seq_t* seq) {
  const int port = snd_seq_create_simple_port(
      seq, "announce", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT, SND_SEQ_PORT_TYPE_APPLICATION);
  if (port < 0) return port;
  const int err = snd_seq_connect_from(seq, port, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
  return err < 0 ? err : port;
}

// Reads seq's events until stop, polling with a bounded time-out so that stop
// is seen within 50 ms. Input thread.
template <class Handler>
void readEvents(snd_seq_t* seq, const std::atomic<bool>& stop, Handler&& handler) {
  const int count = snd_seq_poll_descriptors_count(seq, POLLIN);
  std::vector<pollfd> fds(size_t(count > 0 ? count : 0));
  if (!fds.empty()) snd_seq_poll_descriptors(seq, fds.data(), unsigned(fds.size()), POLLIN);
  while (!stop.load(std::memory_order_acquire)) {
    if (snd_seq_event_input_pending(seq, 1) <= 0) {
      if (::poll(fds.data(), nfds_t(fds.size()), 50) <= 0) continue;
    }
    for (;;) {
      snd_seq_event_t* ev = nullptr;
      const int err = snd_seq_event_input(seq, &ev);
      if (err == -ENOSPC) continue;  // input overran: what is left still counts
      if (err < 0 || ev == nullptr) break;
      handler(*ev);
      if (stop.load(std::memory_order_acquire)) return;
    }
  }
}

class AlsaPort final : public InputPort {
 public:
  static std::unique_ptr<AlsaPort> make(const std::string& clientName, const std::string& portName,
                                        InputReceiver& receiver, std::shared_ptr<OwnClients> own,
                                        int32_t& status) {
    SeqHandle seq = openSequencer(clientName, status);
    if (!seq) return nullptr;
    auto decoder = AlsaEventDecoder::make();
    if (!decoder) {
      status = -ENOMEM;
      return nullptr;
    }
    const int port =
        snd_seq_create_simple_port(seq.get(), portName.empty() ? "input" : portName.c_str(),
                                   SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                   SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (port < 0) {
      status = port;
      return nullptr;
    }
    // Knowing when a connected source leaves lets the port release its notes.
    if (const int err = subscribeAnnounce(seq.get()); err < 0) {
      status = err;
      return nullptr;
    }
    status = kStatusOk;
    return std::unique_ptr<AlsaPort>(
        new AlsaPort(std::move(seq), port, std::move(decoder), receiver, std::move(own)));
  }

  ~AlsaPort() override {
    stop_.store(true, std::memory_order_release);
    if (reader_.joinable()) reader_.join();
    own_->remove(client_);
  }

  int32_t handle() const override { return alsaHandle(client_, port_); }

  int32_t connect(int32_t source) override {
    handler_.connected(source);
    const int err = snd_seq_connect_from(seq_.get(), port_, alsaClientOf(source), alsaPortOf(source));
    // A second subscription of the same pair is refused as busy: connected.
    if (err == -EBUSY) return kStatusOk;
    return err < 0 ? err : kStatusOk;
  }

 private:
  AlsaPort(SeqHandle seq, int port, std::unique_ptr<AlsaEventDecoder> decoder, InputReceiver& receiver,
           std::shared_ptr<OwnClients> own)
      : seq_(std::move(seq)),
        client_(snd_seq_client_id(seq_.get())),
        port_(port),
        own_(std::move(own)),
        handler_(std::move(decoder), receiver, client_) {
    own_->add(client_);
    reader_ = std::thread([this] {
      raiseInputThreadPriority();
      readEvents(seq_.get(), stop_, [this](const snd_seq_event_t& ev) { handler_.handle(ev); });
    });
  }

  SeqHandle seq_;
  int client_;
  int port_;
  std::shared_ptr<OwnClients> own_;
  AlsaInputHandler handler_;
  std::atomic<bool> stop_{false};
  std::thread reader_;  // last: joined before anything it uses goes
};

class AlsaClient final : public ServiceClient {
 public:
  static std::shared_ptr<AlsaClient> make(const std::string& name, ClientListener& listener,
                                          int32_t& status) {
    SeqHandle seq = openSequencer(name, status);
    if (!seq) return nullptr;
    if (const int err = subscribeAnnounce(seq.get()); err < 0) {
      status = err;
      return nullptr;
    }
    status = kStatusOk;
    return std::shared_ptr<AlsaClient>(new AlsaClient(std::move(seq), name, listener));
  }

  ~AlsaClient() override {
    stop_.store(true, std::memory_order_release);
    if (reader_.joinable()) reader_.join();
  }

  int32_t handle() const override { return client_; }

  std::vector<SourceInfo> sources() override {
    const std::vector<int> ours = own_->snapshot();
    std::vector<SourceInfo> list;
    snd_seq_client_info_t* client = nullptr;
    snd_seq_port_info_t* port = nullptr;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    snd_seq_client_info_set_client(client, -1);
    std::lock_guard lock(queryMutex_);
    while (snd_seq_query_next_client(seq_.get(), client) >= 0) {
      const int id = snd_seq_client_info_get_client(client);
      snd_seq_port_info_set_client(port, id);
      snd_seq_port_info_set_port(port, -1);
      while (snd_seq_query_next_port(seq_.get(), port) >= 0) {
        const AlsaPortFacts facts{id, snd_seq_port_info_get_port(port),
                                  snd_seq_port_info_get_capability(port), snd_seq_port_info_get_type(port)};
        if (!isAlsaSource(facts, ours)) continue;
        const char* portName = snd_seq_port_info_get_name(port);
        list.push_back({alsaHandle(facts.client, facts.port), portName ? portName : ""});
      }
    }
    return list;
  }

  std::unique_ptr<InputPort> createInputPort(const std::string& name, InputReceiver& receiver,
                                             int32_t& status) override {
    return AlsaPort::make(name_, name, receiver, own_, status);
  }

  void detachListener() override {
    std::lock_guard lock(listenerMutex_);
    listener_ = nullptr;
  }

 private:
  AlsaClient(SeqHandle seq, std::string name, ClientListener& listener)
      : seq_(std::move(seq)),
        client_(snd_seq_client_id(seq_.get())),
        name_(std::move(name)),
        listener_(&listener) {
    own_->add(client_);
    reader_ = std::thread(
        [this] { readEvents(seq_.get(), stop_, [this](const snd_seq_event_t& ev) { announce(ev); }); });
  }

  // Turns System Announce events into the listener's notifications.
  // Announce thread.
  void announce(const snd_seq_event_t& ev) {
    const int client = ev.data.addr.client;
    const std::vector<int> ours = own_->snapshot();
    if (std::find(ours.begin(), ours.end(), client) != ours.end()) return;
    std::lock_guard lock(listenerMutex_);
    if (listener_ == nullptr) return;
    const int32_t handle = alsaHandle(client, ev.data.addr.port);
    switch (ev.type) {
      case SND_SEQ_EVENT_CLIENT_START:
        listener_->objectAdded(ObjectKind::Client, client);
        break;
      case SND_SEQ_EVENT_CLIENT_EXIT:
        listener_->objectRemoved(ObjectKind::Client, client);
        break;
      case SND_SEQ_EVENT_PORT_START:
        listener_->objectAdded(ObjectKind::Source, handle);
        break;
      case SND_SEQ_EVENT_PORT_EXIT:
        listener_->objectRemoved(ObjectKind::Source, handle);
        break;
      case SND_SEQ_EVENT_CLIENT_CHANGE:
      case SND_SEQ_EVENT_PORT_CHANGE:
        listener_->setupChanged();
        break;
      default:
        break;
    }
  }

  SeqHandle seq_;
  int client_;
  std::string name_;
  std::shared_ptr<OwnClients> own_ = std::make_shared<OwnClients>();
  std::mutex queryMutex_;
  std::mutex listenerMutex_;
  ClientListener* listener_;
  std::atomic<bool> stop_{false};
  std::thread reader_;  // last: joined before anything it uses goes
};

}  // namespace

std::shared_ptr<ServiceClient> openAlsaClient(const std::string& name, ClientListener& listener,
                                              int32_t& status) {
  return AlsaClient::make(name, listener, status);
}

}  // namespace chimewick::midi
