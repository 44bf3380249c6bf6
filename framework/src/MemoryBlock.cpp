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
  if (offset < 0 || size_t(offset) >= size_) ThrowOffset(offset, size_);
  return data_[size_t(offset)];
}

void MemoryBlock::SetByte(int32_t offset, uint8_t value) {
  if (offset < 0 || size_t(offset) >= size_) ThrowOffset(offset, size_);
  data_[size_t(offset)] = value;
}

}  // namespace rb
