// The JACK MIDI backend, a member of the program's one JACK client (shared
// with the audio output, chimewick/JackSession.h). An input port is one JACK
// MIDI input that programs may connect to themselves, and one more for each
// source it connects, so that each event is known by its source. In every
// cycle the port hands the cycle's MIDI to its receiver (the port's Read) on
// JACK's real-time thread, before the audio output renders that cycle: a
// note is heard in the cycle it came in. The port's worker thread registers,
// connects and unregisters its JACK ports; it sleeps until there is work.
#include <jack/midiport.h>
#include <jack/uuid.h>
#include <pthread.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "JackTesting.h"
#include "MidiService.h"
#include "RealTimeLog.h"
#include "chimewick/JackSession.h"
#include "chimewick/Wakeup.h"

namespace chimewick::midi {
namespace {

using Clock = std::chrono::steady_clock;

// JACK inputs of one port: its own, and one per connected source.
constexpr size_t kMaxRoutes = 64;
// One cycle of one input: at most a JACK MIDI buffer's worth.
constexpr size_t kCyclePackets = 4096;
constexpr size_t kMinCycleBytes = 64 * 1024;
// A source whose client has just registered it may not be active yet, and
// JACK refuses to connect an inactive client: tries after 10 ms, 20 ms, and
// so on, about two and a half seconds in all.
constexpr int kConnectAttempts = 9;
constexpr auto kFirstRetry = std::chrono::milliseconds(10);

std::atomic<int> noticeDelayMs{0};

class JackPort;

class JackClient final : public ServiceClient,
                         public jack::Member,
                         public std::enable_shared_from_this<JackClient> {
 public:
  static std::shared_ptr<JackClient> make(const std::string& name, ClientListener& listener,
                                          int32_t& status) {
    std::shared_ptr<jack::Session> session = jack::Session::open(name.empty() ? "Chimewick" : name, status);
    if (!session) return nullptr;
    auto client = std::shared_ptr<JackClient>(new JackClient(session, listener));
    // Notices first, then the list: a source that comes or goes in between
    // is in one of them (the list takes a source seen twice once).
    session->join(*client, jack::Place::None);
    session->withClient([&](jack_client_t* c) { client->listSources(c, true); });
    status = kStatusOk;
    return client;
  }

  ~JackClient() override { session_->leave(*this); }

  int32_t handle() const override { return handle_; }

  std::vector<SourceInfo> sources() override {
    std::vector<SourceInfo> list;
    session_->withClient([&](jack_client_t* c) { list = listSources(c); });
    return list;
  }

  std::unique_ptr<InputPort> createInputPort(const std::string& name, InputReceiver& receiver,
                                             int32_t& status) override;

  void detachListener() override {
    std::lock_guard lock(listenerMutex_);
    listener_ = nullptr;
  }

  // JACK's notices (the notification thread).
  void portRegistered(jack_client_t* client, jack_port_id_t id, bool registered) override;
  void clientRegistered(jack_client_t*, const char*, bool registered) override {
    tell(registered ? &ClientListener::objectAdded : &ClientListener::objectRemoved, ObjectKind::Client, 0);
  }
  void portConnected(jack_client_t* client, jack_port_id_t a, jack_port_id_t b, bool connected) override;
  void serverLost() override;
  void serverBack(jack_client_t* client) override;

  // The stable handle of a port's full name. Any thread.
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

  jack::Session& session() noexcept { return *session_; }

  void addPort(JackPort* port) {
    std::lock_guard lock(portsMutex_);
    ports_.push_back(port);
  }
  void removePort(JackPort* port) {
    std::lock_guard lock(portsMutex_);
    std::erase(ports_, port);
  }

 private:
  JackClient(std::shared_ptr<jack::Session> session, ClientListener& listener)
      : session_(std::move(session)), handle_(nextClientHandle_.fetch_add(1)), listener_(&listener) {}

  // Lists the MIDI outputs of other clients and remembers each; announced:
  // they are all there before any notice still to come (the client's start).
  std::vector<SourceInfo> listSources(jack_client_t* client, bool announced = false) {
    std::vector<SourceInfo> list;
    const char** names = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput);
    if (names == nullptr) return list;
    for (const char** n = names; *n != nullptr; ++n) {
      jack_port_t* port = jack_port_by_name(client, *n);
      if (port == nullptr || jack_port_is_mine(client, port)) continue;
      list.push_back({remember(jack_port_uuid(port), *n, announced), *n});
    }
    jack_free(names);
    return list;
  }

