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
  explicit MemoryBlock(size_t size = 0) : bytes_(size, 0) {}
  MemoryBlock(const uint8_t* data, size_t size) : bytes_(data, data + size) {}

  int32_t Size() const noexcept { return int32_t(bytes_.size()); }
  uint8_t Byte(int32_t offset) const;
  void SetByte(int32_t offset, uint8_t value);
  const uint8_t* Data() const noexcept { return bytes_.data(); }
  std::string ClassName() const override { return "MemoryBlock"; }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace rb
