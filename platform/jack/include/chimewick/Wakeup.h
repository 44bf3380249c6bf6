// A wake-up call between threads: post() neither waits nor locks, so a
// real-time thread may post; the sleeper sleeps until posted (no polling).
#pragma once

#include <semaphore.h>
#include <time.h>

#include <cerrno>
#include <chrono>

namespace chimewick {

class Wakeup {
 public:
  Wakeup() noexcept { sem_init(&sem_, 0, 0); }
  ~Wakeup() { sem_destroy(&sem_); }
  Wakeup(const Wakeup&) = delete;
  Wakeup& operator=(const Wakeup&) = delete;

  // Wakes one sleeper, or the next one to sleep. Any thread, the real-time
  // one included; never waits.
  void post() noexcept { sem_post(&sem_); }

  // Sleeps until posted. Any thread but a real-time one.
  void wait() noexcept {
    while (sem_wait(&sem_) != 0 && errno == EINTR) {
    }
  }

  // Sleeps until posted or until timeout has passed; false on the time-out.
  bool waitFor(std::chrono::nanoseconds timeout) noexcept {
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    const auto total = std::chrono::nanoseconds(deadline.tv_nsec) + timeout;
    deadline.tv_sec += static_cast<time_t>(std::chrono::duration_cast<std::chrono::seconds>(total).count());
    deadline.tv_nsec = static_cast<long>((total % std::chrono::seconds(1)).count());
    for (;;) {
      if (sem_clockwait(&sem_, CLOCK_MONOTONIC, &deadline) == 0) return true;
      if (errno != EINTR) return false;
    }
  }

  // Takes a post that is already there; false when there is none.
  bool tryWait() noexcept { return sem_trywait(&sem_) == 0; }

 private:
  sem_t sem_;
};

}  // namespace chimewick
