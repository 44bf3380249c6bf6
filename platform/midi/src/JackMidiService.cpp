// The JACK MIDI backend. One JACK client per MIDI client; an input port is a
// JACK MIDI input (one more JACK port for every further source it connects,
// so each event is known by its source). JACK's process callback only copies
// events into the port's lock-free ring buffer; the port's reader thread
// turns them into packet lists and raises Read.
#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "DebugMessage.h"
#include "InputThreadPriority.h"
#include "MidiService.h"

namespace chimewick::midi {
namespace {

struct JackClientDeleter {
  void operator()(jack_client_t* c) const noexcept { jack_client_close(c); }
};
struct RingDeleter {
  void operator()(jack_ringbuffer_t* r) const noexcept { jack_ringbuffer_free(r); }
};
using JackClientHandle = std::unique_ptr<jack_client_t, JackClientDeleter>;
using RingHandle = std::unique_ptr<jack_ringbuffer_t, RingDeleter>;

// Room for a 64 KiB system-exclusive message and then some.
constexpr size_t kRingBytes = 256 * 1024;
constexpr size_t kMaxRoutes = 64;

// One record in a port's ring buffer, followed by size bytes.
struct RecordHeader {
  uint32_t route;
  uint32_t size;
};

// A JACK input port as the process callback sees it: where its events go.
struct Route {
  std::atomic<jack_port_t*> port{nullptr};
  std::atomic<jack_ringbuffer_t*> ring{nullptr};
};

class JackPort;

class JackClient final : public ServiceClient, public std::enable_shared_from_this<JackClient> {
 public:
  static std::shared_ptr<JackClient> make(const std::string& name, ClientListener& listener,
                                          int32_t& status) {
    jack_status_t jackStatus{};
    jack_client_t* raw =
        jack_client_open(name.empty() ? "Chimewick" : name.c_str(), JackNoStartServer, &jackStatus);
    if (raw == nullptr) {
      status = kStatusNoService;
      return nullptr;
    }
    auto client = std::shared_ptr<JackClient>(new JackClient(JackClientHandle(raw), listener));
    jack_set_process_callback(raw, &JackClient::process, client.get());
    jack_set_port_registration_callback(raw, &JackClient::portRegistration, client.get());
    jack_set_client_registration_callback(raw, &JackClient::clientRegistration, client.get());
    if (const int err = jack_activate(raw); err != 0) {
      status = err > 0 ? -err : err;
      return nullptr;
    }
    status = kStatusOk;
    return client;
  }

  ~JackClient() override {
    // Closing ends the callbacks before the members they use go.
    jack_deactivate(client_.get());
    client_.reset();
  }

  int32_t handle() const override { return handle_; }

  std::vector<SourceInfo> sources() override {
    std::vector<SourceInfo> list;
    const char** names = jack_get_ports(client_.get(), nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput);
    if (names == nullptr) return list;
    for (const char** n = names; *n != nullptr; ++n) {
      jack_port_t* port = jack_port_by_name(client_.get(), *n);
      if (port == nullptr || jack_port_is_mine(client_.get(), port)) continue;
      list.push_back({handleOf(*n), *n});
    }
    jack_free(names);
    return list;
  }

  std::unique_ptr<InputPort> createInputPort(const std::string& name, InputReceiver& receiver,
                                             int32_t& status) override;

  void detachListener() override {
    std::lock_guard lock(listenerMutex_);
    listener_ = nullptr;
  }

  // The stable handle of a source port's full name.
  int32_t handleOf(const std::string& fullName) {
    std::lock_guard lock(namesMutex_);
    auto [it, added] = handles_.try_emplace(fullName, nextHandle_);
    if (added) names_[nextHandle_++] = fullName;
    return it->second;
  }
  std::string nameOf(int32_t handle) {
    std::lock_guard lock(namesMutex_);
    auto it = names_.find(handle);
    return it == names_.end() ? std::string() : it->second;
  }