  // What a removal notice needs of a source port is kept from when the port
  // was first seen: the server may have released the port by the time the
  // notice is read. A port listed before its registration notice has been
  // read is not announced yet: a removal notice read meanwhile is about the
  // port that had its number before (JACK reuses them, and sends two removal
  // notices per port).
  int32_t remember(jack_uuid_t uuid, const std::string& name, bool announced) {
    const int32_t handle = handleOf(name);
    std::lock_guard lock(knownMutex_);
    auto [it, added] = known_.try_emplace(uuid, Known{handle, announced});
    if (!added) {
      if (it->second.handle != handle) it->second = Known{handle, announced};
      it->second.announced = it->second.announced || announced;
    }
    return handle;
  }
  std::optional<int32_t> forget(jack_uuid_t uuid) {
    std::lock_guard lock(knownMutex_);
    auto it = known_.find(uuid);
    if (it == known_.end() || !it->second.announced) return std::nullopt;
    const int32_t handle = it->second.handle;
    known_.erase(it);
    return handle;
  }

  void tell(void (ClientListener::*notice)(ObjectKind, int32_t), ObjectKind kind, int32_t handle) {
    std::lock_guard lock(listenerMutex_);
    if (listener_ != nullptr) (listener_->*notice)(kind, handle);
  }

  std::shared_ptr<jack::Session> session_;
  int32_t handle_;
  std::mutex listenerMutex_;
  ClientListener* listener_;
  std::mutex namesMutex_;
  std::map<std::string, int32_t> handles_;
  std::map<int32_t, std::string> names_;
  int32_t nextHandle_ = 1;
  std::mutex knownMutex_;
  struct Known {
    int32_t handle;
    bool announced;  // its registration notice has been read
  };
  std::map<jack_uuid_t, Known> known_;  // source port's uuid -> what it was
  std::mutex portsMutex_;
  std::vector<JackPort*> ports_;
  static inline std::atomic<int32_t> nextClientHandle_{1};
};

class JackPort final : public InputPort, public jack::Member {
 public:
  JackPort(std::shared_ptr<JackClient> client, std::string name, InputReceiver& receiver)
      : client_(std::move(client)), name_(std::move(name)), receiver_(receiver) {}

  // Registers the port's own JACK input and starts delivering; false with
  // status on failure. UI thread.
  bool start(int32_t& status) {
    jack::Session& session = client_->session();
    size_t bytes = kMinCycleBytes;
    session.withClient([&](jack_client_t* c) {
      bytes = std::max(bytes, jack_port_type_get_buffer_size(c, JACK_DEFAULT_MIDI_TYPE));
    });
    cycle_.bytes.reserve(bytes);
    cycle_.packets.reserve(kCyclePackets);
    cycleBytes_ = bytes;
    bool opened = false;
    session.withClient([&](jack_client_t* c) { opened = openOwnInput(c); });
    if (!opened) {
      status = session.connected() ? -EBUSY : kStatusNoService;
      return false;
    }
    // The worker first: once the port has joined, the destructor must find
    // it running to leave again.
    worker_ = std::thread([this] { work(); });
    client_->addPort(this);
    session.join(*this, jack::Place::Input);
    status = kStatusOk;
    return true;
  }

