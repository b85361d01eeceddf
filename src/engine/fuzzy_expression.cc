// Fuzzy expressions: the words that describe a fuzzy value of a variable.
//
//   expression := conjunction ( "or" conjunction )*
//   conjunction := modified ( "and" modified )*
//   modified   := hedge modified | operand
//   operand    := term | fuzzy value | singletons | "(" expression ")" | call
//
// "or" is the union and "and" the intersection (pointwise maximum and
// minimum); a hedge modifies what follows it, so "very cold or hot" is
// (very cold) or hot and "not very cold" is not (very cold). A
// parenthesised group reaches the evaluator as a list, or as a call named
// after a term or hedge (the language reads "(very cold)" as a call of
// "very"); any other call is evaluated and must yield a fuzzy value or a
// term name. Variables are looked up in the context.
//
// The result prints as the expression it was read from, normalised: items
// separated by one blank, groups in parentheses.

#include <string>
#include <utility>
#include <vector>

#include "zephro/engine/inference_engine.h"
#include "zephro/functions/context.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/nesting.h"
#include "zephro/values/value.h"
#include "zephro/values/value_vector.h"

namespace zephro {
namespace {

// Raises SDifferentFuzzyVariables when `set` belongs to another variable.
void CheckVariable(const TIEFuzzySet& set, const TIEFuzzyVariable& variable) {
  if (set.Variable() != nullptr && set.Variable() != &variable) {
    RaiseIE(SDifferentFuzzyVariables, set.ToString().c_str(), set.Variable()->Name().c_str(),
            "the expression", variable.Name().c_str());
  }
}

struct TPart {
  TMembershipSet set;
  std::string text;
  bool points = false;  // written as singletons: nothing to print but the points
};

class TFuzzyExpressionReader {
 public:
  TFuzzyExpressionReader(TIEFuzzyVariable& variable, TIEContext& context)
      : variable_(variable), context_(context) {}

  // The whole of `items` as one expression.
  TPart Read(const std::vector<Ref<IIEValue>>& items) {
    const TNestingGuard nesting(TNesting::nValue);
    nesting.Check();
    std::size_t at = 0;
    TPart part = Disjunction(items, at);
    if (at < items.size()) {
      RaiseIE(SInvalidFuzzyToken, items[at]->ToString().c_str());
    }
    return part;
  }

  // The items a value stands for: a list's items, a group's words, or itself.
  std::vector<Ref<IIEValue>> Items(const Ref<IIEValue>& value) const {
    if (value->DType() == TIEType::dtList) {
      const std::span<const Ref<IIEValue>> items = value->AsList()->Values();
      return {items.begin(), items.end()};
    }
    if (IsGroup(*value)) {
      const IFunCall& call = *value->AsFunCall();
      std::vector<Ref<IIEValue>> items{TIEValue::Atom(call.Name())};
      for (const Ref<IIEValue>& argument : call.Arguments()) {
        items.push_back(argument);
      }
      return items;
    }
    return {value};
  }

 private:
  bool IsWord(const IIEValue& value, std::string_view word) const {
    return value.DType() == TIEType::dtAtom && value.Text() == word;
  }
  bool IsHedgeWord(const IIEValue& value, THedgeKind& hedge) const {
    return value.DType() == TIEType::dtAtom && variable_.FindTerm(value.Text()) == nullptr &&
           ParseHedgeKind(value.Text(), hedge);
  }
  // A call that is a parenthesised part of the expression, not a function.
  bool IsGroup(const IIEValue& value) const {
    return value.DType() == TIEType::dtFunCall &&
           variable_.IsExpressionWord(value.AsFunCall()->Name());
  }

  TPart Disjunction(const std::vector<Ref<IIEValue>>& items, std::size_t& at) {
    TPart left = Conjunction(items, at);
    while (at < items.size() && IsWord(*items[at], "or")) {
      ++at;
      TPart right = Conjunction(items, at);
      left.set = left.set.Union(right.set);
      left.text += " or " + right.text;
    }
    return left;
  }

  TPart Conjunction(const std::vector<Ref<IIEValue>>& items, std::size_t& at) {
    TPart left = Modified(items, at);
    while (at < items.size() && IsWord(*items[at], "and")) {
      ++at;
      TPart right = Modified(items, at);
      left.set = left.set.Intersection(right.set);
      left.text += " and " + right.text;
    }
    return left;
  }

  TPart Modified(const std::vector<Ref<IIEValue>>& items, std::size_t& at) {
    if (at >= items.size()) {
      // An operator with nothing after it.
      RaiseIE(SInvalidFuzzyToken, at > 0 ? items[at - 1]->ToString().c_str() : "");
    }
    // The hedges in front, applied innermost (last written) first.
    std::vector<std::pair<THedgeKind, std::size_t>> hedges;
    THedgeKind hedge{};
    while (at < items.size() && IsHedgeWord(*items[at], hedge)) {
      hedges.emplace_back(hedge, at++);
    }
    if (at >= items.size()) {
      RaiseIE(SMissingFuzzyOperand, std::string(items[hedges.back().second]->Text()).c_str());
    }
    TPart part = Operand(items[at++]);
    for (auto it = hedges.rbegin(); it != hedges.rend(); ++it) {
      part.set = part.set.Hedge(it->first);
      part.text = std::string(items[it->second]->Text()) + " " + part.text;
    }
    return part;
  }

