// The in-process virtual service: one process-wide registry of sources,
// clients and ports behind one mutex. Delivery goes to each port's reader
// thread through a queue, or straight to the receiver in synchronous mode.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "InputThreadPriority.h"
#include "MidiMessageSplitter.h"
#include "MidiService.h"
#include "VirtualMidi.h"

namespace chimewick::midi {
namespace {

// What one port's reader delivers: packets, or the news that a source went.
struct Delivery {
  int32_t source;
  bool gone;
  PacketData packets;
};

// The part of a virtual port that senders reach. Shared so that a sender
// holding it never touches a freed port.
struct PortCore {
  explicit PortCore(InputReceiver& r) : receiver(r) {}

  // Delivers on the caller's thread unless the port is closed.
  void deliverNow(Delivery&& d) {
    std::lock_guard lock(deliverMutex);
    if (closed) return;
    if (d.gone)
      receiver.sourceGone(d.source);
    else
      receiver.received(d.source, std::move(d.packets));
  }

  void enqueue(Delivery&& d) {
    bool wake = false;
    {
      std::lock_guard lock(queueMutex);
      queue.push_back(std::move(d));
      pending.store(true, std::memory_order_release);
      wake = readerSleeping;
    }
    // A spinning reader sees the flag; only a sleeping one needs the wake-up.
    if (wake) queueReady.notify_one();
  }

  // The reader thread: after each batch it watches the queue for a short
  // while (MIDI comes in bursts), then sleeps with a bounded time-out so the
  // stop flag is seen promptly.
  void readLoop() {
    raiseInputThreadPriority();
    std::deque<Delivery> batch;
    while (!stop.load(std::memory_order_acquire)) {
      const auto spinUntil = std::chrono::steady_clock::now() + kSpin;
      while (!pending.load(std::memory_order_acquire) && !stop.load(std::memory_order_acquire) &&
             std::chrono::steady_clock::now() < spinUntil) {
      }
      {
        std::unique_lock lock(queueMutex);
        readerSleeping = true;
        queueReady.wait_for(lock, std::chrono::milliseconds(50),
                            [&] { return !queue.empty() || stop.load(std::memory_order_acquire); });
        readerSleeping = false;
        batch.swap(queue);
        pending.store(false, std::memory_order_relaxed);
      }
      for (auto& d : batch) {
        if (stop.load(std::memory_order_acquire)) break;
        deliverNow(std::move(d));
      }
      batch.clear();
    }
  }

  void close() {
    {
      std::lock_guard lock(deliverMutex);
      closed = true;
    }
    {
      std::lock_guard lock(queueMutex);
      stop.store(true, std::memory_order_release);
    }
    queueReady.notify_all();
  }

  InputReceiver& receiver;
  std::mutex deliverMutex;
  bool closed = false;
  std::mutex queueMutex;
  std::condition_variable queueReady;
  std::deque<Delivery> queue;
  bool readerSleeping = false;  // guarded by queueMutex
  std::atomic<bool> pending{false};
  std::atomic<bool> stop{false};
  static constexpr auto kSpin = std::chrono::microseconds(200);
};

struct VirtualSource {
  int32_t handle;
  std::string name;
  std::vector<std::weak_ptr<PortCore>> subscribers;
};

class Registry {
 public:
  static Registry& instance() {
    static Registry registry;
    return registry;
  }

  int32_t nextHandle() { return nextHandle_.fetch_add(1); }

  std::mutex mutex;
  std::vector<VirtualSource> sources;  // in order of making
  std::vector<ClientListener*> listeners;
  std::atomic<bool> synchronous{false};

  VirtualSource* find(int32_t handle) {
    auto it = std::find_if(sources.begin(), sources.end(), [&](const auto& s) { return s.handle == handle; });
    return it == sources.end() ? nullptr : &*it;
  }

  // Sends d to every live subscriber of source; false for an unknown source.
  bool dispatch(int32_t source, const PacketData& packets, bool gone) {
    std::vector<std::shared_ptr<PortCore>> targets;
    const bool sync = synchronous.load(std::memory_order_relaxed);
    {
      std::lock_guard lock(mutex);
      VirtualSource* s = find(source);
      if (s == nullptr) return false;
      for (auto& weak : s->subscribers) {
        auto core = weak.lock();
        if (!core) continue;
        // Queued under the registry's lock: a send that races the source's
        // removal lands before the removal's note-offs, never after them.
        if (sync)
          targets.push_back(std::move(core));
        else
          core->enqueue(Delivery{source, gone, packets});
      }
      if (gone && !sync) forget(source);
    }
    // Synchronous delivery (tests only) runs the Read handler here, outside
    // the lock, since a handler may call back into the service.
    for (auto& core : targets) core->deliverNow(Delivery{source, gone, packets});
    if (gone && sync) {
      std::lock_guard lock(mutex);
      forget(source);
    }
    return true;
  }

