// Defined types as parsed, and the printed forms of deftypes, type clauses and
// deffunctions.

#include "zephro/language/parsed_constructs.h"

#include <cctype>

#include "zephro/functions/call_printer.h"
#include "zephro/values/exceptions.h"
#include "zephro/values/messages.h"
#include "zephro/values/printing.h"
#include "zephro/values/value.h"

namespace zephro {
namespace {

std::size_t ListIndex(TValueConstraint kind) { return static_cast<std::size_t>(kind); }

// The allowed-value list a value of `kind` belongs to, or false.
bool ConstraintOf(TIEType kind, TValueConstraint& constraint) {
  static constexpr std::pair<TIEType, TValueConstraint> kLists[] = {
      {TIEType::dtAtom, TValueConstraint::vcAtom},
      {TIEType::dtString, TValueConstraint::vcString},
      {TIEType::dtInteger, TValueConstraint::vcInteger},
      {TIEType::dtFloat, TValueConstraint::vcFloat},
  };
  for (const auto& [k, c] : kLists) {
    if (k == kind) {
      constraint = c;
      return true;
    }
  }
  return false;
}

std::string BoundText(const Ref<IIEValue>& bound) {
  return bound ? bound->ToString() : std::string(STypeVariableKeyword);
}

// A unit is one token: a plain word as it is, anything else as a string.
std::string UnitsText(const std::string& units) {
  for (char c : units) {
    if (std::isspace(static_cast<unsigned char>(c)) || std::string_view("()\"&|~;<[]").find(c) !=
                                                            std::string_view::npos) {
      return TIEValue::String(units)->ToString();
    }
  }
  return units.empty() ? TIEValue::String(units)->ToString() : units;
}

// The clauses of `type`, each without a trailing blank.
std::vector<std::string> Clauses(const TParsedDefinedType& type) {
  using enum TValueConstraint;
  std::vector<std::string> clauses;
  auto bounds = [&](std::string_view word, const TParsedDefinedType::TBounds& b) {
    if (b.limited) {
      clauses.push_back("(" + std::string(word) + " " + BoundText(b.low) + " " +
                        BoundText(b.high) + ")");
    }
  };
  bounds("range", type.Range());
  bounds("cardinality", type.Cardinality());
  bounds("range", type.FuzzyRange());
  if (!type.Units().empty()) {
    clauses.push_back("(units " + UnitsText(type.Units()) + ")");
  }
  auto items = [&](std::initializer_list<TValueConstraint> kinds) {
    std::string text;
    for (TValueConstraint kind : kinds) {
      for (const Ref<IIEValue>& value : type.Allowed(kind)) {
        text += value->ToString() + " ";
      }
    }
    return text;
  };
  const TValueConstraints c = type.Constraints();
  if (c.Includes({vcAtom, vcString, vcInteger, vcFloat})) {
    clauses.push_back("(allowed-values " + items({vcAtom, vcString, vcInteger, vcFloat}) + ")");
  } else {
    // The numbers' clause, then the lexemes': each names both kinds or one.
    auto pair = [&](TValueConstraint a, TValueConstraint b, const char* both, const char* only_a,
                    const char* only_b) {
      if (c.Contains(a) && c.Contains(b)) {
        clauses.push_back(std::string("(") + both + " " + items({a, b}) + ")");
      } else if (c.Contains(a) || c.Contains(b)) {
        const TValueConstraint kind = c.Contains(a) ? a : b;
        clauses.push_back(std::string("(") + (c.Contains(a) ? only_a : only_b) + " " +
                          items({kind}) + ")");
      }
    };
    pair(vcInteger, vcFloat, "allowed-numbers", "allowed-integers", "allowed-floats");
    pair(vcAtom, vcString, "allowed-lexemes", "allowed-symbols", "allowed-strings");
  }
  if (!type.FuzzyTerms().empty()) {
    std::string values = "(values";
    for (const TParsedDefinedType::TFuzzyTerm& term : type.FuzzyTerms()) {
      values += " (term " + term.name + " " + term.value->ToString() + ")";
    }
    clauses.push_back(values + ")");
  }
  return clauses;
}

// The type words of `kinds`: "?VARIABLE" for every single-field kind.
std::string TypeWords(TIETypes kinds) {
  return kinds.Includes(IESlotTypes) ? std::string(STypeVariableKeyword)
                                     : TypesToString(kinds - IEMultiSlotTypes);
}

}  // namespace

std::string KindNamesText(TIETypes types) {
  std::string out;
  types.ForEach([&](TIEType kind) {
    if (!out.empty()) {
      out += ", ";
    }
    for (char c : IETypeName(kind).substr(2)) {
      out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
  });
  return out;
}

// --- the type --------------------------------------------------------------------------------

TParsedDefinedType::TParsedDefinedType(std::string_view name) : name_(name) {}

bool TParsedDefinedType::Implicit() const noexcept { return name_ == SImplicitDefinedType; }

void TParsedDefinedType::AddConstraint(Ref<IIEValue> value) {
  TValueConstraint kind;
  if (!ConstraintOf(value->DType(), kind)) {
    const std::string kind_name(IETypeName(value->DType()).substr(2));
    RaiseIE(SInvalidConstraint, name_.c_str(), kind_name.c_str());
  }
  allowed_[ListIndex(kind)].push_back(std::move(value));
}

void TParsedDefinedType::AddFuzzyTerm(std::string name, Ref<IIEValue> value) {
  fuzzy_terms_.push_back(TFuzzyTerm{std::move(name), std::move(value)});
}

bool TParsedDefinedType::HasClauses() const noexcept {
  return range_.limited || cardinality_.limited || fuzzy_range_.limited || !units_.empty() ||
         !constraints_.Empty() || !fuzzy_terms_.empty();
}

void TParsedDefinedType::SetPrimitiveTypes(TIETypes types) {
  if (Implicit()) {
    base_types_ = types;
  }
}

bool TParsedDefinedType::IsValid(const IIEValue* value) const {
  if (value == nullptr) {
    return true;
  }
  const TIETypes allowed = (base_types_ | IEAlwaysValidTypes) - IEMultiSlotTypes;
  if (value->DType() == TIEType::dtList && value->AsList() != nullptr) {
    for (const Ref<IIEValue>& element : value->AsList()->Values()) {
      if (element && !allowed.Contains(element->DType())) {
        return false;
      }
    }
    return true;
  }
  return allowed.Contains(value->DType());
}

std::string TParsedDefinedType::GetInvalidValueString(const IIEValue& value) const {
  if (IsValid(&value)) {
    return std::string();
  }
  const std::string text = value.ToString();
  const std::string reason =
      FormatMessage(SNotCorrectType, KindNamesText(base_types_ - IEMultiSlotTypes).c_str(),
                    text.c_str(), std::string(IETypeName(value.DType())).c_str());
  return FormatMessage(SInvalidValue, text.c_str(), reason.c_str());
}

Ref<IIEValue> TParsedDefinedType::CreateValidDefault(bool multislot) const {
  using enum TIEType;
  if (multislot) {
    return FCNilList().Clone();
  }
  struct Kind {
    TIEType kind;
    TValueConstraint constraint;
    Ref<IIEValue> (*empty)();
  };
  static const Kind kKinds[] = {
      {dtAtom, TValueConstraint::vcAtom, [] { return TIEValue::Atom(""); }},
      {dtString, TValueConstraint::vcString, [] { return TIEValue::String(""); }},
      {dtInteger, TValueConstraint::vcInteger, [] { return TIEValue::Integer(0); }},
      {dtFloat, TValueConstraint::vcFloat, [] { return TIEValue::Float(0); }},
  };
  for (const Kind& k : kKinds) {
    if (base_types_.Contains(k.kind)) {
      const std::vector<Ref<IIEValue>>& allowed = Allowed(k.constraint);
      return allowed.empty() ? k.empty() : allowed.front()->Clone();
    }
  }
  return Ref<IIEValue>(&FCNil());
}

// --- printing ------------------------------------------------------------------------------------

std::string TParsedDefinedType::OwnTypeText() const {
  if (!Implicit()) {
    return std::string();
  }
  // The named type it refines first, then its own type words and clauses.
  std::string words = Ancestor() != nullptr ? Ancestor()->TypeName() : "";
  const TIETypes own = OwnTypes() - IEMultiSlotTypes;
  if (!own.Includes(IESlotTypes) && !own.Empty()) {
    words += (words.empty() ? "" : " ") + TypesToString(own);
  }
  return (words.empty() ? std::string() : "(type " + words + ") ") + PrettyPrintTypeClauses(*this);
}

std::string PrettyPrintTypeClauses(const TParsedDefinedType& type) {
  std::string out;
  for (const std::string& clause : Clauses(type)) {
    out += clause + " ";
  }
  return out;
}

// deftype := "(deftype " name " " [comment " "] "extends (type " [ancestor] kinds ")"
//            ( line-break indent clause )* ")"
std::string PrettyPrintDefinedType(const TParsedDefinedType& type) {
  std::string out = "(deftype " + type.TypeName() + " ";
  if (!type.Comment().empty()) {
    out += TIEValue::String(type.Comment())->ToString() + " ";
  }
  std::string words = type.Ancestor() != nullptr ? type.Ancestor()->TypeName() : std::string();
  const std::string own = TypeWords(type.OwnTypes());
  if (!own.empty()) {
    words += (words.empty() ? "" : " ") + own;
  }
  out += "extends (type " + words + ")";
  for (const std::string& clause : Clauses(type)) {
    out += std::string(kPrintLineBreak) + std::string(kPrintIndent) + clause;
  }
  return out + ")";
}

std::string PrettyPrintFunction(const TParsedFunction& function) {
  return PrettyPrintDeffunction(function.name, function.parameters, function.comment,
                                function.actions);
}

}  // namespace zephro
