// A JACK server of the test's own (the dummy driver, no sound card), under a
// name no other test on the machine uses, and MIDI keyboards played into it
// by the test itself (each keyboard a JACK client with one MIDI output).
//
// Live tests skip with the reason where jackd cannot run; where live tests
// are required (CHIMEWICK_LIVE_TESTS=required, as on CI) they fail instead.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"

#ifndef CHIMEWICK_TEST_KEYBOARD
#error CHIMEWICK_TEST_KEYBOARD names the jack_test_keyboard program
#endif

// Skips the running test with reason, or fails it where live tests must run.
#define CHIMEWICK_LIVE_SKIP(reason)                                     \
  do {                                                                  \
    const char* required_ = std::getenv("CHIMEWICK_LIVE_TESTS");        \
    if (required_ != nullptr && std::string(required_) == "required") { \
      FAIL() << (reason);                                               \
    }                                                                   \
    GTEST_SKIP() << "skipped: " << (reason);                            \
  } while (0)

namespace chimewick_test {

using namespace std::chrono_literals;

class PrivateJackServer {
 public:
  // period: frames per cycle; the server runs at rate. Sets
  // JACK_DEFAULT_SERVER for the process (every client of the test finds this
  // server) until it is destroyed.
  explicit PrivateJackServer(int period = 128, int rate = 48000) : period_(period), rate_(rate) {
    std::random_device seed;
    name_ = "chimewick-test-" + std::to_string(::getpid()) + "-" + std::to_string(seed() % 1000000);
    setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
    setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
  }
  ~PrivateJackServer() {
    stop(SIGTERM);
    // A server killed outright stays in JACK's table of servers (eight
    // places for the whole machine) until one of the same name starts again:
    // start one, and stop it properly.
    if (killed_ && start()) stop(SIGTERM);
    unsetenv("JACK_DEFAULT_SERVER");
    if (slot_ >= 0) ::close(slot_);
  }
  PrivateJackServer(const PrivateJackServer&) = delete;
  PrivateJackServer& operator=(const PrivateJackServer&) = delete;

  // Starts jackd and waits (up to 20 s, the machine may be busy) until it
  // takes a client. False with reason() when it does not.
  bool start() {
    if (!takeSlot()) {
      reason_ = "another private JACK server kept its place on this machine for ten minutes";
      return false;
    }
    // A long client time-out: on a loaded machine a sanitized client may be
    // slow for a cycle, and must not be thrown out for it.
    jackd_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"jackd", "-n", name_, "-t", "10000", "-d", "dummy", "-r",
                                 std::to_string(rate_), "-p", std::to_string(period_)});
    if (!jackd_->started()) {
      reason_ = "jackd cannot be run (is jackd2 installed?)";
      return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
      if (!jackd_->running()) {
        reason_ = "jackd -d dummy exited at start";
        return false;
      }
      // Quiet while the server is not there yet: libjack says so loudly.
      const auto error = jack_error_callback;
      const auto info = jack_info_callback;
      jack_set_error_function([](const char*) {});
      jack_set_info_function([](const char*) {});
      jack_status_t status{};
      jack_client_t* probe = jack_client_open("probe", JackNoStartServer, &status);
      jack_set_error_function(error);
      jack_set_info_function(info);
      if (probe != nullptr) {
        jack_client_close(probe);
        return true;
      }
      std::this_thread::sleep_for(20ms);
    }
    reason_ = "jackd started but took no client within 20 s";
    return false;
  }

  // Ends the server: SIGKILL as a crash, SIGTERM as a user stopping it.
  // Waits until it is gone.
  void stop(int signal = SIGKILL) {
    if (!jackd_) return;
    if (signal == SIGKILL) {
      jackd_->kill();
      killed_ = true;
    } else {
      jackd_->stop();
      killed_ = false;
    }
    jackd_.reset();
  }

  const std::string& name() const { return name_; }
  const std::string& reason() const { return reason_; }
  int period() const { return period_; }
  int rate() const { return rate_; }

 private:
  // One private server at a time on the machine: JACK's table of shared
  // memory segments is one for all servers, and a test with hundreds of
  // ports beside three other servers ran it out (clients then failed to open
  // at random). The place is a lock file, so tests of several programs (and
  // engineers) queue for it.
  bool takeSlot() {
    if (slot_ >= 0) return true;
    const auto deadline = std::chrono::steady_clock::now() + 600s;
    while (std::chrono::steady_clock::now() < deadline) {
      const int fd = ::open("/tmp/chimewick-jackd-place.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
      if (fd >= 0) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
          slot_ = fd;
          return true;
        }
        ::close(fd);
      }
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }

  int period_;
  int rate_;
  std::string name_;
  std::string reason_;
  std::unique_ptr<ChildProcess> jackd_;
  bool killed_ = false;  // the last stop was a kill: its place in JACK's table is taken
  int slot_ = -1;        // the lock file of the place held
};

