// The program's one JACK client, shared by the MIDI inputs and the audio
// output: one real-time thread, whose cycle first delivers the MIDI that
// arrived in it and then renders, so a note is heard in the cycle it came.
//
// Whoever needs JACK first opens the session (never starting a server); it
// closes when the last user lets go. When the server stops, the session says
// so on standard error, tells its members, and opens the client again when a
// server comes back, without a restart of the program.
//
// Threads: JACK's real-time thread runs the members' process(); JACK's
// notification thread their notices; the session's own thread serverLost()
// and serverBack(). Everything else here runs on any other thread.
#pragma once

#include <jack/jack.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "chimewick/Wakeup.h"

namespace chimewick::jack {

// A part of the program in the shared client.
class Member {
 public:
  virtual ~Member() = default;

  // One cycle of frames, for a member that joined with a place in the
  // cycle. JACK's real-time thread: takes no lock, allocates nothing, logs
  // nothing, never waits.
  virtual void process(jack_nframes_t) noexcept {}

  // JACK's notices, on JACK's notification thread, one at a time; client is
  // open for the whole call. No call to the server from here (it would wait
  // for this very thread): note what happened and hand it on.
  virtual void portRegistered(jack_client_t*, jack_port_id_t, bool) {}
  virtual void clientRegistered(jack_client_t*, const char*, bool) {}
  virtual void portConnected(jack_client_t*, jack_port_id_t, jack_port_id_t, bool) {}

  // The server went away: the client, its ports and its callbacks are gone
  // (no process() or notice runs any more). The session's thread.
  virtual void serverLost() {}
  // A server is back and the new client is active: register ports again.
  // The session's thread.
  virtual void serverBack(jack_client_t*) {}
};

// Where a member's process() runs in the cycle: every Input before any
// Output.
enum class Place { None, Input, Output };

class Session {
 public:
  // The open session, or a new one whose client is opened under name (JACK
  // may add a suffix). Never starts a server. Null with status (a negative
  // errno value) when no server runs. Any thread but JACK's; waits for the
  // server.
  static std::shared_ptr<Session> open(const std::string& name, int32_t& status);

  // Stops the session's thread and closes the client. The thread that lets
  // go of the last reference; waits for JACK.
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The client's name as JACK granted it. Any thread.
  std::string clientName() const;
  // The server's sample rate and period (0 before the first open). Any thread.
  uint32_t sampleRate() const noexcept { return sampleRate_.load(std::memory_order_relaxed); }
  uint32_t bufferSize() const noexcept { return bufferSize_.load(std::memory_order_relaxed); }
  // Whether a server is there now. Any thread.
  bool connected() const noexcept { return connected_.load(std::memory_order_acquire); }

  // Adds a member: its notices start at once and, with a place, its
  // process() from the next cycle on. Any thread but JACK's.
  void join(Member& member, Place place);
  // Removes a member; once it returns no process() or notice of it runs and
  // none is running. Any thread but JACK's and the member's own notices;
  // waits for a cycle or notice in progress.
  void leave(Member& member);

  // Runs fn(client) while the client stays open, one caller at a time;
  // false (fn not run) while the server is away. For listing ports,
  // connecting them, registering and unregistering them (unregister with
  // unregisterPort()). One at a time because libjack sends every request
  // of a client down one socket and reads the reply from it unguarded: two
  // threads asking at once can each wait for the other's reply for ever.
  // Any thread but JACK's; waits for the server and the session's thread.
  template <class Fn>
  bool withClient(Fn&& fn) {
    std::shared_lock lock(clientMutex_);
    jack_client_t* client = client_.load(std::memory_order_acquire);
    if (client == nullptr) return false;
    std::lock_guard requests(requestMutex_);
    fn(client);
    return true;
  }

  // Unregisters a port of ours. Inside withClient() only. First lets every
  // latency notice the server has queued for us run to its end (libjack
  // walks the port list in them), so the list is not changed under it.
  static void unregisterPort(jack_client_t* client, jack_port_t* port);

  // Waits until no cycle that began before the call is running. Any thread
  // but JACK's; returns at once while the server is away.
  void waitForCycle();

  // For tests: makes the session's thread think the server went away, as
  // JACK's shutdown notice does.
  void simulateServerLossForTesting();

 private:
  Session() = default;
  bool openClient(const std::string& name, int32_t& status);
  void closeClient();
  void run();
  void handleLoss();
  std::vector<Member*> membersNow();

  static int process(jack_nframes_t frames, void* arg) noexcept;
  static void shutdown(jack_status_t code, const char* reason, void* arg) noexcept;
  static void portRegistration(jack_port_id_t port, int registered, void* arg);
  static void clientRegistration(const char* name, int registered, void* arg);
  static void portConnect(jack_port_id_t a, jack_port_id_t b, int connected, void* arg);

  static constexpr size_t kPlacesEach = 16;

  std::string wantedName_;
  // The client: replaced only under the unique lock (by the session's
  // thread once the session runs); atomic for JACK's threads, which read it
  // without the lock while the client cannot go.
  mutable std::shared_mutex clientMutex_;
  std::atomic<jack_client_t*> client_{nullptr};
  std::string grantedName_;  // under clientMutex_
  // Held for each request to the server (see withClient()).
  std::mutex requestMutex_;
  std::atomic<bool> connected_{false};
  std::atomic<uint32_t> sampleRate_{0};
  std::atomic<uint32_t> bufferSize_{0};

  // Members: membersMutex_ guards the list and is held while JACK's
  // notification thread calls them; callsMutex_ is held while the session's
  // thread calls them. Never held across a request to the server (it may
  // wait for a notice to us, which would wait for the lock).
  std::mutex membersMutex_;
  std::mutex callsMutex_;
  std::vector<Member*> members_;
  // process() in cycle order: inputs, then outputs. Written under
  // membersMutex_, read by the real-time thread.
  std::array<std::atomic<Member*>, 2 * kPlacesEach> stages_{};
  // Odd while a cycle runs.
  std::atomic<uint64_t> cycles_{0};
  std::atomic<int> cycleWaiters_{0};
  Wakeup cycleEnded_;

  // The session's thread: waits for the news that the server went, then
  // brings the client back.
  std::atomic<bool> lost_{false};
  std::atomic<bool> stopping_{false};
  char lossReason_[256] = {};  // written before lost_ is set
  Wakeup wake_;
  std::thread thread_;
};

// Whether the calling thread is JACK's real-time thread of the session (it
// has run a cycle). Lets the layers above drop what must not happen there
// (a trace, a log line). Any thread; never waits.
bool onProcessThread() noexcept;

}  // namespace chimewick::jack