  jack_client_t* jack() const noexcept { return client_.get(); }

  // A free route slot for a port, or -1. UI thread.
  int claimRoute(jack_port_t* port, jack_ringbuffer_t* ring) {
    std::lock_guard lock(routesMutex_);
    for (size_t i = 0; i < routes_.size(); ++i) {
      if (routeUsed_[i]) continue;
      routeUsed_[i] = true;
      routes_[i].ring.store(ring, std::memory_order_seq_cst);
      routes_[i].port.store(port, std::memory_order_seq_cst);
      return int(i);
    }
    return -1;
  }

  // Takes a route away from the process callback and waits until a cycle
  // that might still use it has finished. UI thread.
  void releaseRoute(int route) {
    routes_[size_t(route)].port.store(nullptr, std::memory_order_seq_cst);
    routes_[size_t(route)].ring.store(nullptr, std::memory_order_seq_cst);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (inProcess_.load(std::memory_order_seq_cst) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::yield();
    std::lock_guard lock(routesMutex_);
    routeUsed_[size_t(route)] = false;
  }

  void addPort(JackPort* port) {
    std::lock_guard lock(portsMutex_);
    ports_.push_back(port);
  }
  void removePort(JackPort* port) {
    std::lock_guard lock(portsMutex_);
    std::erase(ports_, port);
  }

 private:
  JackClient(JackClientHandle client, ClientListener& listener)
      : client_(std::move(client)), handle_(nextClientHandle_.fetch_add(1)), listener_(&listener) {}

  // JACK's process thread: copies each event into its route's ring buffer.
  // No lock, no allocation; an event that does not fit is dropped.
  static int process(jack_nframes_t frames, void* arg) noexcept {
    auto* self = static_cast<JackClient*>(arg);
    self->inProcess_.store(true, std::memory_order_seq_cst);
    for (uint32_t r = 0; r < kMaxRoutes; ++r) {
      jack_port_t* port = self->routes_[r].port.load(std::memory_order_seq_cst);
      jack_ringbuffer_t* ring = self->routes_[r].ring.load(std::memory_order_seq_cst);
      if (port == nullptr || ring == nullptr) continue;
      void* buffer = jack_port_get_buffer(port, frames);
      if (buffer == nullptr) continue;
      const uint32_t count = jack_midi_get_event_count(buffer);
      for (uint32_t i = 0; i < count; ++i) {
        jack_midi_event_t ev;
        if (jack_midi_event_get(&ev, buffer, i) != 0) continue;
        const RecordHeader header{r, uint32_t(ev.size)};
        if (jack_ringbuffer_write_space(ring) < sizeof header + ev.size) continue;
        jack_ringbuffer_write(ring, reinterpret_cast<const char*>(&header), sizeof header);
        jack_ringbuffer_write(ring, reinterpret_cast<const char*>(ev.buffer), ev.size);
      }
    }
    self->inProcess_.store(false, std::memory_order_seq_cst);
    return 0;
  }

  static void portRegistration(jack_port_id_t id, int registered, void* arg);
  static void clientRegistration(const char*, int registered, void* arg) {
    auto* self = static_cast<JackClient*>(arg);
    std::lock_guard lock(self->listenerMutex_);
    if (self->listener_ == nullptr) return;
    if (registered)
      self->listener_->objectAdded(ObjectKind::Client, 0);
    else
      self->listener_->objectRemoved(ObjectKind::Client, 0);
  }

  JackClientHandle client_;
  int32_t handle_;
  std::mutex listenerMutex_;
  ClientListener* listener_;
  std::mutex namesMutex_;
  std::map<std::string, int32_t> handles_;
  std::map<int32_t, std::string> names_;
  int32_t nextHandle_ = 1;
  std::mutex routesMutex_;
  std::array<Route, kMaxRoutes> routes_{};
  std::array<bool, kMaxRoutes> routeUsed_{};
  std::atomic<bool> inProcess_{false};
  std::mutex portsMutex_;
  std::vector<JackPort*> ports_;
  static inline std::atomic<int32_t> nextClientHandle_{1};
};

class JackPort final : public InputPort {
 public:
  JackPort(std::shared_ptr<JackClient> client, std::string name, InputReceiver& receiver)
      : client_(std::move(client)),
        name_(std::move(name)),
        receiver_(receiver),
        ring_(jack_ringbuffer_create(kRingBytes)) {}