// A client of the test's own on the private server, to look at the graph as
// another program does. Opened once and kept: JACK does not take well to
// clients of one process coming and going while others run in it.
class JackObserver {
 public:
  JackObserver() {
    client_ = jack_client_open("observer", JackNoStartServer, nullptr);
    if (client_ == nullptr) return;
    jack_set_xrun_callback(
        client_,
        [](void* arg) {
          static_cast<JackObserver*>(arg)->xruns_.fetch_add(1);
          return 0;
        },
        this);
    jack_activate(client_);
  }
  // The xruns the server has reported since the observer opened.
  int xruns() const { return xruns_.load(); }
  ~JackObserver() {
    if (client_ != nullptr) jack_client_close(client_);
  }
  JackObserver(const JackObserver&) = delete;
  JackObserver& operator=(const JackObserver&) = delete;

  bool open() const { return client_ != nullptr; }
  jack_client_t* client() const { return client_; }

  // The names of the ports whose full name matches pattern (a regular
  // expression), as JACK lists them.
  std::vector<std::string> ports(const char* pattern, const char* type = nullptr,
                                 unsigned long flags = 0) const {
    std::vector<std::string> names;
    if (client_ == nullptr) return names;
    if (const char** list = jack_get_ports(client_, pattern, type, flags)) {
      for (const char** n = list; *n != nullptr; ++n) names.emplace_back(*n);
      jack_free(list);
    }
    return names;
  }
  // Whether the port of that name has a connection.
  bool connected(const std::string& port) const {
    jack_port_t* p = client_ != nullptr ? jack_port_by_name(client_, port.c_str()) : nullptr;
    return p != nullptr && jack_port_connected(p) > 0;
  }

 private:
  jack_client_t* client_ = nullptr;
  std::atomic<int> xruns_{0};
};

// A MIDI keyboard on the private server, in a process of its own (the
// jack_test_keyboard program) as a real keyboard's bridge is: a JACK client
// named name with one MIDI output "out". Plugged while the object lives;
// destroying it unplugs the keyboard (its client closes).
class TestKeyboard {
 public:
  // active false: the client registers its port but is not active until
  // Activate().
  static std::unique_ptr<TestKeyboard> Plug(const std::string& name, bool active = true) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return nullptr;
    std::unique_ptr<TestKeyboard> keyboard(new TestKeyboard());
    keyboard->name_ = name + ":out";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::string program = CHIMEWICK_TEST_KEYBOARD;
    std::string mode = active ? "active" : "inactive";
    char* argv[] = {program.data(), const_cast<char*>(name.c_str()), mode.data(), nullptr};
    const int spawned = posix_spawn(&keyboard->pid_, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[0]);
    keyboard->input_ = fds[1];
    if (spawned != 0) {
      keyboard->pid_ = -1;
      return nullptr;
    }
    return keyboard;
  }
  ~TestKeyboard() { Unplug(); }
  TestKeyboard(const TestKeyboard&) = delete;
  TestKeyboard& operator=(const TestKeyboard&) = delete;

  // The source's name as the MIDI layer lists it.
  const std::string& PortName() const { return name_; }

  // Sends one message at the start of the keyboard's next cycle.
  void Send(std::initializer_list<uint8_t> bytes) {
    std::string line;
    char hex[4];
    for (uint8_t b : bytes) {
      std::snprintf(hex, sizeof hex, "%02x ", b);
      line += hex;
    }
    line += "\n";
    [[maybe_unused]] const ssize_t written = ::write(input_, line.data(), line.size());
  }

  // Makes a keyboard plugged inactive active.
  void Activate() {
    static const char line[] = "activate\n";
    [[maybe_unused]] const ssize_t written = ::write(input_, line, sizeof line - 1);
  }

  // Sends count note-ons, each followed by its note-off, in one cycle.
  void Burst(int count) { line("burst " + std::to_string(count)); }
  // Sends one system-exclusive message of size bytes (0xF0 ... 0xF7).
  void SysEx(int size) { line("sysex " + std::to_string(size)); }

  // Unregisters the keyboard's port while its client stays (a bridge of
  // several keyboards losing one).
  void DropPort() {
    static const char line[] = "drop\n";
    [[maybe_unused]] const ssize_t written = ::write(input_, line, sizeof line - 1);
  }

  // Unplugs the keyboard and waits until its program has ended.
  void Unplug() {
    if (input_ >= 0) ::close(input_);
    input_ = -1;
    if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  TestKeyboard() = default;
  void line(std::string text) {
    text += "\n";
    [[maybe_unused]] const ssize_t written = ::write(input_, text.data(), text.size());
  }
  std::string name_;
  pid_t pid_ = -1;
  int input_ = -1;
};

// Counts of the process's threads and open file descriptors.
inline size_t CountEntries(const char* folder) {
  size_t count = 0;
  if (DIR* dir = opendir(folder)) {
    while (dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') ++count;
    closedir(dir);
  }
  return count;
}
inline size_t ThreadCount() { return CountEntries("/proc/self/task"); }
inline size_t FileDescriptorCount() { return CountEntries("/proc/self/fd") - 1; }  // less the listing's own

}  // namespace chimewick_test
