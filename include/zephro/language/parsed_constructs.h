#pragma once

// What the parser makes of the two constructs whose engine objects are built
// elsewhere: `deftype` (and a slot's inline type qualifiers) and `deffunction`.
//
// TParsedDefinedType is a defined type as written: base kinds, an ancestor,
// range and cardinality bounds, units, allowed values and, for a fuzzy type,
// the fuzzy variable's clauses. It implements IIEDefinedType so that slots can
// hold it, but it checks only the kinds: a value is valid when its kind (each
// element's kind, for a multifield) is among the base kinds or is one that is
// known only later (a variable, a call). Ranges, cardinalities and allowed
// values are kept, printed and compared, not enforced. It is the seam where the
// full defined type goes: that type takes over the fields below and adds the
// checks; the parser builds its objects through MakeDefinedType and
// NewImplicitType and nothing else names this class.
//
//   (deftype colour "paint" extends (type SYMBOL) (allowed-symbols red green))
//   (slot age (type INTEGER) (range 0 150))     ; an implicit type named "implicit"
//
// TParsedFunction is the record of a `deffunction`: name, comment, parameters
// and actions. The parser hands it to its function maker, which builds the
// interpreted function the engine files.
//
// Ownership: a defined type is counted; slots, templates, the parser's type
// table and other types (as ancestors) hold references. Bounds and allowed
// values are shared values the type owns.
// Thread safety: the reference count is atomic; nothing else is guarded.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zephro/platform/enum_set.h"
#include "zephro/values/interfaces.h"
#include "zephro/values/types.h"

namespace zephro {

using TValueConstraints = EnumSet<TValueConstraint>;

class TParsedDefinedType final : public IIEDefinedType {
 public:
  // A type named `name`; SImplicitDefinedType ("implicit") marks a slot's type.
  explicit TParsedDefinedType(std::string_view name);

  const std::string& TypeName() const noexcept override { return name_; }
  bool Implicit() const noexcept;
  const std::string& Comment() const noexcept { return comment_; }
  void SetComment(std::string_view comment) { comment_ = comment; }
  const std::string& Units() const noexcept { return units_; }
  void SetUnits(std::string_view units) { units_ = units; }
  // The construct's text as the parser read it (tokens separated by blanks).
  const std::string& SourceText() const noexcept { return source_text_; }
  void SetSourceText(std::string text) { source_text_ = std::move(text); }

  // The kinds the type admits; an ancestor's kinds are included.
  TIETypes PrimitiveTypes() const override { return base_types_; }
  void SetBaseTypes(TIETypes types) noexcept { base_types_ = types; }
  // A slot telling its kinds: an implicit type takes them, a named type (shared
  // by every slot and template that names it) keeps its own.
  void SetPrimitiveTypes(TIETypes types) override;
  // The kinds written after "extends (type ...", without the ancestor's.
  TIETypes OwnTypes() const noexcept { return own_types_; }
  void SetOwnTypes(TIETypes types) noexcept { own_types_ = types; }
  IIEDefinedType* Ancestor() const noexcept { return ancestor_.get(); }
  void SetAncestor(Ref<IIEDefinedType> ancestor) { ancestor_ = std::move(ancestor); }

  // Range and cardinality bounds: an integer, a float, a variable or a call;
  // null stands for an open end ("?VARIABLE").
  struct TBounds {
    Ref<IIEValue> low;
    Ref<IIEValue> high;
    bool limited = false;
  };
  const TBounds& Range() const noexcept { return range_; }
  void SetRange(TBounds bounds) { range_ = std::move(bounds); }
  const TBounds& Cardinality() const noexcept { return cardinality_; }
  void SetCardinality(TBounds bounds) { cardinality_ = std::move(bounds); }

  // The allowed-value lists in force, and their values in declaration order.
  TValueConstraints Constraints() const noexcept { return constraints_; }
  void AddConstraintKinds(TValueConstraints kinds) noexcept { constraints_ = constraints_ | kinds; }
  // Appends `value` (an atom, string, integer or float) to the list of its
  // kind. Raises "Defined Type %s cannot contain %s constraint types" for any
  // other kind.
  void AddConstraint(Ref<IIEValue> value);
  const std::vector<Ref<IIEValue>>& Allowed(TValueConstraint kind) const noexcept {
    return allowed_[static_cast<std::size_t>(kind)];
  }

  // The fuzzy variable of a FUZZY type: its universe, units and terms, each
  // term a name with the value that describes its fuzzy set.
  struct TFuzzyTerm {
    std::string name;
    Ref<IIEValue> value;
  };
  const TBounds& FuzzyRange() const noexcept { return fuzzy_range_; }
  void SetFuzzyRange(TBounds bounds) { fuzzy_range_ = std::move(bounds); }
  const std::vector<TFuzzyTerm>& FuzzyTerms() const noexcept { return fuzzy_terms_; }
  void AddFuzzyTerm(std::string name, Ref<IIEValue> value);

  // True when the type says nothing beyond its kinds.
  bool HasClauses() const noexcept;
  // Kind check only; see the top of this file. A multifield is valid when
  // each of its elements is.
  bool IsValid(const IIEValue* value) const override;
  // "Value "<value>" is not valid, Not a <KINDS> type.  Value (<value>) is a
  // <dtKind> type", or "" for a valid value.
  std::string GetInvalidValueString(const IIEValue& value) const override;
  // An empty multifield for a multislot; otherwise the first allowed value of
  // the first base kind that has one, else the empty value of that kind, else
  // nil.
  Ref<IIEValue> CreateValidDefault(bool multislot) const override;
  std::string OwnTypeText() const override;

 private:
  ~TParsedDefinedType() override = default;

  std::string name_;
  std::string comment_;
  std::string units_;
  std::string source_text_;
  TIETypes base_types_;
  TIETypes own_types_;
  Ref<IIEDefinedType> ancestor_;
  TBounds range_;
  TBounds cardinality_;
  TValueConstraints constraints_;
  std::vector<Ref<IIEValue>> allowed_[4];
  TBounds fuzzy_range_;
  std::vector<TFuzzyTerm> fuzzy_terms_;
};

// A deffunction as written.
struct TParsedFunction {
  std::string name;
  std::string comment;
  // dtVariable or dtMultiVariable values holding the parameter names.
  std::vector<Ref<IIEValue>> parameters;
  // Calls (dtFunCall values) and constants, in order.
  std::vector<Ref<IIEValue>> actions;
};

// "ATOM, STRING": the names of `types` without their "dt" prefix, in capitals,
// joined by ", ", as messages about kinds name them.
std::string KindNamesText(TIETypes types);

// "(deftype name "comment" extends (type ancestor KINDS)" and its clauses on
// indented lines, then ")".
std::string PrettyPrintDefinedType(const TParsedDefinedType& type);
// The clauses of a type, each followed by a blank: "(range 0 10) (units kg) ...".
std::string PrettyPrintTypeClauses(const TParsedDefinedType& type);
// "(deffunction name (?a $?b)", the comment and each action on indented lines,
// then ")".
std::string PrettyPrintFunction(const TParsedFunction& function);

}  // namespace zephro