  // Registers the first JACK input; false with status on failure.
  bool start(int32_t& status) {
    if (!ring_) {
      status = -ENOMEM;
      return false;
    }
    if (addInput(status) < 0) return false;
    client_->addPort(this);
    reader_ = std::thread([this] {
      raiseInputThreadPriority();
      readLoop();
    });
    status = kStatusOk;
    return true;
  }

  ~JackPort() override {
    client_->removePort(this);
    for (const Input& input : inputs_) client_->releaseRoute(input.route);
    stop_.store(true, std::memory_order_release);
    if (reader_.joinable()) reader_.join();
    for (const Input& input : inputs_) jack_port_unregister(client_->jack(), input.port);
  }

  int32_t handle() const override { return handle_; }

  int32_t connect(int32_t source) override {
    const std::string sourceName = client_->nameOf(source);
    if (sourceName.empty() || jack_port_by_name(client_->jack(), sourceName.c_str()) == nullptr)
      return kStatusNoSuchSource;
    jack_port_t* input = nullptr;
    {
      std::lock_guard lock(inputsMutex_);
      for (Input& in : inputs_)
        if (in.source == source) input = in.port;
      if (input == nullptr) {
        for (Input& in : inputs_)
          if (in.source == 0) {
            in.source = source;
            input = in.port;
            break;
          }
      }
    }
    if (input == nullptr) {
      int32_t status = kStatusOk;
      const int index = addInput(status);
      if (index < 0) return status;
      std::lock_guard lock(inputsMutex_);
      inputs_[size_t(index)].source = source;
      input = inputs_[size_t(index)].port;
    }
    // A client that has just registered its port may not be active yet, and
    // JACK refuses connections to inactive clients: give it a moment.
    int err = 0;
    for (int attempt = 0; attempt < 20; ++attempt) {
      err = jack_connect(client_->jack(), sourceName.c_str(), jack_port_name(input));
      if (err == 0 || err == EEXIST) return kStatusOk;
      if (jack_port_by_name(client_->jack(), sourceName.c_str()) == nullptr) return kStatusNoSuchSource;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return err > 0 ? -err : (err < 0 ? err : -EIO);
  }

  // A source port went away. JACK's notification thread; the reader thread
  // passes it on after the events that came before it.
  void sourceGone(int32_t source) {
    std::lock_guard lock(inputsMutex_);
    for (Input& in : inputs_)
      if (in.source == source) {
        in.source = 0;
        goneSources_.push_back(source);
      }
  }

 private:
  struct Input {
    jack_port_t* port;
    int route;
    int32_t source;  // 0 while unassigned
  };

  // Registers one more JACK MIDI input; its index in inputs_, or -1.
  int addInput(int32_t& status) {
    std::lock_guard lock(inputsMutex_);
    const std::string portName = inputs_.empty() ? name_ : name_ + "-" + std::to_string(inputs_.size() + 1);
    jack_port_t* port =
        jack_port_register(client_->jack(), portName.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (port == nullptr) {
      status = -EBUSY;
      return -1;
    }
    const int route = client_->claimRoute(port, ring_.get());
    if (route < 0) {
      jack_port_unregister(client_->jack(), port);
      status = -ENOSPC;
      return -1;
    }
    inputs_.push_back({port, route, 0});
    return int(inputs_.size() - 1);
  }

  int32_t sourceOfRoute(uint32_t route) {
    std::lock_guard lock(inputsMutex_);
    for (const Input& in : inputs_)
      if (uint32_t(in.route) == route) return in.source;
    return 0;
  }

  // Reader thread: drains the ring, then passes on sources that went; polls
  // every millisecond and sees the stop flag at once.
  void readLoop() {
    std::vector<uint8_t> event;
    while (!stop_.load(std::memory_order_acquire)) {
      bool any = false;
      while (jack_ringbuffer_read_space(ring_.get()) >= sizeof(RecordHeader)) {
        RecordHeader header{};
        jack_ringbuffer_peek(ring_.get(), reinterpret_cast<char*>(&header), sizeof header);
        if (jack_ringbuffer_read_space(ring_.get()) < sizeof header + header.size) break;
        jack_ringbuffer_read_advance(ring_.get(), sizeof header);
        event.resize(header.size);
        jack_ringbuffer_read(ring_.get(), reinterpret_cast<char*>(event.data()), header.size);
        const int32_t source = sourceOfRoute(header.route);
        if (source == 0) continue;
        PacketData packets;
        packets.add(event);
        receiver_.received(source, std::move(packets));
        any = true;
      }
      std::vector<int32_t> gone;
      {
        std::lock_guard lock(inputsMutex_);
        gone.swap(goneSources_);
      }
      for (int32_t source : gone) receiver_.sourceGone(source);
      if (!any && gone.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  std::shared_ptr<JackClient> client_;
  std::string name_;
  InputReceiver& receiver_;
  int32_t handle_ = nextPortHandle_.fetch_add(1);
  RingHandle ring_;
  std::mutex inputsMutex_;
  std::vector<Input> inputs_;
  std::vector<int32_t> goneSources_;
  std::atomic<bool> stop_{false};
  std::thread reader_;
  static inline std::atomic<int32_t> nextPortHandle_{1};
};

std::unique_ptr<InputPort> JackClient::createInputPort(const std::string& name, InputReceiver& receiver,
                                                       int32_t& status) {
  auto port = std::make_unique<JackPort>(shared_from_this(), name.empty() ? "input" : name, receiver);
  if (!port->start(status)) return nullptr;
  return port;
}

void JackClient::portRegistration(jack_port_id_t id, int registered, void* arg) {
  auto* self = static_cast<JackClient*>(arg);
  jack_port_t* port = jack_port_by_id(self->jack(), id);
  if (port == nullptr || jack_port_is_mine(self->jack(), port)) return;
  const char* type = jack_port_type(port);
  if (type == nullptr || std::strcmp(type, JACK_DEFAULT_MIDI_TYPE) != 0) return;
  if (!(jack_port_flags(port) & JackPortIsOutput)) return;
  const int32_t handle = self->handleOf(jack_port_name(port));
  if (!registered) {
    std::lock_guard lock(self->portsMutex_);
    for (JackPort* p : self->ports_) p->sourceGone(handle);
  }
  std::lock_guard lock(self->listenerMutex_);
  if (self->listener_ == nullptr) return;
  if (registered)
    self->listener_->objectAdded(ObjectKind::Source, handle);
  else
    self->listener_->objectRemoved(ObjectKind::Source, handle);
}

}  // namespace

std::shared_ptr<ServiceClient> openJackClient(const std::string& name, ClientListener& listener,
                                              int32_t& status) {
  // JACK's own messages (a server that is not running, for one) go to our
  // trace output; the status tells the caller what happened.
  static std::once_flag quiet;
  std::call_once(quiet, [] {
    jack_set_error_function([](const char* text) { DebugMessageZel(rb::String("JACK: ") + text); });
    jack_set_info_function([](const char* text) { DebugMessageZel(rb::String("JACK: ") + text); });
  });
  return JackClient::make(name, listener, status);
}

}  // namespace chimewick::midi
