#include "rb/Object.h"

namespace rb {

Object::~Object() = default;

void Object::Release() const noexcept {
  if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) Destroy();
}

void Object::RemoveHandler(std::string_view event) {
  auto it = handlers_.find(event);
  if (it != handlers_.end()) handlers_.erase(it);
}

bool Object::HasHandler(std::string_view event) const { return FindHandler(event) != nullptr; }

const std::any* Object::FindHandler(std::string_view event) const {
  auto it = handlers_.find(event);
  return it == handlers_.end() ? nullptr : &it->second;
}

void Object::ThrowHandlerMismatch(std::string_view event) {
  throw RuntimeException("Handler of event \"" + std::string(event) + "\" has the wrong signature");
}

void ThrowNilObject() { throw NilObjectException(); }

}  // namespace rb
