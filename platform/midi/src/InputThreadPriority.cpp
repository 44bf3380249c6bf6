#include "InputThreadPriority.h"

#include <pthread.h>
#include <sched.h>

namespace chimewick::midi {

void raiseInputThreadPriority() noexcept {
  sched_param param{};
  param.sched_priority = sched_get_priority_min(SCHED_FIFO) + 9;
  // Refused without CAP_SYS_NICE or an rtprio limit: then the thread keeps
  // the normal policy.
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

}  // namespace chimewick::midi
