// Rules: the header, the declare clause, the conditional elements of the
// left-hand side and the actions.
//
// Slot constraints become pattern tests. Each field of a slot is one chain of
// terms joined by "&" (every term must hold) or "|" (an alternative); each term
// is one test on that field, with Conjunction false after "|". The rule
// rewrites the alternatives into predicate calls when the pattern is added
// (TIEPattern::FixTests), records the variables it binds, and inserts the
// initial-fact pattern where a rule must start with a positive one; the parser
// only writes down what the text says.

#include "zephro/engine/inference_engine.h"
#include "zephro/functions/function_call.h"
#include "zephro/language/clips_parser.h"
#include "zephro/rules/pattern.h"
#include "zephro/rules/rule.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/value.h"

namespace zephro {
namespace {

// The function `=` constraints compare with: equality by value.
constexpr char kEqStarFunction[] = "eq*";

bool IsConstantToken(const IStreamToken& token) {
  return token.IsKind(TIEType::dtAtom) || token.IsKind(TIEType::dtString) ||
         token.IsKind(TIEType::dtInteger) || token.IsKind(TIEType::dtFloat);
}

}  // namespace

// rule := "(" "defrule" name [comment] [declare] pattern* "=" ">" action* ")"
std::unique_ptr<TRule> TIEClipsParser::ParseRule() {
  constexpr std::string_view kWhere = "ParseRule";
  std::string comment;
  const std::string name = ParseHeader("defrule", SExpectedDefRule, kWhere, &comment);
  auto rule = std::make_unique<TRule>(nullptr);
  rule->SetEngine(&Engine());
  rule->BeginUpdate();
  rule->SetRuleName(name);
  rule->SetComment(comment);
  ParseDeclare(*rule);
  ParseRulePatterns(*rule);
  Ref<IStreamToken> token = Next();
  if (!token->IsChar('=') || !Next()->IsKind(TIEType::dtAtom) ||
      In().GetCurrentToken()->Text() != ">") {
    ParseError(kWhere, SExpectedEqGT);
  }
  ParseRuleActions(*rule);
  Expect(')', kWhere, SMissingCloseParens);
  if (OnParseRule) {
    OnParseRule(*this, *rule);
  }
  rule->EndUpdate();
  return rule;
}

// declare  := "(" "declare" property* ")"
// property := "(" ("salience" (integer | variable | call) | ("oneshot" | "enabled") value) ")"
void TIEClipsParser::ParseDeclare(TRule& rule) {
  constexpr std::string_view kWhere = "ParseRule";
  Ref<IStreamToken> open = Next();
  if (!open->IsChar('(')) {
    PutBack(std::move(open));
    return;
  }
  Ref<IStreamToken> keyword = Next();
  if (!keyword->IsKind(TIEType::dtAtom) || keyword->Text() != "declare") {
    PutBack(std::move(keyword));
    PutBack(std::move(open));
    return;
  }
  for (Ref<IStreamToken> token = Next(); !token->IsChar(')'); token = Next()) {
    if (!token->IsChar('(')) {
      ParseError(kWhere, SExpectedRuleProperty);
    }
    const Ref<IStreamToken> property = Next();
    const std::string& word = property->Text();
    if (!property->IsKind(TIEType::dtAtom) ||
        (word != "salience" && word != "oneshot" && word != "enabled")) {
      ParseError(kWhere, SExpectedRuleProperty);
    }
    Ref<IStreamToken> value = Next();
    if (word == "salience") {
      if (value->IsChar('(')) {
        PutBack(std::move(value));
        rule.SetSalience(MakeRef<TIEValue>(ParseFunCall()));
      } else if (value->IsKind(TIEType::dtInteger) || value->IsKind(TIEType::dtVariable)) {
        rule.SetSalience(value->Value());
      } else {
        ParseErrorF(kWhere, SExpectedIntVarFun, "salience");
      }
    } else {
      Ref<IIEValue> flag;
      if (value->IsChar('(')) {
        PutBack(std::move(value));
        flag = ParseNExecuteFunCall();
      } else {
        flag = value->Value();
      }
      const bool on = flag->Equals(&FCTrue());
      if (word == "oneshot") {
        rule.SetOneShot(on);
      } else {
        rule.SetEnabled(on);
      }
    }
    Expect(')', kWhere, SMissingCloseParens);
  }
}

// patterns := ( [variable "<-"] pattern )*
void TIEClipsParser::ParseRulePatterns(TRule& rule) {
  constexpr std::string_view kWhere = "ParseRulePatterns";
  for (Ref<IStreamToken> token = Next();; token = Next()) {
    std::string bound;
    if (token->IsKind(TIEType::dtVariable)) {
      bound = token->Text();
      token = Next();
      if (!token->IsKind(TIEType::dtAtom) || token->Text() != "<-") {
        ParseError(kWhere, SExpectedAssignment);
      }
    } else if (token->IsChar('(')) {
      PutBack(std::move(token));
    } else {
      PutBack(std::move(token));
      return;
    }
    std::unique_ptr<TIEPattern> pattern = ParsePattern();
    if (!bound.empty()) {
      if (pattern->NegatedCount() > 0 || pattern->IsTest()) {
        ParseError(kWhere, SInvalidTestBinding);
      }
      pattern->SetBoundName(bound);
    }
    if (OnParsePattern) {
      OnParsePattern(*this, *pattern);
    }
    rule.AddPattern(std::move(pattern));
  }
}

// pattern := "(" ( ("not" | "exists" | "unique" | "explicit") pattern | "test" call
//                | name field*                         implied template
//                | name ("(" slot field* ")")* ) ")"   declared template
std::unique_ptr<TIEPattern> TIEClipsParser::ParsePattern() {
  constexpr std::string_view kWhere = "ParsePattern";
  DepthGuard guard(*this, kWhere);
  const std::string word = ParseOpenAtom(kWhere);
  std::unique_ptr<TIEPattern> pattern;
  if (word == "not" || word == "exists" || word == "unique" || word == "explicit") {
    pattern = ParsePattern();
    if (word == "not") {
      pattern->SetNegatedCount(pattern->NegatedCount() + 1);
    } else if (word == "exists") {
      pattern->SetNegatedCount(pattern->NegatedCount() + 2);
    } else if (word == "unique") {
      pattern->SetUnique(true);
    } else {
      pattern->SetExplicit(true);
    }
  } else if (word == STestCE) {
    pattern = std::make_unique<TIEPattern>(nullptr, STestCE, nullptr);
    pattern->AddTest("", TSlotTestType::sttEquals, NoSubIndex, MakeRef<TIEValue>(ParseFunCall()));
  } else {
    IFactTemplate* fact_template = Engine().FindFactTemplate(word);
    if (fact_template == nullptr) {
      fact_template = &Engine().CreateFactTemplate(word);
    }
    pattern = std::make_unique<TIEPattern>(nullptr, word, Ref<IFactTemplate>(fact_template));
    if (fact_template->IsOrdered()) {
      ParsePatternFields(*pattern, *fact_template->SlotAt(0));
    } else {
      for (Ref<IStreamToken> token = Next(); !token->IsChar(')'); token = Next()) {
        if (!token->IsChar('(')) {
          ParseError(kWhere, SMissingOpenParens);
        }
        token = Next();
        const IFactSlot* slot =
            token->IsKind(TIEType::dtAtom) ? fact_template->FindSlot(token->Text()) : nullptr;
        if (slot == nullptr) {
          ParseErrorF(kWhere, SBadSlotName, token->Text().c_str());
        }
        ParsePatternFields(*pattern, *slot);
        Expect(')', kWhere, SMissingCloseParens);
      }
      PutBack(In().GetCurrentToken());
    }
  }
  Expect(')', kWhere, SMissingCloseParens);
  return pattern;
}

// fields := field*                 a multislot: one field per position
//         | field                  a single slot
// field  := term (("&" | "|") term)*
void TIEClipsParser::ParsePatternFields(TIEPattern& pattern, const IFactSlot& slot) {
  constexpr std::string_view kWhere = "ParsePattern";
  const bool multi = slot.IsMultiSlot();
  std::int32_t fields = 0;
  while (!PeekChar(')')) {
    const std::int32_t sub_index = multi ? fields : NoSubIndex;
    bool conjunction = true;
    for (;;) {
      ParsePatternTerm(pattern, slot, sub_index, conjunction);
      Ref<IStreamToken> connective = Next();
      if (connective->IsChar('&') || connective->IsChar('|')) {
        conjunction = connective->IsChar('&');
        continue;
      }
      PutBack(std::move(connective));
      break;
    }
    ++fields;
    if (!multi) {
      if (!PeekChar(')')) {
        Next();
        ParseErrorF(kWhere, SNotMultiSlot, slot.Name().c_str());
      }
      break;
    }
  }
  if (multi) {
    pattern.SetSlotLength(pattern.IndexOfSlotName(slot.Name()), fields);
  }
}

// term := ["~"] (constant | variable | ":" call | "=" call)
void TIEClipsParser::ParsePatternTerm(TIEPattern& pattern, const IFactSlot& slot,
                                      std::int32_t sub_index, bool conjunction) {
  constexpr std::string_view kWhere = "ParsePattern";
  Ref<IStreamToken> token = Next();
  TSlotTestType sense = TSlotTestType::sttEquals;
  if (token->IsChar('~')) {
    sense = TSlotTestType::sttNotEquals;
    token = Next();
  }
  const std::string& name = slot.Name();
  if (token->IsKind(TIEType::dtVariable) || token->IsKind(TIEType::dtMultiVariable)) {
    pattern.AddTest(name, sense, sub_index, SharedValue(*token), conjunction);
  } else if (token->IsKind(TIEType::dtAtom) && token->Text() == ":") {
    if (!PeekChar('(')) {
      Next();
      ParseError(kWhere, SMissingOpenParens);
    }
    pattern.AddTest(name, sense, sub_index, SharedCallValue(ParseFunCall()), conjunction);
  } else if (token->IsChar('=')) {
    if (!PeekChar('(')) {
      Next();
      ParseError(kWhere, SMissingOpenParens);
    }
    // The field is bound to a fresh variable that eq* compares with the call's
    // value. A field is one value, so the variable is single-field even in a
    // multislot.
    Ref<IIEValue> variable = MakeRef<TIEValue>(GenerateSymbol(SEqStarPrefix), TIEType::dtVariable);
    Ref<TFunctionCall> eq = MakeRef<TFunctionCall>(&Engine(), kEqStarFunction);
    eq->AddArgument(variable);
    eq->AddArgument(ParseFunCall());
    pattern.AddTest(name, TSlotTestType::sttEquals, sub_index, variable, conjunction);
    pattern.AddTest(name, sense, sub_index, MakeRef<TIEValue>(Ref<IFunCall>(eq)), true);
  } else if (slot.IsFuzzy() && (IsConstantToken(*token) || token->IsChar('('))) {
    // A fuzzy expression: the rest of a slot ("very cold or hot"), one item
    // of a multislot ("(very cold)").
    Ref<IIEValue> expression;
    if (slot.IsMultiSlot()) {
      expression = ParseItem(token);
    } else {
      PutBack(std::move(token));
      expression = ParseValue();
    }
    pattern.AddTest(name, sense, sub_index, FuzzySlotValue(slot, std::move(expression), kWhere),
                    conjunction);
  } else if (IsConstantToken(*token)) {
    Ref<IIEValue> value = SharedValue(*token);
    if (StaticTypeChecks()) {
      // A constant the slot can never hold is a mistake, whichever the test.
      CheckKinds(value, slot.SlotType(), slot.ExtendedTypeInfo(), name, kWhere);
    }
    pattern.AddTest(name, sense, sub_index, std::move(value), conjunction);
  } else {
    ParseErrorF(kWhere, SBadSlotValue, token->Text().c_str());
  }
}

// actions := call*
void TIEClipsParser::ParseRuleActions(TRule& rule) {
  for (Ref<IStreamToken> token = Next(); token->IsChar('('); token = Next()) {
    PutBack(std::move(token));
    rule.AddAction(SharedCall(ParseFunCall()));
  }
  PutBack(In().GetCurrentToken());
}

}  // namespace zephro
