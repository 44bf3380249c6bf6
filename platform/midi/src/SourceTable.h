// The sources a port hears from: for each, the endpoint its Reads name and
// the notes it holds down. Lock-free, so that the port's input thread (on
// JACK the real-time thread) finds a source without waiting or allocating
// while the UI thread connects others.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "MidiEndpointZel.h"
#include "NoteTracker.h"

namespace chimewick::midi {

class SourceTable {
 public:
  // Connected sources tracked at once, and sources that send without being
  // connected (a program writing to the port directly).
  static constexpr size_t kConnected = 64;
  static constexpr size_t kOthers = 16;

  SourceTable();

  // Reads from endpoint's source name endpoint from now on (the first
  // endpoint given for a source stays while the source is known). UI thread.
  void connect(const rb::Ref<MidiEndpointZel>& endpoint);

  struct Entry {
    MidiEndpointZel* endpoint = nullptr;
    NoteTracker* tracker = nullptr;
    explicit operator bool() const noexcept { return endpoint != nullptr; }
  };

  // The rest runs on the port's input thread, one call at a time.

  // The entry of a known source (connected, or sending before); none for
  // an unknown one.
  Entry find(int32_t source) noexcept;
  // The entry an unknown source may take: a free one, else one that holds
  // nothing, else the next in turn (whose notes the caller releases first,
  // as those of a source that went). Then adopt() gives it to source.
  Entry spare() noexcept;
  Entry adopt(int32_t source) noexcept;
  // Forgets a source that went away, once the caller has released its notes.
  void forget(int32_t source) noexcept;

 private:
  enum State : uint64_t { kFree = 0, kLive = 1, kGone = 2, kClaiming = 3 };
  static uint64_t word(int32_t source, State state) noexcept {
    return (uint64_t(uint32_t(source)) << 8) | state;
  }
  static State stateOf(uint64_t w) noexcept { return State(w & 0xFF); }
  static int32_t sourceOf(uint64_t w) noexcept { return int32_t(uint32_t(w >> 8)); }

  struct Connected {
    std::atomic<uint64_t> word{0};
    rb::Ref<MidiEndpointZel> endpoint;  // written only while not live
    NoteTracker tracker;
  };
  // An endpoint of ours for a source that was never connected.
  class OtherEndpoint final : public MidiEndpointZel {
   public:
    using MidiObjectZel::setHandle;
  };
  struct Other {
    int32_t source = 0;  // 0: free
    rb::Ref<OtherEndpoint> endpoint;
    NoteTracker tracker;
  };

  Connected* findConnected(int32_t source) noexcept;
  size_t spareIndex() noexcept;

  std::array<Connected, kConnected> connected_;
  std::array<Other, kOthers> others_;  // the input thread's alone
  size_t nextEviction_ = 0;
  size_t spare_ = 0;  // what spare() picked, for adopt()
};

}  // namespace chimewick::midi
