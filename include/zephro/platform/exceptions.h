#pragma once

// The root of every exception the engine raises, and the silent stop.
//
// An exception carries one finished text; nothing is formatted later. The engine
// throws by value and catches by const reference:
//
//   try { ... } catch (const EBaseException& e) { Report(e.Message()); }
//
// EAbort asks the code above to stop what it is doing without reporting anything:
// boundaries that collect or print errors let it pass through untouched.
//
// Thread safety: an exception object is not shared; copies are independent.

#include <exception>
#include <string>
#include <utility>

namespace zephro {

class EBaseException : public std::exception {
 public:
  explicit EBaseException(std::string message) : message_(std::move(message)) {}

  const std::string& Message() const noexcept { return message_; }
  // The same text as Message(); valid as long as the exception lives.
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// A request to stop quietly (the user cancelled, a host handler gave up). Its
// message is empty unless the raiser supplies one.
class EAbort : public EBaseException {
 public:
  EAbort() : EBaseException(std::string()) {}
  using EBaseException::EBaseException;
};

}  // namespace zephro
