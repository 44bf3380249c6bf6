// Runs a handler body and, when a framework RuntimeException passes through
// it, appends a carriage return and the handler's context label to the
// exception's Message before raising it again. Other exceptions pass
// unchanged. Runs on the calling thread.
#pragma once

#include <utility>

#include "rb/Exceptions.h"

template <class Body>
decltype(auto) WithExceptionContext(const char* contextLabel, Body&& body) {
  try {
    return std::forward<Body>(body)();
  } catch (rb::RuntimeException& e) {
    e.Message += "\r";
    e.Message += contextLabel;
    throw;
  }
}