  TPart Operand(const Ref<IIEValue>& item) {
    switch (item->DType()) {
      case TIEType::dtAtom:
      case TIEType::dtString:
        if (const TMembershipSet* term = variable_.FindTerm(item->Text())) {
          return {*term, std::string(item->Text())};
        }
        break;
      case TIEType::dtFuzzy:
        return FuzzyOperand(*item);
      case TIEType::dtSingletons: {
        TPart part = FuzzyOperand(*item->Resolve(&context_));
        part.points = true;
        return part;
      }
      case TIEType::dtList:
        return Group(item);
      case TIEType::dtFunCall:
        if (IsGroup(*item)) {
          return Group(item);
        }
        return Operand(Evaluated(item));
      case TIEType::dtVariable:
      case TIEType::dtMultiVariable:
        return Operand(Evaluated(item));
      default:
        break;
    }
    RaiseIE(SInvalidFuzzyToken, item->ToString().c_str());
  }

  Ref<IIEValue> Evaluated(const Ref<IIEValue>& item) {
    Ref<IIEValue> value = item->Resolve(&context_);
    const TIEType kind = value->DType();
    if (kind == TIEType::dtFunCall || kind == TIEType::dtVariable ||
        kind == TIEType::dtMultiVariable) {
      RaiseIE(SInvalidFuzzyToken, item->ToString().c_str());  // nothing came of it
    }
    return value;
  }

  TPart Group(const Ref<IIEValue>& item) {
    TPart inner = Read(Items(item));
    inner.text = "(" + inner.text + ")";
    return inner;
  }

  TPart FuzzyOperand(const IIEValue& value) {
    const TIEFuzzySet* set = FuzzySetOf(value);
    if (set == nullptr) {
      RaiseIE(SInvalidFuzzyToken, value.ToString().c_str());
    }
    CheckVariable(*set, variable_);
    return {*set, set->ToString()};
  }

  TIEFuzzyVariable& variable_;
  TIEContext& context_;
};

}  // namespace

Ref<TIEFuzzySet> TInferenceEngine::EvalFuzzyExpression(TIEFuzzyVariable* variable,
                                                       const IIEValue& expression,
                                                       TIEContext* context) {
  return EvalFuzzyValue(variable, expression, context, false);
}

Ref<TIEFuzzySet> TInferenceEngine::EvalFuzzyExpression(TIEFuzzyVariable* variable,
                                                       const IValueVector& items,
                                                       TIEContext* context) {
  const std::span<const Ref<IIEValue>> values = items.Values();
  const Ref<IIEValue> list = MakeRef<TIEValue>(Ref<IValueVector>(
      MakeRef<TValueVector>(std::vector<Ref<IIEValue>>(values.begin(), values.end()))));
  return EvalFuzzyValue(variable, *list, context, false);
}

Ref<TIEFuzzySet> TInferenceEngine::EvalFuzzyValue(TIEFuzzyVariable* variable,
                                                  const IIEValue& expression, TIEContext* context,
                                                  bool field) {
  if (variable == nullptr) {
    RaiseIEPlain(SUndefinedFuzzyVariable);
  }
  if (const TIEFuzzySet* set = FuzzySetOf(expression)) {
    // A fuzzy value stands for itself, keeping the way it was written.
    CheckVariable(*set, *variable);
    Ref<TIEFuzzySet> copy = set->Copy();
    copy->SetVariable(Ref<TIEFuzzyVariable>(variable));
    return copy;
  }
  TFuzzyExpressionReader reader(*variable, context != nullptr ? *context : RootContext());
  const std::vector<Ref<IIEValue>> items =
      reader.Items(Ref<IIEValue>(const_cast<IIEValue*>(&expression)));
  TPart part = reader.Read(items);
  if (field && items.size() > 1) {
    // One field of a multifield: the words of a compound stay together.
    part.text = "(" + part.text + ")";
  }
  Ref<TIEFuzzySet> result = variable->NewSet(std::move(part.set));
  if (!(part.points && items.size() == 1)) {
    result->SetExpression(std::move(part.text));
  }
  return result;
}

Ref<TIEFuzzySet> TInferenceEngine::EvalFuzzyExpression(TIEFuzzyVariable* variable,
                                                       std::string_view text, TIEContext* context) {
  if (variable == nullptr) {
    RaiseIEPlain(SUndefinedFuzzyVariable);
  }
  Ref<IIEValue> value = ParseValue(text);
  if (!value) {
    RaiseIE(SInvalidFuzzyExpression, std::string(text).c_str());
  }
  return EvalFuzzyExpression(variable, *value, context);
}

}  // namespace zephro
