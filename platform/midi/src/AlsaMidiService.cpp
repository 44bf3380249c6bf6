// The ALSA sequencer backend. A client is one sequencer client: a hidden port
// subscribed to System Announce, and one writable, subscribable port per
// input port. One input thread reads everything the client receives and hands
// MIDI to the port it was addressed to and announcements to the listener;
// releasing a port ends its delivery before its receiver can go.
#include "AlsaMidiService.h"

#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "AlsaEventDecoder.h"
#include "InputThreadPriority.h"
#include "chimewick/Log.h"

namespace chimewick::midi {
namespace {

// Bytes the library reads from the kernel at once: the whole pool.
constexpr size_t kInputBufferBytes = kAlsaInputPoolEvents * sizeof(snd_seq_event_t);
// The input thread waits this long at most before looking at its stop flag;
// releasing wakes it at once, so this only bounds a lost wake-up.
constexpr int kPollTimeoutMs = 1000;

// A file descriptor, closed with its owner.
class OwnedFd {
 public:
  explicit OwnedFd(int fd) noexcept : fd_(fd) {}
  OwnedFd(OwnedFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;
  OwnedFd& operator=(OwnedFd&&) = delete;
  ~OwnedFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const noexcept { return fd_; }

 private:
  int fd_;
};

// What the client and its ports share: the sequencer, the input thread and
// the handlers of the input ports. Lives while the client or a port does.
class AlsaConnection {
 public:
  static std::shared_ptr<AlsaConnection> open(std::unique_ptr<AlsaSequencer> seq, ClientListener& listener,
                                              int32_t& status) {
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
      status = -errno;
      return nullptr;
    }
    OwnedFd wakeFd(wake);
    if (seq->setInputPool(kAlsaInputPoolEvents) < 0 || seq->setInputBufferSize(kInputBufferBytes) < 0)
      midiLog.line("the sequencer refused a larger input pool; a burst of MIDI may overrun it");
    const int announcePort = seq->createPort("announce", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT,
                                             SND_SEQ_PORT_TYPE_APPLICATION);
    if (announcePort < 0) {
      status = announcePort;
      return nullptr;
    }
    if (const int err = seq->connectFrom(announcePort, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
        err < 0) {
      status = err;
      return nullptr;
    }
    status = kStatusOk;
    auto connection = std::shared_ptr<AlsaConnection>(
        new AlsaConnection(std::move(seq), std::move(wakeFd), announcePort, listener));
    connection->start();
    return connection;
  }

  ~AlsaConnection() {
    stop_.store(true, std::memory_order_release);
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_.get(), &one, sizeof one);
    if (reader_.joinable()) reader_.join();
  }

  int clientId() const noexcept { return client_; }

  std::vector<SourceInfo> sources() {
    std::vector<SourceInfo> list;
    for (const AlsaPortListing& port : listPorts())
      if (isAlsaSource(port, client_)) list.push_back({alsaHandle(port.client, port.port), port.portName});
    return list;
  }

