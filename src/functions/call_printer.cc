// Function calls and deffunctions back to the text of the language.

#include "zephro/functions/call_printer.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "zephro/values/interfaces.h"
#include "zephro/values/printing.h"
#include "zephro/values/value.h"

namespace zephro {
namespace {

// An argument's printed form. The word nil reads as the shared constant, an
// atom with empty text, whose text form is empty: written as nil, it reads
// back instead of vanishing from the call.
std::string ArgumentText(const IIEValue& value) {
  if (value.DType() != TIEType::dtAtom) {
    return value.ToString();
  }
  const std::string_view text = value.Text();
  return text.empty() ? std::string("nil") : WordText(text);
}

// A multifield argument is a slot and its value, as modify and duplicate take
// them: "(name value...)".
void AppendSlotPair(std::string& out, const IValueVector& pair) {
  out += '(';
  bool first = true;
  for (const Ref<IIEValue>& element : pair.Values()) {
    if (!first) {
      out += ' ';
    }
    first = false;
    std::string text = element ? ArgumentText(*element) : std::string();
    if (element && element->DType() == TIEType::dtList && !text.empty() && text.back() == ' ') {
      text.pop_back();  // a multifield prints a blank after each element
    }
    out += text;
  }
  out += ')';
}

}  // namespace

// Nested calls are written depth first with an explicit stack of open calls, each
// with the position of its next argument, so a deeply nested call built by a host
// cannot exhaust the native stack.
std::string PrettyPrintFunCall(const IFunCall& call) {
  struct OpenCall {
    const IFunCall* call;
    std::size_t next;
  };
  std::string out;
  out += CommentLines(call.Comment());
  std::vector<OpenCall> open;
  auto begin = [&](const IFunCall& c) {
    out += '(';
    out += WordText(c.Name());
    open.push_back({&c, 0});
  };
  begin(call);
  while (!open.empty()) {
    OpenCall& top = open.back();
    const std::span<const Ref<IIEValue>> arguments = top.call->Arguments();
    if (top.next == arguments.size()) {
      out += ')';
      open.pop_back();
      continue;
    }
    const IIEValue& argument = *arguments[top.next++];
    out += ' ';
    if (argument.DType() == TIEType::dtFunCall && argument.AsFunCall() != nullptr) {
      begin(*argument.AsFunCall());  // `top` is not used after this
    } else if (argument.DType() == TIEType::dtList && argument.AsList() != nullptr) {
      AppendSlotPair(out, *argument.AsList());
    } else {
      out += ArgumentText(argument);
    }
  }
  return out;
}

std::string PrettyPrintDeffunction(std::string_view name, std::span<const Ref<IIEValue>> parameters,
                                   std::string_view comment,
                                   std::span<const Ref<IIEValue>> actions) {
  std::string out = "(deffunction " + WordText(name) + " (";
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    out += (i > 0 ? " " : "") + parameters[i]->ToString();
  }
  out += ")";
  out += kPrintLineBreak;
  if (!comment.empty()) {
    out += std::string(kPrintIndent) + TIEValue::String(comment)->ToString();
    out += kPrintLineBreak;
  }
  for (const Ref<IIEValue>& action : actions) {
    // An action is a call or a constant; a constant word is written as a
    // call's arguments are, to read back whole.
    out += std::string(kPrintIndent) + IndentLines(ArgumentText(*action));
    out += kPrintLineBreak;
  }
  return out + ")";
}

}  // namespace zephro
