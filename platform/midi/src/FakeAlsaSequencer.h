// An in-process stand-in for the ALSA sequencer, for tests and benchmarks of
// the ALSA backend without a sequencer device: the test lists other clients'
// ports, queues events (a note, an announcement, an overrun) and reads back
// what the backend asked of the sequencer. Its input wakes a poll like the
// real one (an eventfd).
//
// Threads: every function may run on any thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "AlsaSequencer.h"

namespace chimewick::midi {

class FakeAlsaSequencer {
 public:
  // A subscription the backend made: its port, the sender's address.
  struct Subscription {
    int port;
    int senderClient;
    int senderPort;
    auto operator<=>(const Subscription&) const = default;
  };

  FakeAlsaSequencer();
  ~FakeAlsaSequencer();
  FakeAlsaSequencer(const FakeAlsaSequencer&) = delete;
  FakeAlsaSequencer& operator=(const FakeAlsaSequencer&) = delete;

  // The sequencer as the backend sees it, as client clientId. Once.
  std::unique_ptr<AlsaSequencer> open(int clientId);

  // Other clients' ports, as listings give them.
  void addPort(const AlsaPortListing& port);
  void removePort(int client, int port);

  // Queues an event for the client; a variable-length event's data is copied.
  void push(const snd_seq_event_t& ev);
  // The client's input overruns: the queued events are dropped, and the next
  // read reports it.
  void overrun();

  // Waits until the backend has read everything queued (true), or the time-out.
  bool waitUntilRead(int timeoutMs = 5000);

  std::vector<Subscription> subscriptions();
  std::vector<AlsaPortListing> ownPorts();
  int inputPool();
  size_t inputBufferSize();
  // How often the backend asked for input (including empty asks).
  long readCalls();

 private:
  class Device;
  struct Queued {
    snd_seq_event_t event;
    std::vector<uint8_t> data;
  };

  void signal();
  void drainSignal();

  std::mutex mutex_;
  std::condition_variable emptied_;
  int clientId_ = 128;
  int nextPort_ = 0;
  std::vector<AlsaPortListing> ports_;
  std::set<Subscription> subscriptions_;
  std::deque<Queued> queue_;
  Queued current_{};  // the event last handed out; stays valid until the next read
  bool overran_ = false;
  bool reading_ = false;
  int inputPool_ = 0;
  size_t inputBufferSize_ = 0;
  long readCalls_ = 0;
  int eventFd_ = -1;
};

}  // namespace chimewick::midi
