// Latency from a virtual source's send to the port's Read handler, over
// 10,000 messages: once with the event loop idle, once while the event loop
// is blocked for 500 ms (as by a modal box). Prints p50, p99 and maximum.
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "DebugMessage.h"
#include "MidiClientZel.h"
#include "MidiPortZel.h"
#include "VirtualMidi.h"
#include "rb/Runtime.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kMessages = 10000;

struct Timings {
  std::vector<Clock::time_point> sent = std::vector<Clock::time_point>(kMessages);
  std::vector<int64_t> latencyNs = std::vector<int64_t>(kMessages, -1);
  std::atomic<int> received{0};
};

// True when the calling thread runs with a real-time policy.
bool realTime() {
  int policy = 0;
  sched_param param{};
  pthread_getschedparam(pthread_self(), &policy, &param);
  return policy == SCHED_FIFO || policy == SCHED_RR;
}

std::atomic<bool> readerRealTime{false};

class TimingPort : public MidiPortZel {
 public:
  explicit TimingPort(Timings& timings) {
    SetHandler<void(rb::Ref<MidiEndpointZel>, rb::Ref<MidiPacketListZel>)>(
        "Read", [&timings](rb::Ref<MidiEndpointZel>, rb::Ref<MidiPacketListZel> packets) {
          const auto now = Clock::now();
          if (!readerRealTime.load(std::memory_order_relaxed)) readerRealTime.store(realTime());
          for (int32_t i = 0; i < packets->Count(); ++i) {
            rb::Ref<rb::MemoryBlock> m = packets->Item(i)->DataMemory();
            if (m->Size() < 3) continue;
            const int index = m->Byte(1) | (m->Byte(2) << 7);
            if (index >= kMessages) continue;
            timings.latencyNs[size_t(index)] =
                std::chrono::duration_cast<std::chrono::nanoseconds>(now - timings.sent[size_t(index)])
                    .count();
            timings.received.fetch_add(1, std::memory_order_release);
          }
        });
  }
};

// Sends kMessages, 50 us apart, each carrying its index. The sender stands
// for the driver that hands MIDI over: like the reader, it runs real-time
// where allowed, so that a busy machine does not preempt it between taking
// the time and sending.
void sendAll(int32_t source, Timings& timings) {
  sched_param param{};
  param.sched_priority = sched_get_priority_min(SCHED_FIFO) + 9;
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
  auto next = Clock::now();
  for (int i = 0; i < kMessages; ++i) {
    while (Clock::now() < next) {
    }
    timings.sent[size_t(i)] = Clock::now();
    VirtualMidi::Send(source, {0x90, uint8_t(i & 0x7F), uint8_t((i >> 7) & 0x7F)});
    next += std::chrono::microseconds(50);
  }
}

void report(const char* label, Timings& timings) {
  std::vector<int64_t> v;
  for (int64_t ns : timings.latencyNs)
    if (ns >= 0) v.push_back(ns);
  std::sort(v.begin(), v.end());
  if (v.empty()) {
    std::printf("%-34s no message arrived\n", label);
    return;
  }
  auto at = [&](double q) {
    return double(v[std::min(v.size() - 1, size_t(q * double(v.size())))]) / 1000.0;
  };
  std::printf("%-34s n=%zu  p50 %7.1f us  p99 %7.1f us  max %8.1f us\n", label, v.size(), at(0.50), at(0.99),
              double(v.back()) / 1000.0);
}

void run(const char* label, bool blockLoop) {
  const int32_t source = VirtualMidi::AddSource("Bench keyboard");
  auto client = rb::New<MidiClientZel>();
  client->Init(NewCFStringZel("Chimewick bench"));
  Timings timings;
  rb::Ref<TimingPort> port = rb::New<TimingPort>(timings);
  client->CreateInputPort(NewCFStringZel("ChimewickPort"), port);
  if (client->Lasterror() != 0 || port->Handle() == 0) {
    std::printf("%s: the virtual service did not open (%d)\n", label, client->Lasterror());
    std::exit(1);
  }
  for (int32_t i = 0; i < client->NumberOfSources(); ++i)
    if (auto s = client->GetSource(i); s && s->Handle() == source) port->ConnectSource(s);
  rb::ProcessEvents(50);

  std::thread sender([&] { sendAll(source, timings); });
  if (blockLoop) {
    // The event loop's thread is busy for 500 ms while MIDI keeps coming.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  const auto giveUp = Clock::now() + std::chrono::seconds(20);
  while (timings.received.load(std::memory_order_acquire) < kMessages && Clock::now() < giveUp)
    rb::ProcessEvents(5);
  sender.join();
  port.reset();
  client.reset();
  VirtualMidi::RemoveSource(source);
  rb::ProcessEvents(10);
  report(label, timings);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("CHIMEWICK_MIDI", "virtual", 1);
  rb::RuntimeInit(argc, argv);
  DebugMessageEnableZel(false);
  std::printf("MIDI send to Read latency, %d messages 50 us apart (virtual service, reader thread)\n",
              kMessages);
  run("event loop idle:", false);
  run("event loop blocked for 500 ms:", true);
  std::printf("MIDI input thread real-time priority: %s\n",
              readerRealTime.load() ? "yes" : "no (not permitted)");
  return rb::RuntimeExit();
}
