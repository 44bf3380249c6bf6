#include "MidiMessageSplitter.h"

#include <vector>

namespace chimewick::midi {
namespace {

// Length of the message that starts with status, counting the status; 0 for
// system exclusive, whose end is its 0xF7.
size_t messageLength(uint8_t status) noexcept {
  if (status < 0xF0) {
    const uint8_t kind = status & 0xF0;
    return (kind == 0xC0 || kind == 0xD0) ? 2 : 3;
  }
  switch (status) {
    case 0xF0:
      return 0;
    case 0xF1:
    case 0xF3:
      return 2;
    case 0xF2:
      return 3;
    default:
      return 1;
  }
}

class Splitter {
 public:
  explicit Splitter(PacketData& out) : out_(out) {}

  void byte(uint8_t b) {
    if (b >= 0xF8) {
      out_.add({&b, 1});
      return;
    }
    if (b == 0xF7) {
      const bool ends = open_ && length_ == 0;
      if (ends) message_.push_back(b);
      flush();
      if (!ends) out_.add({&b, 1});
      seenStatus_ = true;
      running_ = 0;
      return;
    }
    if (b & 0x80) {
      flush();
      seenStatus_ = true;
      running_ = b < 0xF0 ? b : 0;
      start(b);
      return;
    }
    if (open_) {
      append(b);
    } else if (running_ != 0) {
      start(running_);
      append(b);
    } else if (!seenStatus_) {
      // The rest of a system exclusive message: kept to its end.
      open_ = true;
      length_ = 0;
      message_.push_back(b);
    }
  }

  void flush() {
    if (open_) out_.add(message_);
    message_.clear();
    open_ = false;
  }

 private:
  void start(uint8_t status) {
    open_ = true;
    length_ = messageLength(status);
    message_.push_back(status);
    if (length_ == 1) flush();
  }

  void append(uint8_t b) {
    message_.push_back(b);
    if (length_ != 0 && message_.size() == length_) flush();
  }

  PacketData& out_;
  std::vector<uint8_t> message_;
  size_t length_ = 0;  // of the open message; 0: runs to an 0xF7
  bool open_ = false;
  bool seenStatus_ = false;
  uint8_t running_ = 0;
};

}  // namespace

void splitMessages(std::span<const uint8_t> bytes, PacketData& out) {
  Splitter splitter(out);
  for (const uint8_t b : bytes) splitter.byte(b);
  splitter.flush();
}

}  // namespace chimewick::midi
