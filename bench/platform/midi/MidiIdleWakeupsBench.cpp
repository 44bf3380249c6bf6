// Idle wake-ups of the MIDI backends' threads: how often each thread that a
// client and its input port start is woken per second while no MIDI arrives
// (a laptop's battery pays for each). The ALSA backend runs on the real
// sequencer where /dev/snd/seq opens, else on the in-process fake sequencer;
// the virtual service's reader runs beside it for comparison. Counted from
// the kernel's context switches of each thread (/proc/self/task/*/status).
#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <thread>

#include "AlsaMidiService.h"
#include "FakeAlsaSequencer.h"
#include "MidiService.h"

using namespace chimewick::midi;

namespace {

constexpr auto kWindow = std::chrono::seconds(5);

std::set<int> threads() {
  std::set<int> ids;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') ids.insert(std::stoi(entry->d_name));
    closedir(dir);
  }
  return ids;
}

// Voluntary and involuntary context switches of a thread so far.
long switches(int tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/status");
  long total = 0;
  for (std::string line; std::getline(in, line);)
    if (line.find("ctxt_switches:") != std::string::npos) total += std::stol(line.substr(line.find(':') + 1));
  return total;
}

std::string nameOf(int tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

struct Quiet : ClientListener, InputReceiver {
  void objectAdded(ObjectKind, int32_t) override {}
  void objectRemoved(ObjectKind, int32_t) override {}
  void setupChanged() override {}
  void received(int32_t, PacketData&&) override {}
  void sourceGone(int32_t) override {}
};

// Opens a client with one input port through open(), then counts the
// wake-ups of the threads that appeared while nothing arrives.
template <class Open>
void measure(const char* label, Open open) {
  Quiet quiet;
  const std::set<int> before = threads();
  int32_t status = 0;
  std::shared_ptr<ServiceClient> client = open(quiet, status);
  if (!client) {
    std::printf("%-44s did not open (%d)\n", label, status);
    return;
  }
  std::unique_ptr<InputPort> port = client->createInputPort("ChimewickPort", quiet, status);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::set<int> started;
  for (int tid : threads())
    if (!before.contains(tid)) started.insert(tid);
  std::vector<long> at;
  for (int tid : started) at.push_back(switches(tid));
  std::this_thread::sleep_for(kWindow);
  size_t i = 0;
  for (int tid : started) {
    const double perSecond = double(switches(tid) - at[i++]) / std::chrono::duration<double>(kWindow).count();
    std::printf("%-44s thread %-16s %6.1f wake-ups/s\n", label, nameOf(tid).c_str(), perSecond);
  }
  port.reset();
  client.reset();
}

}  // namespace

int main() {
  std::printf(
      "MIDI backend threads, idle wake-ups per second over %lld s with no MIDI arriving (goal < 10)\n",
      static_cast<long long>(kWindow.count()));
  if (access("/dev/snd/seq", R_OK | W_OK) == 0) {
    measure("ALSA backend, real sequencer:", [](ClientListener& listener, int32_t& status) {
      return openAlsaClient("Chimewick bench", listener, status);
    });
  }
  FakeAlsaSequencer fake;
  measure("ALSA backend, in-process fake sequencer:", [&](ClientListener& listener, int32_t& status) {
    return openAlsaClientOn(fake.open(129), listener, status);
  });
  measure("virtual service (for comparison):", [](ClientListener& listener, int32_t& status) {
    return openVirtualClient("Chimewick bench", listener, status);
  });
  return 0;
}
