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

  // The rule whose actions raised the exception, when it left a rule's firing;
  // empty otherwise. The engine sets it as the exception passes the firing
  // (the innermost rule, when firings nest); it is not part of the message.
  const std::string& RuleName() const noexcept { return rule_name_; }
  void SetRuleName(std::string name) { rule_name_ = std::move(name); }

 private:
  std::string message_;
  std::string rule_name_;
};

// A request to stop quietly (the user cancelled, a host handler gave up). Its
// message is empty unless the raiser supplies one.
class EAbort : public EBaseException {
 public:
  EAbort() : EBaseException(std::string()) {}
  using EBaseException::EBaseException;
};

}  // namespace zephro
