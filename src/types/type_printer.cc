// Defined types back to the language: the deftype construct, a slot's inline
// qualifiers, and the allowed-value clauses both share.
//
// Every text printed here parses back to an equal type: bounds are written
// with the digits they need, open bounds as "?VARIABLE".

#include <cmath>
#include <string>
#include <vector>

#include "zephro/types/defined_type.h"
#include "zephro/values/messages.h"
#include "zephro/values/printing.h"
#include "zephro/values/value.h"

namespace zephro {
namespace {

// A bound as it reads back as the same number: whole numbers as integers.
std::string NumberText(double x) {
  if (std::trunc(x) == x && std::fabs(x) < 1e15) {
    return std::to_string(static_cast<long long>(x));
  }
  return ExactFloatText(x);
}

std::string RangeBound(double x, double open) {
  return x == open ? std::string(STypeVariableKeyword) : NumberText(x);
}

std::string CardinalityBound(std::int32_t n, std::int32_t open) {
  return n == open ? std::string(STypeVariableKeyword) : std::to_string(n);
}

// A unit is one token: a plain word as it is, anything else as a string.
std::string UnitsText(const std::string& units) {
  const bool plain = !units.empty() && WordText(units) == units &&
                     std::string_view("?$").find(units.front()) == std::string_view::npos;
  return plain ? units : TIEValue::String(units)->ToString();
}

// The type words of `kinds`: "?VARIABLE" for every single-field kind.
std::string TypeWords(TIETypes kinds) {
  kinds = kinds - IEMultiSlotTypes;
  return kinds.Includes(IESlotTypes) ? std::string(STypeVariableKeyword) : TypesToString(kinds);
}

// The words after "(type ": the ancestor's name, then the kinds the type adds
// to the ancestor's.
std::string KindWords(const TIEDefinedType& type) {
  std::string words;
  TIETypes own = type.BaseTypes();
  if (const IIEDefinedType* ancestor = type.Ancestor()) {
    words = WordText(ancestor->TypeName());
    own = own - ancestor->PrimitiveTypes();
  }
  const std::string kinds = TypeWords(own);
  if (!kinds.empty()) {
    words += (words.empty() ? "" : " ") + kinds;
  }
  return words;
}

// The allowed-value clauses, each as GetAllowedString gives it but without
// indent or line break.
std::vector<std::string> AllowedClauses(const TIEDefinedType& type) {
  using enum TValueConstraint;
  std::vector<std::string> clauses;
  const TValueConstraints c = type.Constraints();
  auto items = [&](TValueConstraint kind) { return ConstraintToString(type, kind); };
  if (c.Includes({vcAtom, vcString, vcInteger, vcFloat})) {
    clauses.push_back("(allowed-values " + items(vcAtom) + items(vcString) + items(vcInteger) +
                      items(vcFloat) + ")");
    return clauses;
  }
  if (c.Contains(vcInteger) && c.Contains(vcFloat)) {
    clauses.push_back("(allowed-numbers " + items(vcInteger) + items(vcFloat) + ") ");
  } else if (c.Contains(vcInteger)) {
    clauses.push_back("(allowed-integers " + items(vcInteger) + ") ");
  } else if (c.Contains(vcFloat)) {
    clauses.push_back("(allowed-floats " + items(vcFloat) + ") ");
  }
  if (c.Contains(vcAtom) && c.Contains(vcString)) {
    clauses.push_back("(allowed-lexemes " + items(vcAtom) + items(vcString) + ")");
  } else if (c.Contains(vcAtom)) {
    clauses.push_back("(allowed-symbols " + items(vcAtom) + ")");
  } else if (c.Contains(vcString)) {
    clauses.push_back("(allowed-strings " + items(vcString) + ")");
  }
  return clauses;
}

// Every clause of the type's body, without trailing blanks.
std::vector<std::string> Clauses(const TIEDefinedType& type) {
  std::vector<std::string> clauses;
  if (type.IsFuzzy()) {
    const TIEFuzzyVariable* variable = type.OwnFuzzyVariable();
    if (variable != nullptr && variable->RangeDeclared()) {
      clauses.push_back("(range " + FuzzyNumberText(variable->From()) + " " +
                        FuzzyNumberText(variable->To()) + ")");
    }
    if (!type.Units().empty()) {
      clauses.push_back("(units " + UnitsText(type.Units()) + ")");
    }
    if (variable != nullptr && variable->TermCount() > 0) {
      std::string values = "(values";
      for (const TLinguisticVariable::TTerm& term : variable->Terms()) {
        values += " (term " + WordText(term.name) + " " +
                  (term.text.empty() ? term.set.ToString() : term.text) + ")";
      }
      clauses.push_back(values + ")");
    }
    return clauses;
  }
  if (type.RangeLimited()) {
    clauses.push_back("(range " + RangeBound(type.MinRange(), TIEDefinedType::kInitialMinRange) +
                      " " + RangeBound(type.MaxRange(), TIEDefinedType::kInitialMaxRange) + ")");
  }
  if (type.CardinalityLimited()) {
    clauses.push_back(
        "(cardinality " +
        CardinalityBound(type.MinCardinality(), TIEDefinedType::kInitialMinCardinality) + " " +
        CardinalityBound(type.MaxCardinality(), TIEDefinedType::kInitialMaxCardinality) + ")");
  }
  if (!type.Units().empty()) {
    clauses.push_back("(units " + UnitsText(type.Units()) + ")");
  }
  for (std::string& clause : AllowedClauses(type)) {
    clause.erase(clause.find_last_not_of(' ') + 1);
    clauses.push_back(std::move(clause));
  }
  return clauses;
}

}  // namespace

std::string ConstraintToString(const TIEDefinedType& type, TValueConstraint kind) {
  std::string out;
  switch (kind) {
    case TValueConstraint::vcAtom:
      for (int i = 0; i < type.GetConstraintAtomsCount(); ++i) {
        const std::string& atom = type.GetConstraintAtom(i);
        out += (atom.empty() ? std::string("nil") : WordText(atom)) + " ";
      }
      break;
    case TValueConstraint::vcString:
      for (int i = 0; i < type.GetConstraintStringsCount(); ++i) {
        out += TIEValue::String(type.GetConstraintString(i))->ToString() + " ";
      }
      break;
    case TValueConstraint::vcInteger:
      for (int i = 0; i < type.GetConstraintIntegersCount(); ++i) {
        out += std::to_string(type.GetConstraintInteger(i)) + " ";
      }
      break;
    case TValueConstraint::vcFloat:
      for (int i = 0; i < type.GetConstraintFloatsCount(); ++i) {
        out += FormatFloat(type.GetConstraintFloat(i)) + " ";
      }
      break;
  }
  return out;
}

std::string GetAllowedString(const TIEDefinedType& type, std::string text, std::string_view indent,
                             std::string_view line_break) {
  for (const std::string& clause : AllowedClauses(type)) {
    text += std::string(indent) + clause + std::string(line_break);
  }
  return text;
}

// deftype := "(deftype " name " " [comment " "] "extends (type " [ancestor " "] kinds ")"
//            ( line-break indent clause )* ")"
std::string TIEDefinedType::ToString() const {
  std::string out = "(deftype " + WordText(name_) + " ";
  if (!comment_.empty()) {
    out += TIEValue::String(comment_)->ToString() + " ";
  }
  out += "extends (type " + KindWords(*this) + ")";
  for (const std::string& clause : Clauses(*this)) {
    out += std::string(kPrintLineBreak) + std::string(kPrintIndent) + clause;
  }
  return out + ")";
}

// own := [ "(type " words ") " ] ( clause " " )*
std::string TIEDefinedType::OwnTypeText() const {
  if (name_ != SImplicitDefinedType) {
    return std::string();
  }
  // A slot that admits every kind says nothing about kinds.
  const bool any_kind = ancestor_ == nullptr && base_types_.Includes(IESlotTypes);
  const std::string words = any_kind ? std::string() : KindWords(*this);
  std::string out = words.empty() ? std::string() : "(type " + words + ") ";
  for (const std::string& clause : Clauses(*this)) {
    out += clause + " ";
  }
  return out;
}

}  // namespace zephro
