// Rules and patterns back to the text of the language.

#include "zephro/rules/rule_printer.h"

#include "zephro/rules/pattern.h"
#include "zephro/rules/rule.h"
#include "zephro/values/messages.h"
#include "zephro/values/printing.h"
#include "zephro/values/value.h"

namespace zephro {

namespace {

std::string TestText(const TIEPatternMatchTest& t) {
  std::string text = t.IsNegated() ? "~" : "";
  const IIEValue* v = t.SlotValue();
  if (v == nullptr) {
    return text;
  }
  if (v->DType() == TIEType::dtFunCall) {
    return text + ":" + v->ToString();
  }
  if (v->DType() == TIEType::dtAtom) {
    // A constant word, written so that it reads back whole.
    return text + (v->Text().empty() ? std::string("nil") : WordText(v->Text()));
  }
  return text + v->ToString();
}

// The tests of one slot: tests on one field joined with "&" (or "|" for an
// alternative), fields separated by blanks.
std::string SlotTestsText(const TPatternSlot& slot) {
  std::string text;
  std::int32_t field = NoSubIndex - 1;
  for (std::size_t i = 0; i < slot.tests.size(); ++i) {
    const TIEPatternMatchTest& t = *slot.tests[i];
    if (i > 0) {
      if (t.MultiSlotSubIndex() == field) {
        text += t.Conjunction() ? "&" : "|";
      } else {
        text += " ";
      }
    }
    field = t.MultiSlotSubIndex();
    text += TestText(t);
  }
  return text;
}

}  // namespace

std::string PrettyPrintPattern(const TIEPattern& pattern) {
  std::string body;
  if (pattern.IsTest()) {
    const IFunCall* call = pattern.TestCall();
    body = "(test " + (call != nullptr ? call->ToString() : std::string()) + ")";
  } else {
    body = "(" + std::string(pattern.Name());
    const IFactTemplate* t = pattern.FactTemplate();
    if (t != nullptr && t->IsOrdered()) {
      for (int s = 0; s < pattern.SlotCount(); ++s) {
        std::string tests = SlotTestsText(pattern.Slot(s));
        if (!tests.empty()) {
          body += " " + tests;
        }
      }
    } else {
      for (int s = 0; s < pattern.SlotCount(); ++s) {
        const TPatternSlot& slot = pattern.Slot(s);
        if (!slot.tests.empty()) {
          body += " (" + slot.name.Str() + " " + SlotTestsText(slot) + ")";
        }
      }
    }
    body += ")";
  }
  if (pattern.Unique()) {
    body = "(unique " + body + ")";
  }
  if (pattern.Explicit()) {
    body = "(explicit " + body + ")";
  }
  const std::int32_t n = pattern.NegatedCount();
  if (n == 1) {
    body = "(not " + body + ")";
  } else if (n >= 2) {
    body = "(exists " + body + ")";
    for (std::int32_t i = 2; i < n; ++i) {
      body = "(not " + body + ")";
    }
  }
  if (!pattern.BoundName().empty()) {
    body = "?" + pattern.BoundName() + " <- " + body;
  }
  return (pattern.Comment().empty() ? std::string() : CommentLines(pattern.Comment())) + body;
}

std::string PrettyPrintRule(const TRule& rule) {
  std::string text = "(defrule " + rule.RuleName();
  if (!rule.Comment().empty()) {
    text += "\n" + std::string(kPrintIndent) + TIEValue::String(rule.Comment())->ToString();
  }
  text += "\n";
  const IIEValue& salience = rule.SalienceValue();
  const bool default_salience =
      salience.DType() == TIEType::dtInteger && salience.AsInteger() == 0;
  if (!default_salience || rule.OneShot() || !rule.Enabled()) {
    text += std::string(kPrintIndent) + "(declare";
    if (!default_salience) {
      text += " (salience " + salience.ToString() + ")";
    }
    if (!rule.Enabled()) {
      text += " (enabled FALSE)";
    }
    if (rule.OneShot()) {
      text += " (oneshot TRUE)";
    }
    text += ")\n";
  }
  // The initial-fact pattern the rule added for itself is not printed.
  bool first = true;
  for (int i = 0; i < rule.PatternCount(); ++i) {
    const TIEPattern& p = rule.Pattern(i);
    if (i == 0 && p.Name() == SInitialFactPattern && rule.PatternCount() > 1) {
      const TIEPattern& next = rule.Pattern(1);
      if (next.NegatedCount() > 0 || next.IsTest() ||
          (next.FactTemplate() != nullptr && next.FactTemplate()->IsBackwardChaining())) {
        continue;
      }
    }
    if (!first) {
      text += "\n";
    }
    first = false;
    text += std::string(kPrintIndent) + IndentLines(PrettyPrintPattern(p));
  }
  text += "\n" + std::string(kPrintIndent) + "=>\n";
  for (int i = 0; i < rule.ActionCount(); ++i) {
    if (i > 0) {
      text += "\n";
    }
    text += std::string(kPrintIndent) + IndentLines(rule.Action(i).ToString());
  }
  text += ")";
  return text;
}

}  // namespace zephro
