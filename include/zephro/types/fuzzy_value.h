#pragma once

// Fuzzy values as the engine stores them in values and facts.
//
// TIEFuzzyVariable is the variable of a FUZZY defined type: a linguistic
// variable (name, universe of discourse, units, terms) that also carries the
// threshold its values compare against. TIEFuzzySet is a fuzzy value: a
// membership set, usually of one variable, behind IMembershipSet so that a
// TIEValue of kind dtFuzzy can hold it.
//
//   Ref<TIEFuzzyVariable> temp = MakeRef<TIEFuzzyVariable>("temperature");
//   temp->SetUniverse(0, 100, "C");
//   temp->AddTerm("cold", TMembershipSet({{0, 1}, {20, 0}}));
//   Ref<TIEFuzzySet> cold = temp->Term("cold");     // prints "cold"
//   cold->FuzzyEquals(*TIEValue::Float(5))           // 0.75
//
// Equality by degree: FuzzyEquals answers how far a value agrees with the
// set (the largest min(y1, y2) against another set, the membership at a
// number, 0 for anything else); Equals holds when that degree is above the
// variable's threshold (kDefaultFuzzyEqualsThreshold for a set of no
// variable). Sets that do not overlap are never equal.
//
// Text: a set prints the way it was written while it is the set it was
// written as: the fuzzy expression ("very cold"), else the shape
// ("(tri 0.0000 10.0000 20.0000)"), else its points ("((0.0000 1.0000) )").
// Every operation that makes a new set makes one that prints its points.
//
// Thread safety: a set is immutable once shared, but for the scratch degree
// FuzzyEquals leaves (Degree), which belongs to the thread matching with it,
// and the undecidable flag the defuzzifications leave.

#include <string>
#include <string_view>

#include "zephro/fuzzy/linguistic_variable.h"
#include "zephro/fuzzy/membership_set.h"
#include "zephro/platform/ref.h"
#include "zephro/values/interfaces.h"

namespace zephro {

inline constexpr float kDefaultFuzzyEqualsThreshold = 0.01f;

class TIEFuzzySet;

class TIEFuzzyVariable final : public RefCounted, public TLinguisticVariable {
 public:
  explicit TIEFuzzyVariable(std::string_view name) { SetName(name); }

  // The degree above which two values of this variable are equal, in [0, 1].
  float EqualsThreshold() const noexcept { return equals_threshold_; }
  void SetEqualsThreshold(float threshold) noexcept;
  // Whether the universe was written out (printed back) or taken from the terms.
  bool RangeDeclared() const noexcept { return range_declared_; }
  void SetRangeDeclared(bool declared) noexcept { range_declared_ = declared; }

  // A new value holding the set of term `name`, written as the name; null
  // when the variable has no such term.
  Ref<TIEFuzzySet> Term(std::string_view name);
  // A new value of this variable holding `set`.
  Ref<TIEFuzzySet> NewSet(TMembershipSet set = {});
  // True for a word of this variable's expressions: a term or a hedge (a
  // call so named is a parenthesised part of an expression, not a function).
  bool IsExpressionWord(std::string_view word) const {
    return FindTerm(word) != nullptr || IsHedge(word);
  }
  // True when every point of `set` lies in the universe of discourse.
  bool Covers(const TMembershipSet& set) const noexcept;
  // Raises SFuzzyValueOutsideUniverse unless Covers(set).
  void CheckCovers(const TIEFuzzySet& set) const;

 private:
  ~TIEFuzzyVariable() override = default;
  float equals_threshold_ = kDefaultFuzzyEqualsThreshold;
  bool range_declared_ = false;
};

class TIEFuzzySet final : public IMembershipSet, public TMembershipSet {
 public:
  TIEFuzzySet() = default;
  explicit TIEFuzzySet(TMembershipSet set, Ref<TIEFuzzyVariable> variable = {});

  TIEFuzzyVariable* Variable() const noexcept { return variable_.get(); }
  const Ref<TIEFuzzyVariable>& VariableRef() const noexcept { return variable_; }
  void SetVariable(Ref<TIEFuzzyVariable> variable) noexcept { variable_ = std::move(variable); }
  // The text the set was written as (an expression or a shape), printed
  // back instead of its points; empty for a computed set.
  const std::string& Expression() const noexcept { return expression_; }
  void SetExpression(std::string expression) { expression_ = std::move(expression); }
  // Replaces the points; the set is then a computed one.
  void SetPoints(TMembershipSet set);

  // What the last defuzzification of the set found: true when the set has
  // no area and no point above 0 (membership_set.h), and before the set was
  // ever defuzzified. The defuzzifying functions keep it here.
  bool Undecidable() const noexcept { return undecidable_; }
  void SetUndecidable(bool undecidable) const noexcept { undecidable_ = undecidable; }

  // How far `other` agrees with this set, in [0, 1]; also kept as Degree().
  double FuzzyEquals(const IIEValue& other) const;
  double Degree() const noexcept { return degree_; }
  float Threshold() const noexcept;

  // IMembershipSet
  std::string ToString() const override;
  bool Equals(const IIEValue& other) const override;
  bool EqualsStar(const IIEValue& other) const override { return Equals(other); }
  double CrispValue() const override { return Moment(); }
  Ref<IMembershipSet> Clone() const override;
  bool SameSet(const IMembershipSet& other) const override;

  // The same points, variable, text and undecidable flag, as a new value.
  Ref<TIEFuzzySet> Copy() const;

 private:
  ~TIEFuzzySet() override = default;
  Ref<TIEFuzzyVariable> variable_;
  std::string expression_;
  mutable double degree_ = 0;
  mutable bool undecidable_ = true;
};

// The fuzzy set `value` holds (a dtFuzzy value), or null.
TIEFuzzySet* FuzzySetOf(const IIEValue& value) noexcept;

}  // namespace zephro
