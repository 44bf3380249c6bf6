// The packet lists a port hands to its Read handler, made in advance with
// their packets and blocks, so that a Read allocates nothing. A list is used
// again once nobody holds it, its packets or their blocks any more.
#pragma once

#include <memory>
#include <span>
#include <vector>

#include "MidiPacketListZel.h"

namespace chimewick::midi {

class ReadListPool {
 public:
  // The packets and bytes one list holds: enough for a 64 KiB
  // system-exclusive message in one packet.
  static constexpr size_t kPackets = 256;
  static constexpr size_t kBytes = 64 * 1024 + 1024;

  // Makes lists ahead. The thread that makes the port.
  explicit ReadListPool(size_t lists = 2);

  // Starts filling a free list (emptied). Only when every list is still held
  // by a handler is a new one made. The port's input thread.
  void begin();
  // Adds one packet to the list being filled; false when it does not fit
  // (raise the list and begin again). A packet larger than a list ever holds
  // is put into a list made for it. The port's input thread.
  bool add(std::span<const uint8_t> packet);
  bool empty() const noexcept { return current_->data->empty(); }
  // The list being filled. The port's input thread.
  const rb::Ref<MidiPacketListZel>& list() const noexcept { return current_->list; }

 private:
  struct Entry {
    std::shared_ptr<PacketData> data;
    rb::Ref<MidiPacketListZel> list;
    bool oneOff = false;  // made for one large packet; dropped when done
  };
  static std::unique_ptr<Entry> make(size_t packets, size_t bytes);
  bool free(const Entry& entry) const noexcept;

  std::vector<std::unique_ptr<Entry>> entries_;
  Entry* current_ = nullptr;
  std::unique_ptr<Entry> large_;  // the list made for one large packet
};

}  // namespace chimewick::midi
