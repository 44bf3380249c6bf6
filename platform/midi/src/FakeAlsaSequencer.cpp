#include "FakeAlsaSequencer.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace chimewick::midi {

// The AlsaSequencer face of the fake; the fake outlives it.
class FakeAlsaSequencer::Device final : public AlsaSequencer {
 public:
  explicit Device(FakeAlsaSequencer& fake) : fake_(fake) {}

  int clientId() override {
    std::lock_guard lock(fake_.mutex_);
    return fake_.clientId_;
  }

  int setInputPool(int events) override {
    std::lock_guard lock(fake_.mutex_);
    fake_.inputPool_ = events;
    return 0;
  }

  int setInputBufferSize(size_t bytes) override {
    std::lock_guard lock(fake_.mutex_);
    fake_.inputBufferSize_ = bytes;
    return 0;
  }

  int createPort(const std::string& name, unsigned capability, unsigned type) override {
    std::lock_guard lock(fake_.mutex_);
    const int port = fake_.nextPort_++;
    fake_.ports_.push_back({fake_.clientId_, port, capability, type, false, "fake client", name});
    return port;
  }

  int deletePort(int port) override {
    std::lock_guard lock(fake_.mutex_);
    const int client = fake_.clientId_;
    const auto removed =
        std::erase_if(fake_.ports_, [&](const auto& p) { return p.client == client && p.port == port; });
    std::erase_if(fake_.subscriptions_, [&](const auto& s) { return s.port == port; });
    return removed == 0 ? -ENOENT : 0;
  }

  int connectFrom(int port, int senderClient, int senderPort) override {
    std::lock_guard lock(fake_.mutex_);
    const bool exists = std::any_of(fake_.ports_.begin(), fake_.ports_.end(), [&](const auto& p) {
      return p.client == senderClient && p.port == senderPort;
    });
    // The system's announce port is always there.
    if (!exists && senderClient != SND_SEQ_CLIENT_SYSTEM) return -ENOENT;
    return fake_.subscriptions_.insert({port, senderClient, senderPort}).second ? 0 : -EBUSY;
  }

  std::vector<AlsaPortListing> ports() override {
    std::lock_guard lock(fake_.mutex_);
    std::vector<AlsaPortListing> list = fake_.ports_;
    std::stable_sort(list.begin(), list.end(),
                     [](const auto& a, const auto& b) { return a.client < b.client; });
    return list;
  }

  std::vector<pollfd> pollDescriptors() override { return {{fake_.eventFd_, POLLIN, 0}}; }

  int eventInput(snd_seq_event_t*& ev) override {
    ev = nullptr;
    std::lock_guard lock(fake_.mutex_);
    ++fake_.readCalls_;
    fake_.drainSignal();
    if (fake_.overran_) {
      fake_.overran_ = false;
      return -ENOSPC;
    }
    if (fake_.queue_.empty()) {
      fake_.reading_ = false;
      fake_.emptied_.notify_all();
      return -EAGAIN;
    }
    fake_.current_ = std::move(fake_.queue_.front());
    fake_.queue_.pop_front();
    if (snd_seq_ev_is_variable(&fake_.current_.event))
      fake_.current_.event.data.ext.ptr = fake_.current_.data.data();
    ev = &fake_.current_.event;
    fake_.reading_ = true;
    if (!fake_.queue_.empty()) fake_.signal();
    return int(fake_.queue_.size());
  }

 private:
  FakeAlsaSequencer& fake_;
};

FakeAlsaSequencer::FakeAlsaSequencer() : eventFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

FakeAlsaSequencer::~FakeAlsaSequencer() {
  if (eventFd_ >= 0) ::close(eventFd_);
}

std::unique_ptr<AlsaSequencer> FakeAlsaSequencer::open(int clientId) {
  std::lock_guard lock(mutex_);
  clientId_ = clientId;
  return std::make_unique<Device>(*this);
}

void FakeAlsaSequencer::addPort(const AlsaPortListing& port) {
  std::lock_guard lock(mutex_);
  ports_.push_back(port);
}

void FakeAlsaSequencer::removePort(int client, int port) {
  std::lock_guard lock(mutex_);
  std::erase_if(ports_, [&](const auto& p) { return p.client == client && p.port == port; });
}

void FakeAlsaSequencer::push(const snd_seq_event_t& ev) {
  Queued q{ev, {}};
  if (snd_seq_ev_is_variable(&ev) && ev.data.ext.ptr != nullptr) {
    const auto* bytes = static_cast<const uint8_t*>(ev.data.ext.ptr);
    q.data.assign(bytes, bytes + ev.data.ext.len);
  }
  std::lock_guard lock(mutex_);
  queue_.push_back(std::move(q));
  signal();
}

void FakeAlsaSequencer::overrun() {
  std::lock_guard lock(mutex_);
  queue_.clear();
  overran_ = true;
  signal();
}

bool FakeAlsaSequencer::waitUntilRead(int timeoutMs) {
  std::unique_lock lock(mutex_);
  return emptied_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return queue_.empty() && !overran_ && !reading_; });
}

std::vector<FakeAlsaSequencer::Subscription> FakeAlsaSequencer::subscriptions() {
  std::lock_guard lock(mutex_);
  return {subscriptions_.begin(), subscriptions_.end()};
}

std::vector<AlsaPortListing> FakeAlsaSequencer::ownPorts() {
  std::lock_guard lock(mutex_);
  std::vector<AlsaPortListing> own;
  for (const auto& p : ports_)
    if (p.client == clientId_) own.push_back(p);
  return own;
}

int FakeAlsaSequencer::inputPool() {
  std::lock_guard lock(mutex_);
  return inputPool_;
}

size_t FakeAlsaSequencer::inputBufferSize() {
  std::lock_guard lock(mutex_);
  return inputBufferSize_;
}

long FakeAlsaSequencer::readCalls() {
  std::lock_guard lock(mutex_);
  return readCalls_;
}

void FakeAlsaSequencer::signal() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(eventFd_, &one, sizeof one);
}

void FakeAlsaSequencer::drainSignal() {
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t got = ::read(eventFd_, &count, sizeof count);
}

}  // namespace chimewick::midi
