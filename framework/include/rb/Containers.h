// The framework's dynamic array and its text-keyed Dictionary.
// Any thread, one thread at a time per container; nothing waits.
#pragma once

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "rb/Exceptions.h"
#include "rb/String.h"
#include "rb/Variant.h"

namespace rb {

// A dynamic array indexed from 0. LastIndex is -1 when empty. Indexing
// outside 0..LastIndex raises OutOfBoundsException.
template <class T>
class Array {
 public:
  Array() = default;
  Array(std::initializer_list<T> items) : items_(items) {}
  explicit Array(int lastIndex) : items_(lastIndex < 0 ? 0 : size_t(lastIndex) + 1) {}

  void Append(T item) { items_.push_back(std::move(item)); }
  int LastIndex() const noexcept { return int(items_.size()) - 1; }
  int Count() const noexcept { return int(items_.size()); }
  // Ascending; Strings by the framework's text rule (stable for equal texts).
  void Sort() { std::stable_sort(items_.begin(), items_.end()); }

  T& operator()(int i) {
    Check(i);
    return items_[size_t(i)];
  }
  const T& operator()(int i) const {
    Check(i);
    return items_[size_t(i)];
  }
  T& operator[](int i) { return (*this)(i); }
  const T& operator[](int i) const { return (*this)(i); }

  auto begin() { return items_.begin(); }
  auto end() { return items_.end(); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  void Check(int i) const {
    if (i < 0 || i >= int(items_.size())) throw OutOfBoundsException();
  }
  std::vector<T> items_;
};

// Keys are texts compared by the framework's text rule.
class Dictionary : public Object {
 public:
  bool HasKey(const String& key) const { return map_.count(key) != 0; }
  // Raises OutOfBoundsException (the framework's KeyNotFound) for a missing key.
  Variant Value(const String& key) const;
  Variant Lookup(const String& key, const Variant& fallback) const;
  void SetValue(const String& key, Variant value) { map_.insert_or_assign(key, std::move(value)); }
  void Remove(const String& key) { map_.erase(key); }
  int Count() const noexcept { return int(map_.size()); }
  std::string ClassName() const override { return "Dictionary"; }

 private:
  std::unordered_map<String, Variant, StringRuleHash, StringRuleEqual> map_;
};

}  // namespace rb
