#pragma once

// TLinguisticVariable: a fuzzy variable, the quantity fuzzy sets are about:
// a name, a universe of discourse (the x range, with its units) and named
// terms, each a fuzzy set over that universe.
//
//   TLinguisticVariable temp("temperature", 0, 100, "C");
//   temp.AddTerm("cold", TMembershipSet({{0, 1}, {20, 0}}));
//   temp.FindTerm("cold")->DegreeOfMembership(10)         // 0.5
//
// Terms keep the order they were added in; adding a term under a name in
// use replaces it. Every change of the terms fires OnChange.
//
// Thread safety: none; a variable is changed from one thread.

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zephro/fuzzy/membership_set.h"

namespace zephro {

class TLinguisticVariable {
 public:
  using TChangeEvent = std::function<void(TLinguisticVariable& sender)>;
  struct TTerm {
    std::string name;
    TMembershipSet set;
    // How the set was written ("(tri 0 10 20)"), printed instead of its
    // points when set.
    std::string text;
  };

  TLinguisticVariable() = default;
  // Raises EBaseException "Invalid low and high limits specified: ..." when
  // `from` is above `to` (or either is not a number).
  TLinguisticVariable(std::string_view name, double from, double to, std::string_view units = {});

  const std::string& Name() const noexcept { return name_; }
  void SetName(std::string_view name) { name_ = name; }
  double From() const noexcept { return from_; }
  double To() const noexcept { return to_; }
  const std::string& Units() const noexcept { return units_; }
  // As the constructor; the variable is unchanged on error.
  void SetUniverse(double from, double to, std::string_view units);
  bool Contains(double x) const noexcept { return x >= from_ && x <= to_; }

  const std::vector<TTerm>& Terms() const noexcept { return terms_; }
  int TermCount() const noexcept { return static_cast<int>(terms_.size()); }
  void AddTerm(std::string_view name, TMembershipSet set, std::string text = {});
  bool RemoveTerm(std::string_view name);
  void ClearTerms();
  // The term's set, or null.
  const TMembershipSet* FindTerm(std::string_view name) const;
  const TTerm* FindTermEntry(std::string_view name) const;
  // Three terms named low, medium and high that split the universe evenly:
  // a falling ramp, a triangle and a rising ramp.
  void AddDefaultTerms();

  // "(range from to) (units u) (values (term name set) ...)" as the fuzzy
  // variable's clauses are written, the numbers "%.4f".
  std::string ToString() const;

  TChangeEvent OnChange;

 private:
  void Changed();
  std::string name_;
  double from_ = 0;
  double to_ = 0;
  std::string units_;
  std::vector<TTerm> terms_;
};

}  // namespace zephro