  ~JackPort() override {
    if (worker_.joinable()) {
      client_->session().leave(*this);
      client_->removePort(this);
      stop_.store(true, std::memory_order_release);
      work_.post();
      worker_.join();
    }
    std::lock_guard lock(routesMutex_);
    client_->session().withClient([&](jack_client_t* c) {
      for (Route& route : routes_) {
        jack::Session::unregisterPort(c, route.port.load(std::memory_order_relaxed));
        route.port.store(nullptr, std::memory_order_relaxed);
      }
    });
  }

  int32_t handle() const override { return handle_; }

  // Asks the worker to connect source; returns at once. UI thread.
  int32_t connect(int32_t source) override {
    const std::string sourceName = client_->nameOf(source);
    bool exists = false;
    if (!sourceName.empty()) {
      client_->session().withClient(
          [&](jack_client_t* c) { exists = jack_port_by_name(c, sourceName.c_str()) != nullptr; });
    }
    if (!exists) return client_->session().connected() ? kStatusNoSuchSource : kStatusNoService;
    for (size_t i = 1; i < kMaxRoutes; ++i) {
      const int state = routes_[i].state.load(std::memory_order_acquire);
      if ((state == kOpening || state == kLive) &&
          routes_[i].source.load(std::memory_order_acquire) == source && !unplugged(routes_[i]))
        return kStatusOk;
    }
    {
      std::lock_guard lock(requestsMutex_);
      requests_.push_back(source);
    }
    work_.post();
    return kStatusOk;
  }

  // A source port went away: its input delivers what came before, then the
  // notes it left down are released. JACK's notification thread.
  void sourceGone(int32_t source) noexcept {
    for (size_t i = 1; i < kMaxRoutes; ++i) {
      Route& route = routes_[i];
      if (route.source.load(std::memory_order_acquire) != source) continue;
      int expected = kLive;
      route.state.compare_exchange_strong(expected, kLeaving, std::memory_order_acq_rel);
    }
  }

  // A connection changed: when the last one to an input of ours goes (a
  // patchbay cut it), what came through it is released. The port's own
  // input stays as it is; a source's input stays for a patchbay to connect
  // again, and the next connect() of its source connects it again. JACK's
  // notification thread.
  void connectionChanged(jack_client_t* client, jack_port_id_t a, jack_port_id_t b, bool connected) {
    if (connected) return;
    const jack_port_t* portA = jack_port_by_id(client, a);
    const jack_port_t* portB = jack_port_by_id(client, b);
    for (size_t i = 0; i < kMaxRoutes; ++i) {
      Route& route = routes_[i];
      jack_port_t* input = route.port.load(std::memory_order_acquire);
      if (input == nullptr || (input != portA && input != portB) || jack_port_connected(input) != 0) continue;
      if (i == 0)
        ownInputLeft_.store(true, std::memory_order_release);
      else if (route.state.load(std::memory_order_acquire) == kLive)
        route.cutOff.store(true, std::memory_order_release);
    }
  }

  // One cycle: the MIDI of each input to the receiver, then the releases of
  // sources that went. JACK's real-time thread.
  void process(jack_nframes_t frames) noexcept override {
    bool wake = false;
    for (size_t i = 0; i < kMaxRoutes; ++i) {
      Route& route = routes_[i];
      const int state = route.state.load(std::memory_order_acquire);
      if (state != kLive && state != kLeaving) continue;
      const int32_t source =
          i == 0 ? ownSource_.load(std::memory_order_relaxed) : route.source.load(std::memory_order_relaxed);
      if (jack_port_t* port = route.port.load(std::memory_order_acquire)) deliver(port, frames, source);
      if (route.cutOff.exchange(false, std::memory_order_acq_rel)) receiver_.sourceGone(source);
      if (state == kLeaving) {
        receiver_.sourceGone(source);
        route.state.store(kLeft, std::memory_order_release);
        wake = true;
      }
    }
    if (ownInputLeft_.exchange(false, std::memory_order_acq_rel))
      receiver_.sourceGone(ownSource_.load(std::memory_order_relaxed));
    if (wake) work_.post();
  }

