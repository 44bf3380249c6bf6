// A JACK server of a test's own: `jackd -d dummy` (no sound hardware) under a
// name no other test on the machine uses, made the default server of the
// process (and of the programs it starts) while it lives. Clients never start
// a server of their own meanwhile.
//
//   PrivateJackServer jack("core");
//   if (!jack.ready()) GTEST_SKIP() << jack.whyNotReady();
#pragma once

#include <chrono>
#include <random>
#include <string>
#include <string_view>
#include <thread>

#include "ChildProcess.h"
#include "ScopedEnvironment.h"

namespace chimewick_test {

class PrivateJackServer {
 public:
  explicit PrivateJackServer(std::string_view label, int periodFrames = 128)
      : name_(UniqueName(label)),
        server_("JACK_DEFAULT_SERVER", name_),
        noStart_("JACK_NO_START_SERVER", "1"),
        noReservation_("JACK_NO_AUDIO_RESERVATION", "1"),
        jackd_(
            {"jackd", "-n", name_, "-r", "-d", "dummy", "-r", "48000", "-p", std::to_string(periodFrames)}) {}

  // Whether the server runs and takes clients; waits up to five seconds for
  // that the first time.
  bool ready() {
    using namespace std::chrono_literals;
    if (checked_) return ready_;
    checked_ = true;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (jackd_.running() && std::chrono::steady_clock::now() < deadline) {
      ChildProcess probe({"jack_lsp"});  // ends with 0 once it could connect
      if (probe.wait() == 0) return ready_ = true;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }
  std::string whyNotReady() const {
    return "skipped: jackd -d dummy (" + name_ + ") did not start or took no client; is jackd2 installed?";
  }
  const std::string& name() const { return name_; }

 private:
  static std::string UniqueName(std::string_view label) {
    std::random_device seed;
    return "chimewick-" + std::string(label) + "-" + std::to_string(::getpid()) + "-" +
           std::to_string(seed() % 100000);
  }

  std::string name_;
  ScopedEnvironment server_, noStart_, noReservation_;
  ChildProcess jackd_;  // stopped first, before the environment is put back
  bool checked_ = false, ready_ = false;
};

}  // namespace chimewick_test
