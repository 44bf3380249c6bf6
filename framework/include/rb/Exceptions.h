// The framework's runtime exceptions. A handler may catch a RuntimeException,
// extend its Message and raise it again (`throw;`).
#pragma once

#include <exception>
#include <string>

namespace rb {

class RuntimeException : public std::exception {
 public:
  explicit RuntimeException(std::string message = {}) : Message(std::move(message)) {}
  const char* what() const noexcept override { return Message.c_str(); }
  virtual std::string ClassName() const { return "RuntimeException"; }

  std::string Message;
};

// Raised when a nil object reference is used.
class NilObjectException : public RuntimeException {
 public:
  NilObjectException() : RuntimeException("Nil object") {}
  std::string ClassName() const override { return "NilObjectException"; }
};

// Raised for an index or offset outside a container or memory block.
class OutOfBoundsException : public RuntimeException {
 public:
  explicit OutOfBoundsException(std::string message = "Out of bounds")
      : RuntimeException(std::move(message)) {}
  std::string ClassName() const override { return "OutOfBoundsException"; }
};

// Raised when a plug-in member is called whose entry point never bound.
class UnboundEntrypointException : public RuntimeException {
 public:
  explicit UnboundEntrypointException(const std::string& entryName)
      : RuntimeException("Plug-in entry point not bound: " + entryName) {}
  std::string ClassName() const override { return "UnboundEntrypointException"; }
};

[[noreturn]] void ThrowNilObject();

}  // namespace rb
