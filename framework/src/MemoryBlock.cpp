#include "rb/MemoryBlock.h"

#include <string>

namespace rb {

namespace {

[[noreturn]] void ThrowOffset(int32_t offset, size_t size) {
  throw OutOfBoundsException("MemoryBlock offset " + std::to_string(offset) + " outside a block of " +
                             std::to_string(size) + " bytes");
}

}  // namespace

uint8_t MemoryBlock::Byte(int32_t offset) const {
  if (offset < 0 || size_t(offset) >= bytes_.size()) ThrowOffset(offset, bytes_.size());
  return bytes_[size_t(offset)];
}

void MemoryBlock::SetByte(int32_t offset, uint8_t value) {
  if (offset < 0 || size_t(offset) >= bytes_.size()) ThrowOffset(offset, bytes_.size());
  bytes_[size_t(offset)] = value;
}

}  // namespace rb