  // The server went: every source is gone; its notes are released here (no
  // cycle runs any more). The session's thread.
  void serverLost() override {
    std::lock_guard lock(routesMutex_);
    for (size_t i = 0; i < kMaxRoutes; ++i) {
      Route& route = routes_[i];
      const int state = route.state.load(std::memory_order_acquire);
      if (state == kLive || state == kLeaving)
        receiver_.sourceGone(i == 0 ? ownSource_.load(std::memory_order_relaxed)
                                    : route.source.load(std::memory_order_relaxed));
      route.port.store(nullptr, std::memory_order_release);
      route.source.store(0, std::memory_order_release);
      route.state.store(kFree, std::memory_order_release);
      route.retryAt.reset();
    }
    ownInputLeft_.store(false, std::memory_order_release);
    std::lock_guard requests(requestsMutex_);
    requests_.clear();
  }

  // A server is back: the port's own input again. The session's thread.
  void serverBack(jack_client_t*) override {
    std::lock_guard lock(routesMutex_);
    client_->session().withClient([&](jack_client_t* c) { openOwnInput(c); });
  }

 private:
  enum RouteState : int { kFree, kOpening, kLive, kLeaving, kLeft };
  struct Route {
    std::atomic<jack_port_t*> port{nullptr};
    std::atomic<int32_t> source{0};
    std::atomic<int> state{kFree};
    // A patchbay cut the input's last connection: its notes are released in
    // the next cycle.
    std::atomic<bool> cutOff{false};
    // The worker's alone (under routesMutex_): a connection still to make.
    std::optional<Clock::time_point> retryAt;
    int attempts = 0;
  };

  // Whether a source's input has no connection (a patchbay cut it, or it
  // is still being connected). Any thread but JACK's real-time one.
  static bool unplugged(const Route& route) {
    jack_port_t* input = route.port.load(std::memory_order_acquire);
    return input != nullptr && jack_port_connected(input) == 0;
  }

  // Registers the port's own input as route 0. Inside withClient.
  bool openOwnInput(jack_client_t* c) {
    jack_port_t* port = registerInput(c, name_);
    if (port == nullptr) return false;
    ownSource_.store(client_->handleOf(jack_port_name(port)), std::memory_order_relaxed);
    routes_[0].port.store(port, std::memory_order_release);
    routes_[0].state.store(kLive, std::memory_order_release);
    return true;
  }

  // A new JACK MIDI input named name, or name with a number when that name
  // is taken. Inside withClient.
  jack_port_t* registerInput(jack_client_t* c, const std::string& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string portName = attempt == 0 ? name : name + "-" + std::to_string(++portNumber_);
      if (jack_port_by_name(c, (jack_get_client_name(c) + (":" + portName)).c_str()) != nullptr) continue;
      if (jack_port_t* port =
              jack_port_register(c, portName.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0))
        return port;
    }
    return nullptr;
  }

  void deliver(jack_port_t* port, jack_nframes_t frames, int32_t source) noexcept {
    void* buffer = jack_port_get_buffer(port, frames);
    if (buffer == nullptr) return;
    const uint32_t count = jack_midi_get_event_count(buffer);
    if (count == 0) return;
    cycle_.clear();
    for (uint32_t i = 0; i < count; ++i) {
      jack_midi_event_t event;
      if (jack_midi_event_get(&event, buffer, i) != 0 || event.size > cycleBytes_) continue;
      if (cycle_.count() == kCyclePackets || cycle_.bytes.size() + event.size > cycleBytes_) {
        receiver_.receivedInPlace(source, cycle_);
        cycle_.clear();
      }
      cycle_.add({event.buffer, event.size});
    }
    if (!cycle_.empty()) receiver_.receivedInPlace(source, cycle_);
  }