  // Drops the source and tells the clients; the caller holds the lock.
  void forget(int32_t source) {
    const auto removed = std::erase_if(sources, [&](const auto& s) { return s.handle == source; });
    if (removed == 0) return;
    for (auto* listener : listeners) listener->objectRemoved(ObjectKind::Source, source);
  }

 private:
  std::atomic<int32_t> nextHandle_{1};
};

class VirtualPort final : public InputPort {
 public:
  explicit VirtualPort(InputReceiver& receiver)
      : handle_(Registry::instance().nextHandle()), core_(std::make_shared<PortCore>(receiver)) {
    reader_ = std::thread([core = core_] { core->readLoop(); });
  }
  ~VirtualPort() override {
    core_->close();
    if (reader_.joinable()) reader_.join();
  }

  int32_t handle() const override { return handle_; }

  int32_t connect(int32_t source) override {
    Registry& registry = Registry::instance();
    std::lock_guard lock(registry.mutex);
    VirtualSource* s = registry.find(source);
    if (s == nullptr) return kStatusNoSuchSource;
    std::erase_if(s->subscribers, [](const auto& w) { return w.expired(); });
    for (auto& weak : s->subscribers)
      if (weak.lock() == core_) return kStatusOk;  // connected already
    s->subscribers.push_back(core_);
    return kStatusOk;
  }

 private:
  int32_t handle_;
  std::shared_ptr<PortCore> core_;
  std::thread reader_;
};

class VirtualClient final : public ServiceClient {
 public:
  explicit VirtualClient(ClientListener& listener) : handle_(Registry::instance().nextHandle()) {
    Registry& registry = Registry::instance();
    std::lock_guard lock(registry.mutex);
    registry.listeners.push_back(&listener);
    listener_ = &listener;
  }
  ~VirtualClient() override { detachListener(); }

  int32_t handle() const override { return handle_; }

  std::vector<SourceInfo> sources() override {
    Registry& registry = Registry::instance();
    std::lock_guard lock(registry.mutex);
    std::vector<SourceInfo> list;
    list.reserve(registry.sources.size());
    for (const auto& s : registry.sources) list.push_back({s.handle, s.name});
    return list;
  }

  std::unique_ptr<InputPort> createInputPort(const std::string&, InputReceiver& receiver,
                                             int32_t& status) override {
    status = kStatusOk;
    return std::make_unique<VirtualPort>(receiver);
  }

  void detachListener() override {
    Registry& registry = Registry::instance();
    std::lock_guard lock(registry.mutex);
    std::erase(registry.listeners, listener_);
    listener_ = nullptr;
  }

 private:
  int32_t handle_;
  ClientListener* listener_ = nullptr;
};

}  // namespace

std::shared_ptr<ServiceClient> openVirtualClient(const std::string&, ClientListener& listener,
                                                 int32_t& status) {
  status = kStatusOk;
  return std::make_shared<VirtualClient>(listener);
}

}  // namespace chimewick::midi

namespace VirtualMidi {

using chimewick::midi::ObjectKind;
using chimewick::midi::PacketData;
using chimewick::midi::Registry;

int32_t AddSource(const std::string& name) {
  Registry& registry = Registry::instance();
  const int32_t handle = registry.nextHandle();
  std::lock_guard lock(registry.mutex);
  registry.sources.push_back({handle, name, {}});
  for (auto* listener : registry.listeners) listener->objectAdded(ObjectKind::Source, handle);
  return handle;
}

bool RemoveSource(int32_t source) {
  // Ports hear of it first, after whatever the source sent before; then the
  // source leaves the list and the clients are told.
  return Registry::instance().dispatch(source, PacketData{}, true);
}

void RemoveAllSources() {
  std::vector<int32_t> handles;
  {
    Registry& registry = Registry::instance();
    std::lock_guard lock(registry.mutex);
    for (const auto& s : registry.sources) handles.push_back(s.handle);
  }
  for (int32_t h : handles) RemoveSource(h);
}

bool Send(int32_t source, std::span<const uint8_t> bytes) {
  // As the system services do, one message per packet: the Read handler
  // plays each packet's first message only.
  PacketData packets;
  chimewick::midi::splitMessages(bytes, packets);
  return Registry::instance().dispatch(source, packets, false);
}

bool Send(int32_t source, std::initializer_list<uint8_t> bytes) {
  return Send(source, std::span<const uint8_t>(bytes.begin(), bytes.size()));
}

bool SendPackets(int32_t source, const std::vector<std::vector<uint8_t>>& list) {
  PacketData packets;
  for (const auto& p : list) packets.add(p);
  return Registry::instance().dispatch(source, packets, false);
}

void SetSynchronousDelivery(bool on) { Registry::instance().synchronous.store(on); }

}  // namespace VirtualMidi
