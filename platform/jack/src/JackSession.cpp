#include "chimewick/JackSession.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "chimewick/Log.h"

namespace chimewick::jack {

namespace {

constexpr Log jackLog{"JACK"};

// How often the session's thread looks for a server that went away.
constexpr auto kReconnectInterval = std::chrono::milliseconds(500);
// How long JACK's threads get to end by themselves after the server went.
constexpr auto kThreadsEndGrace = std::chrono::milliseconds(100);
// How long a cycle still running after the server went may take to end
// before the client is closed under it anyway.
constexpr auto kCycleEndLimit = std::chrono::seconds(2);

// Initial-exec: the first use on the real-time thread must not allocate, as
// a dynamically loaded library's thread-local data otherwise would.
__attribute__((tls_model("initial-exec"))) thread_local bool processThread = false;
// Set while this thread opens a client: libjack's complaints about a server
// that is not there are then expected, and the caller reports the outcome.
__attribute__((tls_model("initial-exec"))) thread_local bool openingClient = false;

// libjack calls these from its own threads too, and stops those threads by
// asynchronous cancellation: a line is made on the stack and written with one
// write(2), holding no lock (stdio's) and allocating nothing, so that a thread
// cancelled half-way leaves nothing locked behind.
void writeLine(const char* text) {
  if (processThread || openingClient) return;
  char line[512];
  const int used = std::snprintf(line, sizeof line - 1, "Chimewick JACK: %s", text);
  if (used <= 0) return;
  size_t length = std::min(size_t(used), sizeof line - 2);
  line[length++] = '\n';
  [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line, length);
}

void errorToLog(const char* text) { writeLine(text); }
void infoToLog(const char* text) { writeLine(text); }

std::mutex sessionMutex;
std::weak_ptr<Session> openSession;

// With the server never started for us, "could not connect" means that no
// server runs: callers read -ENODEV as "no JACK server".
int32_t statusOf(jack_status_t status) {
  if (status & JackServerFailed) return -ENODEV;
  if (status & JackInitFailure) return -EIO;
  if (status & JackShmFailure) return -ENOMEM;
  return -ENODEV;
}

}  // namespace

bool onProcessThread() noexcept { return processThread; }

std::shared_ptr<Session> Session::open(const std::string& name, int32_t& status) {
  static std::once_flag logging;
  std::call_once(logging, [] {
    jack_set_error_function(errorToLog);
    jack_set_info_function(infoToLog);
  });
  std::lock_guard lock(sessionMutex);
  if (auto session = openSession.lock()) {
    status = 0;
    return session;
  }
  std::shared_ptr<Session> session(new Session());
  session->wantedName_ = name.empty() ? "Chimewick" : name;
  if (!session->openClient(session->wantedName_, status)) return nullptr;
  session->thread_ = std::thread([s = session.get()] { s->run(); });
  openSession = session;
  status = 0;
  return session;
}

Session::~Session() {
  stopping_.store(true, std::memory_order_release);
  wake_.post();
  if (thread_.joinable()) thread_.join();
  std::unique_lock lock(clientMutex_);
  closeClient();
}

bool Session::openClient(const std::string& name, int32_t& status) {
  jack_status_t jackStatus{};
  openingClient = true;
  jack_client_t* client = jack_client_open(name.c_str(), JackNoStartServer, &jackStatus);
  openingClient = false;
  if (client == nullptr) {
    status = statusOf(jackStatus);
    return false;
  }
  jack_set_process_callback(client, &Session::process, this);
  jack_on_info_shutdown(client, &Session::shutdown, this);
  jack_set_port_registration_callback(client, &Session::portRegistration, this);
  jack_set_client_registration_callback(client, &Session::clientRegistration, this);
  jack_set_port_connect_callback(client, &Session::portConnect, this);
  {
    std::unique_lock lock(clientMutex_);
    client_.store(client, std::memory_order_release);
    grantedName_ = jack_get_client_name(client);
  }
  int err = 0;
  {
    // Once stored, other threads may already ask the server through it.
    std::lock_guard requests(requestMutex_);
    err = jack_activate(client);
  }
  if (err != 0) {
    std::unique_lock lock(clientMutex_);
    closeClient();
    status = err > 0 ? -err : -EIO;
    return false;
  }
  sampleRate_.store(jack_get_sample_rate(client), std::memory_order_relaxed);
  bufferSize_.store(jack_get_buffer_size(client), std::memory_order_relaxed);
  connected_.store(true, std::memory_order_release);
  return true;
}

// Under the unique lock.
void Session::closeClient() {
  connected_.store(false, std::memory_order_release);
  jack_client_t* client = client_.load(std::memory_order_acquire);
  if (client == nullptr) return;
  jack_deactivate(client);
  jack_client_close(client);
  client_.store(nullptr, std::memory_order_release);
}

std::string Session::clientName() const {
  std::shared_lock lock(clientMutex_);
  return grantedName_;
}

void Session::join(Member& member, Place place) {
  std::lock_guard lock(membersMutex_);
  if (place == Place::None) {
    members_.push_back(&member);
    return;
  }
  // Members with ports first: when a server comes back they take their own
  // port names again before the others' news makes anyone open new ports.
  members_.insert(members_.begin(), &member);
  const size_t first = place == Place::Input ? 0 : kPlacesEach;
  for (size_t i = first; i < first + kPlacesEach; ++i) {
    if (stages_[i].load(std::memory_order_relaxed) != nullptr) continue;
    stages_[i].store(&member, std::memory_order_seq_cst);
    return;
  }
  jackLog.line("more than %zu members in one place of the cycle; one is left out", kPlacesEach);
}

void Session::leave(Member& member) {
  {
    std::lock_guard calls(callsMutex_);
    std::lock_guard lock(membersMutex_);
    std::erase(members_, &member);
    for (auto& stage : stages_) {
      Member* expected = &member;
      stage.compare_exchange_strong(expected, nullptr, std::memory_order_seq_cst);
    }
  }
  waitForCycle();
}

void Session::waitForCycle() {
  const uint64_t seen = cycles_.load(std::memory_order_seq_cst);
  if (seen % 2 == 0) return;
  cycleWaiters_.fetch_add(1, std::memory_order_seq_cst);
  // Until the cycle ends, or the client is closed (which ends JACK's
  // threads): a lost server alone does not stop a cycle already running.
  while (cycles_.load(std::memory_order_seq_cst) == seen &&
         client_.load(std::memory_order_acquire) != nullptr)
    cycleEnded_.waitFor(std::chrono::milliseconds(20));
  cycleWaiters_.fetch_sub(1, std::memory_order_seq_cst);
}

void Session::unregisterPort(jack_client_t* client, jack_port_t* port) {
  if (port == nullptr) return;
  // The server handles this request only when it sends us no notice that
  // waits for our reply, and it sends our latency notices (where libjack
  // walks our port list) that way; the request returns after them.
  jack_recompute_total_latencies(client);
  jack_port_unregister(client, port);
}

int Session::process(jack_nframes_t frames, void* arg) noexcept {
  auto* self = static_cast<Session*>(arg);
  processThread = true;
  self->cycles_.fetch_add(1, std::memory_order_seq_cst);
  for (auto& stage : self->stages_) {
    if (Member* member = stage.load(std::memory_order_seq_cst)) member->process(frames);
  }
  self->cycles_.fetch_add(1, std::memory_order_seq_cst);
  if (self->cycleWaiters_.load(std::memory_order_seq_cst) > 0) self->cycleEnded_.post();
  return 0;
}

void Session::shutdown(jack_status_t, const char* reason, void* arg) noexcept {
  auto* self = static_cast<Session*>(arg);
  if (self->lost_.load(std::memory_order_acquire)) return;
  std::strncpy(self->lossReason_, reason != nullptr ? reason : "", sizeof self->lossReason_ - 1);
  self->connected_.store(false, std::memory_order_release);
  self->lost_.store(true, std::memory_order_release);
  self->cycleEnded_.post();
  self->wake_.post();
}

void Session::portRegistration(jack_port_id_t port, int registered, void* arg) {
  auto* self = static_cast<Session*>(arg);
  std::lock_guard lock(self->membersMutex_);
  for (Member* m : self->members_)
    m->portRegistered(self->client_.load(std::memory_order_acquire), port, registered != 0);
}

void Session::clientRegistration(const char* name, int registered, void* arg) {
  auto* self = static_cast<Session*>(arg);
  std::lock_guard lock(self->membersMutex_);
  for (Member* m : self->members_)
    m->clientRegistered(self->client_.load(std::memory_order_acquire), name, registered != 0);
}

void Session::portConnect(jack_port_id_t a, jack_port_id_t b, int connected, void* arg) {
  auto* self = static_cast<Session*>(arg);
  std::lock_guard lock(self->membersMutex_);
  for (Member* m : self->members_)
    m->portConnected(self->client_.load(std::memory_order_acquire), a, b, connected != 0);
}

void Session::simulateServerLossForTesting() { shutdown(JackFailure, "simulated for a test", this); }

std::vector<Member*> Session::membersNow() {
  std::lock_guard lock(membersMutex_);
  return members_;
}

void Session::run() {
  pthread_setname_np(pthread_self(), "jack-session");
  while (!stopping_.load(std::memory_order_acquire)) {
    wake_.wait();
    if (lost_.load(std::memory_order_acquire)) handleLoss();
  }
}

void Session::handleLoss() {
  // JACK's own threads end by themselves once they see the server gone;
  // closing the client cancels those still running wherever they are, so
  // give them a moment first.
  wake_.waitFor(kThreadsEndGrace);
  // A cycle still running (waiting for FluidSynth, say) ends first: a
  // thread cancelled inside it would leave the audio layer's readers held.
  const auto giveUp = std::chrono::steady_clock::now() + kCycleEndLimit;
  while (cycles_.load(std::memory_order_seq_cst) % 2 != 0 && std::chrono::steady_clock::now() < giveUp)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  {
    std::unique_lock lock(clientMutex_);
    closeClient();
  }
  jackLog.line(
      "the JACK server went away (%s); its MIDI sources are gone and JACK sound stops until it "
      "comes back",
      lossReason_[0] != '\0' ? lossReason_ : "no reason given");
  {
    std::lock_guard calls(callsMutex_);
    for (Member* m : membersNow()) m->serverLost();
  }
  lost_.store(false, std::memory_order_release);
  while (!stopping_.load(std::memory_order_acquire)) {
    wake_.waitFor(kReconnectInterval);
    if (stopping_.load(std::memory_order_acquire)) return;
    int32_t status = 0;
    if (!openClient(wantedName_, status)) continue;
    jackLog.line("a JACK server is back; the client \"%s\" is connected again", clientName().c_str());
    // Only this thread replaces the client, so it stays while the members
    // register their ports again (through withClient, which locks).
    jack_client_t* client = client_.load(std::memory_order_acquire);
    std::lock_guard calls(callsMutex_);
    for (Member* m : membersNow()) m->serverBack(client);
    return;
  }
}

}  // namespace chimewick::jack