  // The worker: connects what connect() asked for, retries connections to
  // clients not active yet, and unregisters the inputs of sources that went.
  // Sleeps until woken, or until the next retry is due.
  void work() {
    pthread_setname_np(pthread_self(), "jack-midi-work");
    while (!stop_.load(std::memory_order_acquire)) {
      std::optional<Clock::time_point> due;
      {
        std::lock_guard lock(routesMutex_);
        for (const Route& route : routes_)
          if (route.retryAt && (!due || *route.retryAt < *due)) due = route.retryAt;
      }
      if (due)
        work_.waitFor(*due - Clock::now());
      else
        work_.wait();
      if (stop_.load(std::memory_order_acquire)) return;
      std::deque<int32_t> asked;
      {
        std::lock_guard lock(requestsMutex_);
        asked.swap(requests_);
      }
      std::lock_guard lock(routesMutex_);
      for (const int32_t source : asked) open(source);
      const Clock::time_point now = Clock::now();
      for (Route& route : routes_) {
        if (route.retryAt && *route.retryAt <= now) tryConnect(route);
        if (route.state.load(std::memory_order_acquire) == kLeft) close(route);
      }
    }
  }

  // Gives source an input of its own and connects it. Worker, under
  // routesMutex_.
  void open(int32_t source) {
    Route* free = nullptr;
    for (size_t i = 1; i < kMaxRoutes; ++i) {
      Route& route = routes_[i];
      const int state = route.state.load(std::memory_order_acquire);
      if ((state == kOpening || state == kLive) && route.source.load(std::memory_order_acquire) == source) {
        if (state == kLive && !route.retryAt && unplugged(route)) {
          route.attempts = 0;
          tryConnect(route);
        }
        return;
      }
      if (state == kFree && free == nullptr) free = &route;
    }
    if (free == nullptr) {
      logOffRealTime("%zu JACK sources are connected already; %s is left out", kMaxRoutes - 1,
                     client_->nameOf(source).c_str());
      return;
    }
    free->source.store(source, std::memory_order_release);
    free->state.store(kOpening, std::memory_order_release);
    jack_port_t* port = nullptr;
    client_->session().withClient([&](jack_client_t* c) { port = registerInput(c, name_); });
    if (port == nullptr) {
      free->source.store(0, std::memory_order_release);
      free->state.store(kFree, std::memory_order_release);
      return;
    }
    free->port.store(port, std::memory_order_release);
    // Live before it is connected, so that nothing from the first cycle is
    // missed; an input nothing reaches delivers nothing.
    free->state.store(kLive, std::memory_order_release);
    free->attempts = 0;
    tryConnect(*free);
  }

  // Connects a route's input to its source; on refusal tries again later,
  // and gives up when the source is gone. Worker, under routesMutex_.
  void tryConnect(Route& route) {
    route.retryAt.reset();
    if (route.state.load(std::memory_order_acquire) != kLive) return;
    const std::string sourceName = client_->nameOf(route.source.load(std::memory_order_acquire));
    jack_port_t* input = route.port.load(std::memory_order_acquire);
    bool connected = false, sourceThere = false;
    client_->session().withClient([&](jack_client_t* c) {
      const int err = jack_connect(c, sourceName.c_str(), jack_port_name(input));
      connected = err == 0 || err == EEXIST;
      sourceThere = jack_port_by_name(c, sourceName.c_str()) != nullptr;
    });
    if (connected) return;
    if (sourceThere && ++route.attempts < kConnectAttempts) {
      route.retryAt = Clock::now() + kFirstRetry * (1 << (route.attempts - 1));
      return;
    }
    if (sourceThere) logOffRealTime("JACK does not connect %s; it is left out", sourceName.c_str());
    int expected = kLive;
    route.state.compare_exchange_strong(expected, kLeaving, std::memory_order_acq_rel);
    work_.post();
  }

