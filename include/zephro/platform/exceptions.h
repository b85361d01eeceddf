#pragma once

// EBaseException: the root of every exception the engine raises. Thrown by value,
// caught by const reference; the message is owned by the exception.

#include <exception>
#include <string>
#include <utility>

namespace zephro {

class EBaseException : public std::exception {
 public:
  explicit EBaseException(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }

 private:
  std::string message_;
};

}  // namespace zephro
