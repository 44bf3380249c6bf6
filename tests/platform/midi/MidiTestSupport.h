// Recording subclasses of the port and the client, as the program makes
// them: handlers bound in the constructor. What they record lives in a
// shared log, so a Read that races the port's release never touches a
// destroyed member.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "MidiClientZel.h"
#include "MidiPortZel.h"
#include "rb/Runtime.h"

using Bytes = std::vector<uint8_t>;

struct ReadRecord {
  int32_t source = 0;
  rb::Ref<MidiEndpointZel> endpoint;
  std::vector<Bytes> packets;
  std::thread::id thread;
};

struct ReadLog {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<ReadRecord> reads;
  std::function<void()> duringRead;  // runs inside the handler, if set

  size_t count() {
    std::lock_guard lock(mutex);
    return reads.size();
  }
  // Waits up to timeout for at least n reads.
  bool waitFor(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, timeout, [&] { return reads.size() >= n; });
  }
  std::vector<ReadRecord> snapshot() {
    std::lock_guard lock(mutex);
    return reads;
  }
};

class RecordingPort : public MidiPortZel {
 public:
  RecordingPort() : log(std::make_shared<ReadLog>()) {
    SetHandler<void(rb::Ref<MidiEndpointZel>, rb::Ref<MidiPacketListZel>)>(
        "Read", [log = log](rb::Ref<MidiEndpointZel> endpoint, rb::Ref<MidiPacketListZel> packets) {
          ReadRecord record;
          record.source = endpoint ? endpoint->Handle() : 0;
          record.endpoint = endpoint;
          record.thread = std::this_thread::get_id();
          for (int32_t i = 0; i < packets->Count(); ++i) {
            rb::Ref<rb::MemoryBlock> m = packets->Item(i)->DataMemory();
            record.packets.emplace_back(m->Data(), m->Data() + m->Size());
          }
          if (log->duringRead) log->duringRead();
          {
            std::lock_guard lock(log->mutex);
            log->reads.push_back(std::move(record));
          }
          log->changed.notify_all();
        });
  }
  std::shared_ptr<ReadLog> log;
};

struct ClientEvent {
  std::string name;
  int32_t child = 0;
  std::thread::id thread;
};

class RecordingClient : public MidiClientZel {
 public:
  RecordingClient() : events(std::make_shared<std::vector<ClientEvent>>()) {
    using Objects = void(rb::Ref<MidiObjectZel>, rb::Ref<MidiObjectZel>);
    for (const char* name : {"ObjectAdded", "ObjectRemoved"}) {
      SetHandler<Objects>(
          name, [events = events, name](rb::Ref<MidiObjectZel> parent, rb::Ref<MidiObjectZel> child) {
            events->push_back({name, child ? child->Handle() : -1, std::this_thread::get_id()});
            (void)parent;
          });
    }
    for (const char* name : {"SetupChanged", "ThruConnectionsChanged", "SerialPortOwnerChanged"}) {
      SetHandler<void()>(name, [events = events, name] {
        events->push_back({name, 0, std::this_thread::get_id()});
      });
    }
    SetHandler<void(rb::Ref<MidiObjectZel>, rb::Ref<CFStringZel>)>(
        "PropertyChanged", [events = events](rb::Ref<MidiObjectZel>, rb::Ref<CFStringZel>) {
          events->push_back({"PropertyChanged", 0, std::this_thread::get_id()});
        });
  }
  std::shared_ptr<std::vector<ClientEvent>> events;
};

// Runs the event loop until done() or the time-out; UI thread.
inline bool pumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    rb::ProcessEvents(10);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

inline rb::String nameOf(const rb::Ref<MidiObjectZel>& object) {
  rb::Ref<CFStringZel> name = object->StringProperty(object->kMIDIPropertyName());
  return name ? name->Str() : rb::String("(none)");
}