  // Makes an input port delivering to receiver; its number, or a negative
  // errno value. UI thread.
  int addPort(const std::string& name, InputReceiver& receiver) {
    auto decoder = AlsaEventDecoder::make();
    if (!decoder) return -ENOMEM;
    int port;
    {
      std::lock_guard lock(queryMutex_);
      port = seq_->createPort(name.empty() ? "input" : name,
                              SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                              SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    }
    if (port < 0) return port;
    std::lock_guard lock(portsMutex_);
    handlers_[port] = std::make_unique<AlsaInputHandler>(std::move(decoder), receiver, client_, port);
    return port;
  }

  // Ends the port's delivery (waiting for one in progress), then deletes it.
  // UI thread; waits.
  void removePort(int port) {
    {
      std::lock_guard lock(portsMutex_);
      handlers_.erase(port);
    }
    std::lock_guard lock(queryMutex_);
    seq_->deletePort(port);
  }

  int connect(int port, int32_t source) {
    std::lock_guard lock(queryMutex_);
    const int err = seq_->connectFrom(port, alsaClientOf(source), alsaPortOf(source));
    // A second subscription of the same pair is refused as busy: connected.
    if (err == -EBUSY) return kStatusOk;
    return err < 0 ? err : kStatusOk;
  }

  void detachListener() {
    std::lock_guard lock(listenerMutex_);
    listener_ = nullptr;
  }

 private:
  AlsaConnection(std::unique_ptr<AlsaSequencer> seq, OwnedFd wake, int announcePort, ClientListener& listener)
      : seq_(std::move(seq)),
        client_(seq_->clientId()),
        wake_(std::move(wake)),
        announcePort_(announcePort),
        listener_(&listener) {}

  void start() {
    for (const AlsaPortListing& port : listPorts())
      if (port.client != client_) knownPorts_.insert(alsaHandle(port.client, port.port));
    reader_ = std::thread([this] { run(); });
  }

  std::vector<AlsaPortListing> listPorts() {
    std::lock_guard lock(queryMutex_);
    return seq_->ports();
  }

  // The input thread: waits for input or the wake-up, then reads all there is.
  void run() {
    pthread_setname_np(pthread_self(), "alsa-midi-in");
    raiseInputThreadPriority();
    std::vector<pollfd> fds = seq_->pollDescriptors();
    fds.push_back({wake_.get(), POLLIN, 0});
    while (!stop_.load(std::memory_order_acquire)) {
      if (!readAll()) return;
      ::poll(fds.data(), nfds_t(fds.size()), kPollTimeoutMs);
    }
  }

  // Reads until nothing waits; false when reading can no longer work.
  bool readAll() {
    while (!stop_.load(std::memory_order_acquire)) {
      snd_seq_event_t* ev = nullptr;
      const int err = seq_->eventInput(ev);
      if (err == -EAGAIN || err == -EINTR) return true;
      if (err == -ENOSPC) {
        inputLost();
        continue;
      }
      if (err < 0) {
        midiLog.line("reading the ALSA sequencer failed: %s; MIDI input stops", snd_strerror(err));
        waitForStop();
        return false;
      }
      if (ev != nullptr) dispatch(*ev);
    }
    return true;
  }

  void waitForStop() {
    pollfd wake{wake_.get(), POLLIN, 0};
    while (!stop_.load(std::memory_order_acquire)) ::poll(&wake, 1, kPollTimeoutMs);
  }

  void dispatch(const snd_seq_event_t& ev) {
    if (ev.source.client == SND_SEQ_CLIENT_SYSTEM) announce(ev);
    std::lock_guard lock(portsMutex_);
    if (ev.source.client == SND_SEQ_CLIENT_SYSTEM) {
      // Every port follows the departures and subscriptions.
      for (auto& [port, handler] : handlers_) handler->handle(ev);
      return;
    }
    auto it = handlers_.find(ev.dest.port);
    if (it != handlers_.end()) it->second->handle(ev);
  }

  // Turns System Announce events into the listener's notifications.
  void announce(const snd_seq_event_t& ev) {
    const int client = ev.data.addr.client;
    if (client == client_) return;
    const int32_t handle = alsaHandle(client, ev.data.addr.port);
    switch (ev.type) {
      case SND_SEQ_EVENT_PORT_START:
        knownPorts_.insert(handle);
        break;
      case SND_SEQ_EVENT_PORT_EXIT:
        knownPorts_.erase(handle);
        break;
      case SND_SEQ_EVENT_CLIENT_EXIT:
        std::erase_if(knownPorts_, [client](int32_t h) { return alsaClientOf(h) == client; });
        break;
      default:
        break;
    }
    std::lock_guard lock(listenerMutex_);
    if (listener_ == nullptr) return;
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

  // The kernel dropped the client's queued input: MIDI (note-offs too) and
  // announcements alike. Every sender's notes are released, and the ports
  // that came or went meanwhile are announced from a fresh listing.
  void inputLost() {
    midiLog.line("MIDI input overran; held notes are released");
    std::set<int32_t> now;
    for (const AlsaPortListing& port : listPorts())
      if (port.client != client_) now.insert(alsaHandle(port.client, port.port));
    std::vector<int32_t> added, removed;
    std::set_difference(now.begin(), now.end(), knownPorts_.begin(), knownPorts_.end(),
                        std::back_inserter(added));
    std::set_difference(knownPorts_.begin(), knownPorts_.end(), now.begin(), now.end(),
                        std::back_inserter(removed));
    for (int32_t handle : removed) dispatch(systemNotice(SND_SEQ_EVENT_PORT_EXIT, handle));
    {
      std::lock_guard lock(portsMutex_);
      for (auto& [port, handler] : handlers_) handler->inputLost();
    }
    for (int32_t handle : added) dispatch(systemNotice(SND_SEQ_EVENT_PORT_START, handle));
  }

  snd_seq_event_t systemNotice(snd_seq_event_type_t type, int32_t handle) const {
    snd_seq_event_t ev{};
    ev.type = type;
    ev.source = {SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE};
    ev.dest = {uint8_t(client_), uint8_t(announcePort_)};
    ev.data.addr = {uint8_t(alsaClientOf(handle)), uint8_t(alsaPortOf(handle))};
    return ev;
  }

  std::unique_ptr<AlsaSequencer> seq_;
  int client_;
  OwnedFd wake_;
  int announcePort_;
  std::mutex queryMutex_;  // the UI side's calls into the sequencer
  std::mutex listenerMutex_;
  ClientListener* listener_;
  std::mutex portsMutex_;  // held while a port's handler runs
  std::map<int, std::unique_ptr<AlsaInputHandler>> handlers_;
  std::set<int32_t> knownPorts_;  // other clients' ports; input thread only once started
  std::atomic<bool> stop_{false};
  std::thread reader_;  // last: joined before anything it uses goes
};

class AlsaPort final : public InputPort {
 public:
  AlsaPort(std::shared_ptr<AlsaConnection> connection, int port)
      : connection_(std::move(connection)), port_(port) {}
  ~AlsaPort() override { connection_->removePort(port_); }

  int32_t handle() const override { return alsaHandle(connection_->clientId(), port_); }
  int32_t connect(int32_t source) override { return connection_->connect(port_, source); }

 private:
  std::shared_ptr<AlsaConnection> connection_;
  int port_;
};

class AlsaClient final : public ServiceClient {
 public:
  explicit AlsaClient(std::shared_ptr<AlsaConnection> connection) : connection_(std::move(connection)) {}
  ~AlsaClient() override { connection_->detachListener(); }

  int32_t handle() const override { return connection_->clientId(); }
  std::vector<SourceInfo> sources() override { return connection_->sources(); }

  std::unique_ptr<InputPort> createInputPort(const std::string& name, InputReceiver& receiver,
                                             int32_t& status) override {
    const int port = connection_->addPort(name, receiver);
    if (port < 0) {
      status = port;
      return nullptr;
    }
    status = kStatusOk;
    return std::make_unique<AlsaPort>(connection_, port);
  }

  void detachListener() override { connection_->detachListener(); }

 private:
  std::shared_ptr<AlsaConnection> connection_;
};

}  // namespace

std::shared_ptr<ServiceClient> openAlsaClientOn(std::unique_ptr<AlsaSequencer> sequencer,
                                                ClientListener& listener, int32_t& status) {
  if (!sequencer) {
    status = kStatusNoService;
    return nullptr;
  }
  auto connection = AlsaConnection::open(std::move(sequencer), listener, status);
  if (!connection) return nullptr;
  return std::make_shared<AlsaClient>(std::move(connection));
}

std::shared_ptr<ServiceClient> openAlsaClient(const std::string& name, ClientListener& listener,
                                              int32_t& status) {
  auto sequencer = openAlsaSequencer(name, status);
  if (!sequencer) return nullptr;
  return openAlsaClientOn(std::move(sequencer), listener, status);
}

}  // namespace chimewick::midi
