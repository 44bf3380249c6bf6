// A block of bytes with its size. Byte outside 0..Size-1 raises
// OutOfBoundsException: nothing is ever read past the block. Any thread, one
// thread at a time per block; nothing waits.
#pragma once

#include <cstdint>
#include <vector>

#include "rb/Object.h"

namespace rb {

class MemoryBlock : public Object {
 public:
  explicit MemoryBlock(size_t size = 0) : bytes_(size, 0), data_(bytes_.data()), size_(size) {}
  MemoryBlock(const uint8_t* data, size_t size)
      : bytes_(data, data + size), data_(bytes_.data()), size_(size) {}

  int32_t Size() const noexcept { return int32_t(size_); }
  uint8_t Byte(int32_t offset) const;
  void SetByte(int32_t offset, uint8_t value);
  const uint8_t* Data() const noexcept { return data_; }
  std::string ClassName() const override { return "MemoryBlock"; }

 protected:
  // A block over bytes it does not own, for a subclass that keeps them alive
  // as long as the block and reuses the block for other bytes (a pool whose
  // blocks must not allocate). Empty until Rebind.
  struct Borrowed {};
  explicit MemoryBlock(Borrowed) noexcept : data_(nullptr), size_(0) {}
  // Points a borrowing block at other bytes. Allocates nothing. The thread
  // that owns the block.
  void Rebind(uint8_t* data, size_t size) noexcept {
    data_ = data;
    size_ = size;
  }

 private:
  std::vector<uint8_t> bytes_;  // the block's own bytes; never resized
  uint8_t* data_;
  size_t size_;
};

}  // namespace rb