  // Unregisters the input of a source that went, once its last cycle has
  // run. Worker, under routesMutex_.
  void close(Route& route) {
    jack_port_t* port = route.port.exchange(nullptr, std::memory_order_acq_rel);
    client_->session().withClient([&](jack_client_t* c) { jack::Session::unregisterPort(c, port); });
    route.retryAt.reset();
    route.source.store(0, std::memory_order_release);
    route.state.store(kFree, std::memory_order_release);
  }

  std::shared_ptr<JackClient> client_;
  std::string name_;
  InputReceiver& receiver_;
  int32_t handle_ = nextPortHandle_.fetch_add(1);
  int portNumber_ = 1;

  std::array<Route, kMaxRoutes> routes_{};
  std::mutex routesMutex_;
  std::atomic<int32_t> ownSource_{0};
  std::atomic<bool> ownInputLeft_{false};
  // The real-time thread's: one input's cycle, made ahead.
  PacketData cycle_;
  size_t cycleBytes_ = kMinCycleBytes;

  std::mutex requestsMutex_;
  std::deque<int32_t> requests_;
  Wakeup work_;
  std::atomic<bool> stop_{false};
  std::thread worker_;
  static inline std::atomic<int32_t> nextPortHandle_{1};
};

std::unique_ptr<InputPort> JackClient::createInputPort(const std::string& name, InputReceiver& receiver,
                                                       int32_t& status) {
  auto port = std::make_unique<JackPort>(shared_from_this(), name.empty() ? "input" : name, receiver);
  if (!port->start(status)) return nullptr;
  return port;
}

void JackClient::portRegistered(jack_client_t* client, jack_port_id_t id, bool registered) {
  if (!registered) {
    if (const int delay = noticeDelayMs.load(std::memory_order_relaxed); delay > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(delay));
  }
  jack_port_t* port = jack_port_by_id(client, id);
  if (port == nullptr) return;
  const jack_uuid_t uuid = jack_port_uuid(port);
  if (!registered) {
    const std::optional<int32_t> handle = forget(uuid);
    if (!handle) return;
    {
      std::lock_guard lock(portsMutex_);
      for (JackPort* p : ports_) p->sourceGone(*handle);
    }
    tell(&ClientListener::objectRemoved, ObjectKind::Source, *handle);
    return;
  }
  if (jack_port_is_mine(client, port)) return;
  const char* type = jack_port_type(port);
  if (type == nullptr || std::strcmp(type, JACK_DEFAULT_MIDI_TYPE) != 0) return;
  if (!(jack_port_flags(port) & JackPortIsOutput)) return;
  const char* name = jack_port_name(port);
  if (name == nullptr || *name == '\0') return;
  tell(&ClientListener::objectAdded, ObjectKind::Source, remember(uuid, name, true));
}

void JackClient::portConnected(jack_client_t* client, jack_port_id_t a, jack_port_id_t b, bool connected) {
  std::lock_guard lock(portsMutex_);
  for (JackPort* p : ports_) p->connectionChanged(client, a, b, connected);
}

void JackClient::serverLost() {
  std::vector<int32_t> gone;
  {
    std::lock_guard lock(knownMutex_);
    for (const auto& [uuid, known] : known_) gone.push_back(known.handle);
    known_.clear();
  }
  for (const int32_t handle : gone) tell(&ClientListener::objectRemoved, ObjectKind::Source, handle);
  tell(&ClientListener::objectRemoved, ObjectKind::Client, 0);
}

void JackClient::serverBack(jack_client_t* client) {
  listSources(client, true);
  tell(&ClientListener::objectAdded, ObjectKind::Client, 0);
}

}  // namespace

void setJackNoticeDelayForTesting(std::chrono::milliseconds delay) {
  noticeDelayMs.store(int(delay.count()), std::memory_order_relaxed);
}

std::shared_ptr<ServiceClient> openJackClient(const std::string& name, ClientListener& listener,
                                              int32_t& status) {
  return JackClient::make(name, listener, status);
}

}  // namespace chimewick::midi
