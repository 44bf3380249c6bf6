// The framework's object model: reference-counted objects, the Ref smart
// pointer, and events raised by name.
//
// Every framework object derives from rb::Object and is held by rb::Ref<T>.
// Counting is atomic, so a Ref may be copied on any thread; the object itself
// is not made thread-safe by that.
//
// Events: an object's owner binds a handler under an event name
// (SetHandler); the framework raises the event by that name (RaiseEvent).
// A handler has a fixed signature per event; raising an event that has no
// handler returns the result type's default value (false, 0, nil).
// Bind handlers before the object is shared with another thread: the table is
// read without a lock.
#pragma once

#include <any>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <typeinfo>
#include <unordered_map>
#include <utility>

#include "rb/Exceptions.h"

namespace rb {

class Object {
 public:
  Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  virtual ~Object();

  // Reference counting. Any thread. Release frees the object through Destroy
  // when the last reference goes.
  void Retain() const noexcept { refs_.fetch_add(1, std::memory_order_relaxed); }
  void Release() const noexcept;
  int RefCount() const noexcept { return refs_.load(std::memory_order_relaxed); }

  // The class name the framework knows this object under ("Window1.Window1").
  virtual std::string ClassName() const { return "Object"; }

  // Binds handler under event name, replacing an earlier one. UI thread.
  template <class Sig>
  void SetHandler(std::string_view event, std::function<Sig> handler) {
    handlers_.insert_or_assign(std::string(event),
                               std::any(std::make_shared<const std::function<Sig>>(std::move(handler))));
  }
  void RemoveHandler(std::string_view event);
  bool HasHandler(std::string_view event) const;

  // Raises the event: calls its handler with args and returns its result, or
  // R{} when nothing is bound. The handler's signature must be R(Args...).
  // The handler stays alive until it returns, even when it binds its event
  // anew or drops the last reference to this object (a button whose Action
  // closes its window). Runs on the calling thread; takes no lock and
  // allocates nothing.
  template <class R = void, class... Args>
  R RaiseEvent(std::string_view event, Args... args) {
    const std::any* slot = FindHandler(event);
    if (slot == nullptr) {
      if constexpr (std::is_void_v<R>)
        return;
      else
        return R{};
    }
    const auto* held = std::any_cast<std::shared_ptr<const std::function<R(Args...)>>>(slot);
    if (held == nullptr) ThrowHandlerMismatch(event);
    const std::shared_ptr<const std::function<R(Args...)>> handler = *held;
    return (*handler)(std::forward<Args>(args)...);
  }

 protected:
  // Frees the object; the plug-in host overrides it for objects it allocates
  // itself.
  virtual void Destroy() const noexcept { delete this; }

 private:
  struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
  };
  const std::any* FindHandler(std::string_view event) const;
  [[noreturn]] static void ThrowHandlerMismatch(std::string_view event);

  mutable std::atomic<int> refs_{0};
  std::unordered_map<std::string, std::any, NameHash, std::equal_to<>> handlers_;
};

// Intrusive strong reference. Dereferencing nil raises NilObjectException,
// the framework's nil-object exception.
template <class T>
class Ref {
 public:
  Ref() noexcept = default;
  Ref(std::nullptr_t) noexcept {}
  Ref(T* p) noexcept : p_(p) {
    if (p_) p_->Retain();
  }
  Ref(const Ref& o) noexcept : Ref(o.p_) {}
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  Ref(const Ref<U>& o) noexcept : Ref(static_cast<T*>(o.get())) {}
  ~Ref() {
    if (p_) p_->Release();
  }

  Ref& operator=(Ref o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }

  T* get() const noexcept { return p_; }
  T* operator->() const {
    if (!p_) ThrowNilObject();
    return p_;
  }
  T& operator*() const {
    if (!p_) ThrowNilObject();
    return *p_;
  }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  bool operator==(const Ref& o) const noexcept { return p_ == o.p_; }
  bool operator==(std::nullptr_t) const noexcept { return p_ == nullptr; }
  void reset() noexcept { Ref().swap(*this); }
  void swap(Ref& o) noexcept { std::swap(p_, o.p_); }

 private:
  T* p_ = nullptr;
};

// `new` of the framework: makes an object and returns the first reference.
template <class T, class... Args>
Ref<T> New(Args&&... args) {
  return Ref<T>(new T(std::forward<Args>(args)...));
}

// The framework's cast of an object reference to a subclass: nil when the
// object is not of that class.
template <class T, class U>
Ref<T> Cast(const Ref<U>& r) noexcept {
  return Ref<T>(dynamic_cast<T*>(r.get()));
}

}  // namespace rb
