#pragma once

// The engine's exceptions and the one way of building their texts.
//
// Every failure raises EIEException with a formatted template of the catalogue
// (values/messages.h); syntax errors raise EIEParseException, which also carries
// the line the parser stopped at. Both derive from EBaseException, so a host that
// only cares about the text catches that:
//
//   RaiseIE(SNoSuchSlot, name.c_str());          // "No such slot in fact template: x"
//   throw MakeParseError(SExpectedEqGT, "ParseRule", line, context);
//
// FormatMessage and RaiseIE are printf-checked: the compiler verifies each
// template's %s %d %.4f %c against the arguments given.
//
// Thread safety: the functions keep no state of their own and may be called from
// any thread.

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zephro/platform/exceptions.h"

namespace zephro {

class EIEException : public EBaseException {
 public:
  using EBaseException::EBaseException;
};

class EIEParseException : public EIEException {
 public:
  explicit EIEParseException(std::string message, std::int32_t line_number = 0)
      : EIEException(std::move(message)), line_number_(line_number) {}

  // The line of the token at which the parser stopped; 0 when nobody set it.
  std::int32_t LineNumber() const noexcept { return line_number_; }
  void SetLineNumber(std::int32_t line_number) noexcept { line_number_ = line_number; }

  // What the parser expected at that point, if it said; empty otherwise. The list
  // belongs to the exception and may be filled in place.
  std::vector<std::string>& Expected() noexcept { return expected_; }
  const std::vector<std::string>& Expected() const noexcept { return expected_; }
  void SetExpected(std::vector<std::string> expected) { expected_ = std::move(expected); }

  // Whether the message already names the file and line where the error is
  // (LocatedError): a load that meets it on its way out adds no place of its own.
  bool LocatedInFile() const noexcept { return located_in_file_; }
  void SetLocatedInFile(bool located) noexcept { located_in_file_ = located; }

 private:
  bool located_in_file_ = false;
  std::int32_t line_number_;
  std::vector<std::string> expected_;
};

// Returns `tmpl` formatted with the arguments, as snprintf would in the "C"
// locale: "%.4f" always writes a full stop as decimal point, whatever locale the
// host has set.
[[gnu::format(printf, 1, 2)]] std::string FormatMessage(const char* tmpl, ...);

// Raises EIEException with `tmpl` formatted as FormatMessage does.
[[noreturn, gnu::format(printf, 1, 2)]] void RaiseIE(const char* tmpl, ...);

// Raises EIEException with `message` as it stands: a template that takes no
// arguments, or a text built elsewhere. No % sequence in it is interpreted.
[[noreturn]] void RaiseIEPlain(std::string message);

// Returns the parse error "Parsing Error, <detail> in <place> at line <line>:
// <context>" (SParseError) with LineNumber() set to `line_number`. `place` names
// the construct or routine being parsed; `context` is the input around the
// position. A context longer than 255 characters is cut to its first and last 128
// characters joined by "... " and a line break.
EIEParseException MakeParseError(std::string_view detail, std::string_view place,
                                 std::int32_t line_number, std::string_view context);

// Raises the exception MakeParseError returns.
[[noreturn]] void RaiseParseError(std::string_view detail, std::string_view place,
                                  std::int32_t line_number, std::string_view context);

// `error` said where it happened: its message preceded by "<file>:<line>: "
// (by "line <line>: " without a file) and, when it left a rule's firing, by
// "rule <name>: ", as an EIEParseException carrying `line`. Exhausted memory
// (std::bad_alloc) says "Out of memory". A message that starts with a place in
// text that is no file's, "line <n>: ", gets this place instead; an error that
// already names a file's place (it came from a file loaded inside this one)
// keeps it and is returned as it is.
EIEParseException LocatedError(std::string_view file, std::int32_t line,
                               const std::exception& error);

// Raises LocatedError(file, line, error).
[[noreturn]] void RethrowAt(std::string_view file, std::int32_t line, const std::exception& error);

// Ends a parse that collected its errors instead of stopping at the first one.
// Raises nothing when `errors` is empty, a copy of the only error when there is
// one, and otherwise one EIEParseException whose message is SMultipleParseError
// around the collected messages, one per line, and whose line number is that of
// the first error.
void RaiseCollectedParseErrors(const std::vector<EIEParseException>& errors);

}  // namespace zephro
